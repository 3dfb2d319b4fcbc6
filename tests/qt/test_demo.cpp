// The demo command on a machine where nothing runs: no display, no broker.
// scripts/run.sh starts its own X server, broker, relay stand-in and
// session stand-in, shows the overlay fading, saves screenshots, and after
// --seconds or on Ctrl+C ends everything it started.
#include <dirent.h>
#include <signal.h>
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

// scripts/run.sh on the programs of this build, with no display and no
// broker, in a process group of its own as a terminal's foreground job.
class Demo : public ::testing::Test {
 protected:
  void start(std::vector<std::string> options) {
    std::error_code ignored;
    std::filesystem::remove_all(shots, ignored);
    std::vector<std::string> argv = {"bash", RUN_SCRIPT, "--bin", BIN_DIR, "--screenshots", shots};
    argv.insert(argv.end(), options.begin(), options.end());
    demo.start(argv,
               {{"DISPLAY", ""},
                {"WAYLAND_DISPLAY", ""},
                {"LUMIDROP_DEMO_TEST", std::to_string(getpid())},
                // Read only by programs built with AddressSanitizer.
                {"LSAN_OPTIONS", "suppressions=" LSAN_SUPPRESSIONS}},
               root.file("demo.log"));
  }
  std::string log() const { return fixtures::readFile(root.file("demo.log")); }
  // The opacities the overlay took, as lumidropRemote reports them.
  std::set<int> alphas() const {
    std::set<int> found;
    const std::string text = log();
    const std::regex alpha(R"(\[overlay\] alpha (\d+))");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), alpha); it != std::sregex_iterator(); ++it) {
      found.insert(std::stoi((*it)[1]));
    }
    return found;
  }
  void expectNothingLeftBehind() {
    const std::string tag = "LUMIDROP_DEMO_TEST=" + std::to_string(getpid());
    EXPECT_TRUE(fixtures::waitFor([&] { return processesTagged(tag).empty(); }, 5000))
        << "left behind: " << processesTagged(tag).size() << " processes\n"
        << log();
  }

  fixtures::TempRoot root;
  const std::string shots = ARTEFACT_DIR;
  fixtures::ChildProcess demo;
};

}  // namespace

TEST_F(Demo, RunsTheOverlayFadingUnderItsOwnDisplayAndLeavesNothingBehind) {
  start({"--seconds", "12"});
  int status = -1;
  ASSERT_TRUE(demo.waitExit(90000, &status)) << log();
  const std::string text = log();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text;

  // The overlay took several opacities on the way.
  EXPECT_GE(alphas().size(), 4u) << text;
  EXPECT_NE(text.find("[overlay] top-most"), std::string::npos) << text;
  // Screenshots, and where they are.
  EXPECT_NE(text.find("Screenshots: " + shots), std::string::npos) << text;
  int pngs = 0;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(shots, ignored)) {
    if (entry.path().extension() == ".png" && entry.file_size() > 0) ++pngs;
  }
  EXPECT_GE(pngs, 2) << text;
  // The closing down went as on Exit or a closed window: the overlay
  // cleared on the way out (the volume goes to the sound server, whose
  // road has tests of its own).
  EXPECT_NE(text.rfind("[overlay] alpha 0"), std::string::npos) << text;
  expectNothingLeftBehind();
}

TEST_F(Demo, CtrlCEndsEverythingWithLumidropRemoteClosingDownFirst) {
  start({});
  // Running: the overlay has faded a little.
  ASSERT_TRUE(fixtures::waitFor([&] { return alphas().size() >= 3 || !demo.running(); }, 60000)) << log();
  ASSERT_TRUE(demo.running()) << log();
  // A terminal's Ctrl+C goes to its whole foreground process group.
  ASSERT_EQ(kill(-demo.pid(), SIGINT), 0);
  int status = -1;
  ASSERT_TRUE(demo.waitExit(60000, &status)) << log();
  const std::string text = log();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << text;
  EXPECT_NE(text.find("run.sh: stopping"), std::string::npos) << text;
  // lumidropRemote closed down normally, its display still there: the
  // overlay cleared, no broken X connection, no error status.
  EXPECT_NE(text.rfind("[overlay] alpha 0"), std::string::npos) << text;
  EXPECT_EQ(text.find("X11 connection broke"), std::string::npos) << text;
  EXPECT_EQ(text.find("lumidropRemote ended with status"), std::string::npos) << text;
  expectNothingLeftBehind();
}
