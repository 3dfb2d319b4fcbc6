// lumidropRemote as a process: it finds the library by file name in its
// folder, runs a session, ends on a termination request the way closing
// its window does, and says why when it cannot start.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>

#include "fixtures/child_process.h"
#include "fixtures/pulse_server.h"
#include "fixtures/temp_root.h"

using fixtures::ChildProcess;
using fixtures::pathExists;
using fixtures::readFile;
using fixtures::waitFor;

namespace {

class Program : public fixtures::RootedTest {
 protected:
  std::string folder() const { return root.path(); }
  std::string log() const { return readFile(root.file("output.log")); }
  void installLibrary() const { std::filesystem::copy_file(FAKE_TELVARIS_PATH, root.file("libtelvaris.so")); }
  void start(std::map<std::string, std::string> env = {}) {
    env["LUMIDROP_HOME"] = folder();
    env["FAKE_TELVARIS_CALL_LOG"] = root.file("calls.log");
    // No display: the program writes what it would show.
    env["DISPLAY"] = "";
    env["WAYLAND_DISPLAY"] = "";
    program.start({LUMIDROP_PATH}, env, root.file("output.log"));
  }
  // The exit code once the program ended by itself.
  int exitCode() {
    int status = -1;
    EXPECT_TRUE(program.waitExit(10000, &status)) << log();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  ChildProcess program;
};

}  // namespace

TEST_F(Program, RunsASessionAndClosesDownOnATerminationRequest) {
  installLibrary();
  // The volume goes to a private sound server, which starts low.
  fixtures::PulseServer sound({"speakers"});
  sound.pactl("set-sink-volume speakers 30%");
  start({{"FAKE_TELVARIS_FEEDBACK", "1,1,0,1"}, {"PULSE_SERVER", sound.address()}});
  ASSERT_TRUE(waitFor([&] { return log().find("Reward Percentage is 75.00%") != std::string::npos; }, 10000))
      << log();
  EXPECT_EQ(readFile(root.file("lumidrop.pid")), "Telvaris LumiDrop\r\n");
  const int status = program.stop();
  ASSERT_TRUE(WIFEXITED(status)) << "ended by itself, not by the signal";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(pathExists(root.file("lumidrop.pid")));
  const std::string ini = readFile(root.file("lumidrop.ini"));
  EXPECT_NE(ini.find("CPHeight= 1605\r\n"), std::string::npos) << ini;
  const std::string out = log();
  EXPECT_EQ(sound.volumePercent("speakers"), 100) << "full volume restored on the way out";
  EXPECT_NE(out.rfind("[overlay] alpha 0"), std::string::npos) << "the overlay was unloaded on the way out";
  const std::string calls = readFile(root.file("calls.log"));
  EXPECT_EQ(calls.rfind("ReportVersion\n", 0), 0u) << calls;
  EXPECT_EQ(calls.find("unsubscribe"), std::string::npos) << "closing down is not Exit";
}

TEST_F(Program, LegacyAudioLeavesTheEndpointVolumeForTheMixer) {
  installLibrary();
  // A sound server answers, but the program is told to behave as on an
  // older system: the mixer is its only road (ALSA's default control, made
  // here one that does not exist), and the sink's volume stays as it was.
  fixtures::PulseServer sound({"speakers"});
  sound.pactl("set-sink-volume speakers 30%");
  fixtures::writeFile(root.file("alsa.conf"), "ctl.!default { type hw card 31 }\n");
  start({{"FAKE_TELVARIS_FEEDBACK", "1,1,0,1"},
         {"PULSE_SERVER", sound.address()},
         {"ALSA_CONFIG_PATH", root.file("alsa.conf")},
         {"LUMIDROP_LEGACY_AUDIO", "1"}});
  ASSERT_TRUE(waitFor([&] { return log().find("Reward Percentage is 75.00%") != std::string::npos; }, 10000))
      << log();
  const int status = program.stop();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(sound.volumePercent("speakers"), 30);
}

TEST_F(Program, WithoutTheLibraryItSaysSoAndEnds) {
  start();
  EXPECT_EQ(exitCode(), 1);
  EXPECT_NE(log().find("cannot load the telvaris library"), std::string::npos) << log();
  EXPECT_FALSE(pathExists(root.file("lumidrop.pid")));
  EXPECT_FALSE(pathExists(root.file("lumidrop.ini")));
}

TEST_F(Program, ARefusedSubscriptionEndsItWithTheCode) {
  installLibrary();
  start({{"FAKE_TELVARIS_SUBSCRIBE_RC", "3"}});
  EXPECT_EQ(exitCode(), 1);
  EXPECT_NE(log().find("ERROR: Connection failure to remote server rc=3"), std::string::npos) << log();
  EXPECT_FALSE(pathExists(root.file("lumidrop.pid")));
  EXPECT_FALSE(pathExists(root.file("lumidrop.ini")));
}

TEST_F(Program, AnUnansweredMarkerQuestionCountsAsNo) {
  installLibrary();
  fixtures::writeFile(root.file("lumidrop.pid"), "other\n");
  start();
  EXPECT_EQ(exitCode(), 0);
  EXPECT_NE(log().find("There could be another LumiDrop program running."), std::string::npos) << log();
  EXPECT_EQ(readFile(root.file("lumidrop.pid")), "other\n");
  EXPECT_FALSE(pathExists(root.file("lumidrop.ini")));
}
