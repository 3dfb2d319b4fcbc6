// The demo command on a machine where nothing runs: no display, no broker.
// scripts/run.sh starts its own X server, broker, relay stand-in and
// session stand-in, shows the overlay fading, saves screenshots, and after
// --seconds ends everything it started.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <set>
#include <string>

#include "fixtures/child_process.h"
#include "fixtures/temp_root.h"

namespace {

// Processes whose environment holds `tag` (everything run.sh started
// inherits it, whatever process group it put it in).
std::vector<int> processesTagged(const std::string& tag) {
  std::vector<int> found;
  DIR* proc = opendir("/proc");
  if (!proc) return found;
  while (dirent* entry = readdir(proc)) {
    const std::string name = entry->d_name;
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string environ = fixtures::readFile("/proc/" + name + "/environ");
    if (environ.find(tag) != std::string::npos && std::stoi(name) != getpid()) found.push_back(std::stoi(name));
  }
  closedir(proc);
  return found;
}

}  // namespace

TEST(Demo, RunsTheOverlayFadingUnderItsOwnDisplayAndLeavesNothingBehind) {
  fixtures::TempRoot root;
  const std::string tag = "LUMIDROP_DEMO_TEST=" + std::to_string(getpid());
  const std::string shots = ARTEFACT_DIR;
  std::error_code ignored;
  std::filesystem::remove_all(shots, ignored);
  fixtures::ChildProcess demo;
  demo.start({"bash", RUN_SCRIPT, "--seconds", "12", "--bin", BIN_DIR, "--screenshots", shots},
             {{"DISPLAY", ""},
              {"WAYLAND_DISPLAY", ""},
              {"LUMIDROP_DEMO_TEST", std::to_string(getpid())},
              // Read only by programs built with AddressSanitizer.
              {"LSAN_OPTIONS", "suppressions=" LSAN_SUPPRESSIONS}},
             root.file("demo.log"));
  int status = -1;
  ASSERT_TRUE(demo.waitExit(90000, &status)) << fixtures::readFile(root.file("demo.log"));
  const std::string log = fixtures::readFile(root.file("demo.log"));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << log;

  // The overlay took several opacities on the way.
  std::set<int> alphas;
  const std::regex alpha(R"(\[overlay\] alpha (\d+))");
  for (auto it = std::sregex_iterator(log.begin(), log.end(), alpha); it != std::sregex_iterator(); ++it) {
    alphas.insert(std::stoi((*it)[1]));
  }
  EXPECT_GE(alphas.size(), 4u) << log;
  EXPECT_NE(log.find("[overlay] top-most"), std::string::npos) << log;
  // Screenshots, and where they are.
  EXPECT_NE(log.find("Screenshots: " + shots), std::string::npos) << log;
  int pngs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(shots, ignored)) {
    if (entry.path().extension() == ".png" && entry.file_size() > 0) ++pngs;
  }
  EXPECT_GE(pngs, 2) << log;
  // The closing down went as on Exit or a closed window: the overlay
  // cleared on the way out (the volume goes to the sound server, whose
  // road has tests of its own).
  EXPECT_NE(log.rfind("[overlay] alpha 0"), std::string::npos) << log;

  EXPECT_TRUE(fixtures::waitFor([&] { return processesTagged(tag).empty(); }, 5000))
      << "left behind: " << processesTagged(tag).size() << " processes\n"
      << log;
}
