// lumidropRemote as a process: it finds the library by file name in its
// folder, runs a session, ends on a termination request the way closing
// its window does (also while it waits in a question or a connection
// attempt), gives the volume back when it is killed outright, leaves a
// running copy's link alone, and says why when it cannot start.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "fixtures/child_process.h"
#include "fixtures/mosquitto_broker.h"
#include "fixtures/pulse_server.h"
#include "fixtures/temp_root.h"
#include "platform/clock.h"

using fixtures::ChildProcess;
using fixtures::pathExists;
using fixtures::readFile;
using fixtures::waitFor;

namespace {

constexpr const char* kTopic = "/pelorvantis/trainee@example.org/feedback";
constexpr const char* kClient = "C1-trainee@example.org";

class Program : public fixtures::RootedTest {
 protected:
  std::string folder() const { return root.path(); }
  std::string log() const { return readFile(root.file("output.log")); }
  void installLibrary() const { std::filesystem::copy_file(FAKE_TELVARIS_PATH, root.file("libtelvaris.so")); }
  void installRealLibrary() const {
    std::filesystem::create_symlink(std::string(TELVARIS_BIN_DIR) + "/libtelvaris.so", root.file("libtelvaris.so"));
  }
  // Settings that point the link at 127.0.0.1:port, with remote.conf present
  // so that no first-run defaults replace them.
  void writeLinkSettings(int port, const std::string& general = "") const {
    fixtures::writeFile(root.file("remote.conf"), "PORT=1883\r\n");
    fixtures::writeFile(root.file("lumidrop.ini"),
                        "[General]\r\n" + general + "[MQTT]\r\nServerAddress=\"tcp://127.0.0.1\"\r\nServerPortNumber=" +
                            std::to_string(port) + "\r\nSubscriberTopic=\"" + kTopic + "\"\r\nClientID=\"" + kClient +
                            "\"\r\n");
  }
  std::map<std::string, std::string> environment(std::map<std::string, std::string> env = {}) const {
    env["LUMIDROP_HOME"] = folder();
    env["FAKE_TELVARIS_CALL_LOG"] = root.file("calls.log");
    // No display: the program writes what it would show.
    env["DISPLAY"] = "";
    env["WAYLAND_DISPLAY"] = "";
    return env;
  }
  void start(std::map<std::string, std::string> env = {}) {
    program.start({LUMIDROP_PATH}, environment(std::move(env)), root.file("output.log"));
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

TEST_F(Program, HelpAndVersionSayWhereTheSettingsAreAndOtherArgumentsAreRefused) {
  for (const char* option : {"--help", "--version"}) {
    std::filesystem::remove(root.file("output.log"));
    program.start({LUMIDROP_PATH, option}, environment(), root.file("output.log"));
    EXPECT_EQ(exitCode(), 0) << option;
    EXPECT_NE(log().find(folder() + "/lumidrop.ini"), std::string::npos) << option << ": " << log();
    EXPECT_NE(log().find("LUMIDROP_HOME"), std::string::npos) << option << ": " << log();
    EXPECT_NE(log().find("lumidropRemote 1.0.0"), std::string::npos) << option << ": " << log();
  }
  program.start({LUMIDROP_PATH, "--settings"}, environment(), root.file("output.log"));
  EXPECT_EQ(exitCode(), 2);
  EXPECT_FALSE(pathExists(root.file("lumidrop.ini")));
  EXPECT_FALSE(pathExists(root.file("remote.conf")));
}

// The marker question comes before the link: a second copy answered No
// never connects with the running copy's client identity, which the broker
// would otherwise hand over to it.
TEST_F(Program, ASecondCopyAnsweredNoLeavesTheRunningCopysLinkAlone) {
  fixtures::MosquittoBroker broker;
  installRealLibrary();
  writeLinkSettings(broker.port());
  start();
  ASSERT_TRUE(broker.waitForSubscription(kClient)) << log() << broker.log();

  ChildProcess second;
  second.start({LUMIDROP_PATH}, environment(), root.file("second.log"));
  int status = -1;
  ASSERT_TRUE(second.waitExit(15000, &status)) << readFile(root.file("second.log"));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_NE(readFile(root.file("second.log")).find("There could be another LumiDrop program running."),
            std::string::npos);

  ASSERT_TRUE(fixtures::publishFromOutside(broker, kTopic, R"({"feedback":"reward"})"));
  EXPECT_TRUE(waitFor([&] { return log().find("Reward Percentage is 100.00%") != std::string::npos; }, 10000))
      << "the running copy no longer hears its feedback\n"
      << log();
  EXPECT_EQ(broker.log().find("already connected"), std::string::npos) << broker.log();
  EXPECT_EQ(readFile(root.file("lumidrop.pid")), "Telvaris LumiDrop\r\n");
}

// A broker that takes the connection and never answers keeps the attempt
// waiting for the library's connect time-out.
TEST_F(Program, ATerminationDuringTheConnectionAttemptEndsItAsARefusedLinkDoes) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  installRealLibrary();
  writeLinkSettings(ntohs(address.sin_port));
  const std::string iniBefore = readFile(root.file("lumidrop.ini"));

  start();
  int connection = -1;
  ASSERT_TRUE(waitFor([&] { return (connection = accept(listener, nullptr, nullptr)) >= 0; }, 10000)) << log();
  EXPECT_TRUE(pathExists(root.file("lumidrop.pid"))) << "the guard runs before the link";
  ASSERT_EQ(kill(program.pid(), SIGTERM), 0);
  int status = -1;
  EXPECT_TRUE(program.waitExit(5000, &status)) << "the request waited for the connection attempt";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_FALSE(pathExists(root.file("lumidrop.pid"))) << "the marker this start wrote stays behind";
  EXPECT_EQ(readFile(root.file("lumidrop.ini")), iniBefore);
  close(connection);
  close(listener);
}

TEST_F(Program, ATerminationWhileTheMarkerQuestionWaitsAnswersItNo) {
  installLibrary();
  writeLinkSettings(1883);
  const std::string iniBefore = readFile(root.file("lumidrop.ini"));
  fixtures::writeFile(root.file("lumidrop.pid"), "other\n");
  // An answer that never comes: a pipe held open by the test.
  ASSERT_EQ(mkfifo(root.file("answer").c_str(), 0600), 0);
  const int answer = open(root.file("answer").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(answer, 0);
  program.readFrom(root.file("answer"));
  start();
  ASSERT_TRUE(waitFor([&] { return log().find("Do you wish to continue?") != std::string::npos; }, 10000)) << log();
  ASSERT_EQ(kill(program.pid(), SIGTERM), 0);
  int status = -1;
  EXPECT_TRUE(program.waitExit(5000, &status)) << "the request waited for the answer";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(readFile(root.file("lumidrop.pid")), "other\n");
  EXPECT_EQ(readFile(root.file("lumidrop.ini")), iniBefore);
  EXPECT_EQ(readFile(root.file("calls.log")), "ReportVersion\n") << "no link was opened";
  close(answer);
}

// Killed outright, the program cannot close down; the volume still goes
// back where closing down would put it (Maximum Volume), within seconds
// and without a new start. With audio off it is left alone.
TEST_F(Program, AfterAKillTheVolumeIsGivenBackAsClosingDownWouldWithoutARestart) {
  installLibrary();
  fixtures::PulseServer sound({"speakers"});
  // The fixed response: a reward gives Maximum Volume, an inhibit MinimumVolume.
  writeLinkSettings(1883, "AutoFade=0\r\nVolumeInhibit=30\r\nVolumeMaximum=80\r\n");
  start({{"FAKE_TELVARIS_FEEDBACK", "1,0"}, {"PULSE_SERVER", sound.address()}});
  ASSERT_TRUE(waitFor([&] { return log().find("Reward Percentage is 50.00%") != std::string::npos; }, 10000))
      << log();
  ASSERT_TRUE(waitFor([&] { return sound.volumePercent("speakers") == 30; }, 5000));
  ASSERT_EQ(kill(program.pid(), SIGKILL), 0);
  EXPECT_TRUE(waitFor([&] { return sound.volumePercent("speakers") == 80; }, 5000))
      << "left at " << sound.volumePercent("speakers") << " %";
  EXPECT_NE(log().find("system volume set back to 80 %"), std::string::npos) << log();
  program.waitExit(1000);

  sound.pactl("set-sink-volume speakers 45%");
  writeLinkSettings(1883, "AudioActive=0\r\n");
  start({{"FAKE_TELVARIS_FEEDBACK", "1,0"}, {"PULSE_SERVER", sound.address()}});
  ASSERT_TRUE(waitFor([&] { return log().find("Reward Percentage is 50.00%") != std::string::npos; }, 10000))
      << log();
  ASSERT_EQ(kill(program.pid(), SIGKILL), 0);
  const uint32_t killed = platform::tickMs();
  waitFor([&] { return platform::tickMs() - killed >= 1500; }, 3000);
  EXPECT_EQ(sound.volumePercent("speakers"), 45);
}
