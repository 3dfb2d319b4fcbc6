// A process that saves a session file over and over, for the test that
// kills it in the middle of a save:
//   session_saver PATH MEBIBYTES
// writes PATH with the library's session-file writer (the save step of
// TerminateDSU), its contents alternating between two patterns of the given
// size, and says "saving N" before and "saved N" after each save. Until
// killed.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "dsu/recording.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const size_t size = static_cast<size_t>(std::atoi(argv[2])) << 20;
  std::vector<uint8_t> patterns[2] = {std::vector<uint8_t>(size), std::vector<uint8_t>(size)};
  for (size_t i = 0; i < size; ++i) {
    patterns[0][i] = static_cast<uint8_t>(i % 251);
    patterns[1][i] = static_cast<uint8_t>(255 - i % 253);
  }
  for (unsigned long n = 1;; ++n) {
    std::printf("saving %lu\n", n);
    std::fflush(stdout);
    const std::vector<uint8_t>& bytes = patterns[n % 2];
    if (!dsu::writeSessionFile(bytes.data(), bytes.size(), argv[1])) return 1;
    std::printf("saved %lu\n", n);
    std::fflush(stdout);
  }
}
