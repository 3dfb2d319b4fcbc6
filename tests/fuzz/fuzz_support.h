// What the fuzz targets share: a scratch folder for the targets whose parser
// reads a file (in memory-backed /dev/shm where there is one, so that a file
// an execution costs no disk), and a check that ends the run as a crash.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace fuzzsupport {

// A file of this process's scratch folder; the folder goes at exit.
inline std::string scratchFile(const std::string& name) {
  static const std::string folder = [] {
    const char* shm = "/dev/shm";
    std::string pattern =
        (std::filesystem::is_directory(shm) ? std::string(shm) : std::filesystem::temp_directory_path().string()) +
        "/telvaris-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    static std::string removeAtExit;
    removeAtExit = pattern;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(removeAtExit, ignored);
    });
    return pattern;
  }();
  return folder + "/" + name;
}

inline void writeFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) std::abort();
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A property every input must keep; a broken one is reported as a crash,
// with the input saved by libFuzzer.
inline void require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz property broken: %s\n", what);
  std::abort();
}

}  // namespace fuzzsupport
