// A session file being saved when its process is killed (SIGKILL, no
// chance to tidy up): the file is afterwards either the old one or the new
// one, whole, never a mix or a stump. session_saver is the process.
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fixtures/child_process.h"
#include "fixtures/temp_root.h"

namespace {

constexpr int kMebibytes = 32;

// Which of the saver's two patterns `bytes` is: 0 or 1, or -1 for neither.
int patternOf(const std::string& bytes) {
  const size_t size = static_cast<size_t>(kMebibytes) << 20;
  if (bytes.size() != size) return -1;
  bool first = true, second = true;
  for (size_t i = 0; i < size && (first || second); ++i) {
    const auto b = static_cast<uint8_t>(bytes[i]);
    first = first && b == i % 251;
    second = second && b == 255 - i % 253;
  }
  return first ? 0 : second ? 1 : -1;
}

TEST(SessionSave, AProcessKilledWhileSavingLeavesTheOldFileOrTheNewOne) {
  fixtures::TempRoot root;
  const std::string path = root.file("session.raw");
  const std::string said = root.file("saver.out");
  for (int round = 1; round <= 5; ++round) {
    fixtures::ChildProcess saver;
    saver.start({SESSION_SAVER_PATH, path, std::to_string(kMebibytes)}, {}, said);
    // Killed as the next save (after the first, which may be the file's
    // first one) has just begun.
    const std::string waitFor = "saving " + std::to_string(1 + round) + "\n";
    ASSERT_TRUE(fixtures::waitFor([&] { return fixtures::readFile(said).find(waitFor) != std::string::npos; }, 30000));
    ::kill(saver.pid(), SIGKILL);
    int status = 0;
    ASSERT_TRUE(saver.waitExit(10000, &status));
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_GE(patternOf(fixtures::readFile(path)), 0) << "round " << round << ": the file is a mix";
    std::filesystem::remove(said);
  }
  // A save cut short leaves its temporary file beside the session file.
  int killedMidSave = 0;
  for (const auto& entry : std::filesystem::directory_iterator(root.path())) {
    if (entry.path().filename().string().rfind("session.raw.", 0) == 0) ++killedMidSave;
  }
  EXPECT_GT(killedMidSave, 0) << "no kill came in the middle of a save";
}

}  // namespace
