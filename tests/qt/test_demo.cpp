// The demo command on a machine where nothing runs: no display, no broker.
// scripts/run.sh starts its own X server, broker, relay stand-in and
// session stand-in, shows the overlay fading over a picture, saves
// screenshots at clearly different opacities, says in a short summary what
// it saw, and after --seconds or on Ctrl+C ends everything it started. A
// build that fails shows the compiler's error.
#include <dirent.h>
#include <signal.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
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
  // Each test keeps its screenshots in a folder of its own.
  void start(const std::string& shotsFolder, std::vector<std::string> options) {
    shots = shotsFolder;
    std::error_code ignored;
    std::filesystem::remove_all(shots, ignored);
    std::vector<std::string> argv = {"bash", RUN_SCRIPT, "--bin", BIN_DIR, "--screenshots", shots};
    argv.insert(argv.end(), options.begin(), options.end());
    std::filesystem::create_directories(root.file("home"));
    demo.start(argv,
               {{"DISPLAY", ""},
                {"HOME", root.file("home")},
                {"TELVARIS_ROOT", ""},  // as for a user who never set it
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
  std::string shots;
  fixtures::ChildProcess demo;
};

}  // namespace

// The first number after `key` in `text`, or -1.
int numberAfter(const std::string& text, const std::string& key) {
  const size_t at = text.find(key);
  if (at == std::string::npos) return -1;
  return std::atoi(text.c_str() + at + key.size());
}

TEST_F(Demo, RunsTheOverlayFadingQuietlyAndSaysWhatItSaw) {
  // Long enough for one burst of the simulated signal (rewards: clear) and
  // the quiet after it (inhibits: dark).
  start(ARTEFACT_DIR, {"--seconds", "24"});
  int status = -1;
  ASSERT_TRUE(demo.waitExit(90000, &status)) << log();
  const std::string text = log();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text;

  // Quiet: no stream of opacities, a few lines in all.
  EXPECT_EQ(text.find("[overlay]"), std::string::npos) << text;
  EXPECT_LT(std::count(text.begin(), text.end(), '\n'), 30) << text;
  // The summary: decisions, the overlay's opacities, what was stopped.
  EXPECT_GT(numberAfter(text, "decisions relayed to lumidropRemote: "), 20) << text;
  EXPECT_GE(numberAfter(text, "overlay opacity: "), 4) << text;
  EXPECT_NE(text.find("at the end 0 (cleared on closing down)"), std::string::npos) << text;
  EXPECT_NE(text.find("nothing left running"), std::string::npos) << text;
  EXPECT_FALSE(fixtures::pathExists(root.file("home/.local/share/telvaris"))) << "the demo has a root of its own";

  // Screenshots, where they are, and at clearly different opacities.
  EXPECT_NE(text.find("Screenshots: " + shots), std::string::npos) << text;
  EXPECT_NE(text.find("screenshots in " + shots), std::string::npos) << text;
  int pngs = 0;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(shots, ignored)) {
    if (entry.path().extension() == ".png" && entry.file_size() > 0) ++pngs;
  }
  EXPECT_GE(pngs, 2) << text;
  std::vector<int> shotAlphas;
  const std::regex listed(R"(lumidrop-\d+-\w+\.png  overlay alpha (\d+) of 255)");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), listed); it != std::sregex_iterator(); ++it) {
    shotAlphas.push_back(std::stoi((*it)[1]));
  }
  ASSERT_GE(shotAlphas.size(), 2u) << text;
  EXPECT_GE(*std::max_element(shotAlphas.begin(), shotAlphas.end()) -
                *std::min_element(shotAlphas.begin(), shotAlphas.end()),
            50)
      << text;
  expectNothingLeftBehind();
}

TEST_F(Demo, CtrlCEndsEverythingWithLumidropRemoteClosingDownFirst) {
  start(std::string(ARTEFACT_DIR) + "-ctrl-c", {"--verbose"});
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

// A fresh clone whose code does not compile: the script says so with the
// compiler's own words and where the whole log is, and ends with status 1.
TEST_F(Demo, ABrokenBuildShowsTheCompilersError) {
  const std::string tree = root.file("tree");
  std::filesystem::create_directories(tree + "/scripts");
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(RUN_SCRIPT).parent_path())) {
    std::filesystem::copy_file(entry.path(), tree + "/scripts/" + entry.path().filename().string());
  }
  fixtures::writeFile(tree + "/CMakeLists.txt",
                      "cmake_minimum_required(VERSION 3.25)\nproject(broken CXX)\nadd_executable(broken broken.cpp)\n");
  fixtures::writeFile(tree + "/broken.cpp", "int main() { return no_such_name; }\n");
  demo.start({"bash", tree + "/scripts/run.sh", "--seconds", "1"}, {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}},
             root.file("demo.log"));
  int status = -1;
  ASSERT_TRUE(demo.waitExit(120000, &status)) << log();
  const std::string text = log();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << text;
  EXPECT_NE(text.find("configuring"), std::string::npos) << text;
  EXPECT_NE(text.find("run.sh: the build failed"), std::string::npos) << text;
  EXPECT_NE(text.find("no_such_name"), std::string::npos) << text;
  EXPECT_NE(text.find("was not declared in this scope"), std::string::npos) << text;
  EXPECT_NE(text.find("the whole build log is " + tree + "/build-release/build.log"), std::string::npos) << text;
}

// --help prints the usage, all of it and nothing else, and starts nothing.
TEST_F(Demo, TheScriptsSayHowToUseThem) {
  const std::string scripts = std::filesystem::path(RUN_SCRIPT).parent_path().string();
  for (const std::string script : {"run.sh", "test.sh", "build.sh"}) {
    fixtures::ChildProcess help;
    const std::string out = root.file(script + ".help");
    help.start({"bash", scripts + "/" + script, "--help"}, {}, out);
    int status = -1;
    ASSERT_TRUE(help.waitExit(10000, &status)) << script << " did more than print its usage";
    const std::string text = fixtures::readFile(out);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << script << "\n" << text;
    EXPECT_NE(text.find(script), std::string::npos) << text;
    EXPECT_EQ(text.find("set -euo"), std::string::npos) << script << " printed a line of its script:\n" << text;
    EXPECT_EQ(text.find("==="), std::string::npos) << script << " started working:\n" << text;
  }
  EXPECT_NE(fixtures::readFile(root.file("run.sh.help")).find("-h, --help         show this text\n"),
            std::string::npos);
}
