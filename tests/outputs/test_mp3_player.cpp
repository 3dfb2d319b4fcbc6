// The MP3 player: the MCI strings each sequence of exports sends, caught by
// a recording media device, with the debug log's lines; and the real road,
// GStreamer playing an MP3 made by lame to a private sound server, whose
// sink's monitor is heard while it plays, loops and is muted.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <mutex>
#include <numbers>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/pulse_server.h"
#include "fixtures/temp_root.h"
#include "outputs/mp3_player.h"
#include "platform/mci.h"
#include "sound_level.h"
#include "telvaris.h"

namespace {

namespace mp3 = outputs::mp3;

// Keeps every string; one string can be held (the player stays inside its
// send) until the test lets it go.
class RecordingMci : public platform::Mci {
 public:
  bool sendString(const char* command) override {
    std::unique_lock<std::mutex> hold(lock_);
    strings_.push_back(command);
    changed_.notify_all();
    if (!holdAt_.empty() && holdAt_ == command) {
      held_ = true;
      changed_.notify_all();
      changed_.wait(hold, [this] { return holdAt_.empty(); });
    }
    return true;
  }
  platform::MciStatus status(const char*) override { return {}; }

  std::vector<std::string> strings() {
    std::lock_guard<std::mutex> hold(lock_);
    return strings_;
  }
  // True once `count` strings have come.
  bool waitCount(size_t count) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::seconds(10), [&] { return strings_.size() >= count; });
  }
  void holdAt(const std::string& command) {
    std::lock_guard<std::mutex> hold(lock_);
    holdAt_ = command;
    held_ = false;
  }
  bool waitHeld() {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::seconds(10), [this] { return held_; });
  }
  void release() {
    std::lock_guard<std::mutex> hold(lock_);
    holdAt_.clear();
    changed_.notify_all();
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::string> strings_;
  std::string holdAt_;
  bool held_ = false;
};

class Mp3Strings : public fixtures::RootedTest {
 protected:
  void SetUp() override {
    mp3::useMci(mci);
    ASSERT_EQ(SetDebugMode(0, 1, root.file("debug.log").c_str()), TLV_LOG_OK);
  }
  void TearDown() override {
    mci->release();
    if (mp3::playerRunning()) terminateMP3();
    mp3::useMci(nullptr);
    SetDebugMode(0, 0, nullptr);
  }
  // The "Audio: " lines of the debug log, without their time stamps.
  std::vector<std::string> audioLines() {
    std::vector<std::string> out;
    std::istringstream in(fixtures::readFile(root.file("debug.log")));
    const std::regex line(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] - (Audio: .*))");
    std::smatch m;
    for (std::string text; std::getline(in, text);)
      if (std::regex_match(text, m, line)) out.push_back(m[1]);
    return out;
  }

  std::shared_ptr<RecordingMci> mci = std::make_shared<RecordingMci>();
};

using Strings = std::vector<std::string>;

TEST_F(Mp3Strings, EachCommandSendsItsStringsOnceAndTerminateClosesAfterThePlayerEnded) {
  const std::string path = "/music/feedback track.mp3";
  ASSERT_EQ(InitialiseMP3(path.c_str()), TLV_MP3_OK);
  ASSERT_TRUE(mci->waitCount(1));
  EXPECT_EQ(mci->strings(), Strings({"pause myFile"})) << "a new player starts paused";
  // Waiting for a command costs the player nothing: this process's CPU
  // time over half a second stays far below what a thread reading the word
  // in a loop would take (all of it, or its share of a loaded machine).
  const std::clock_t before = std::clock();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_LT(1000.0 * static_cast<double>(std::clock() - before) / CLOCKS_PER_SEC, 100.0);

  // Each command is waited for (a later one would overwrite it unseen).
  openMP3();
  ASSERT_TRUE(mci->waitCount(3));
  playMP3();
  ASSERT_TRUE(mci->waitCount(4));
  // A second play sets the command the first one set: nothing new to do.
  playMP3();
  muteMP3();
  ASSERT_TRUE(mci->waitCount(6)) << ::testing::PrintToString(mci->strings());
  playMP3();
  ASSERT_TRUE(mci->waitCount(8));
  EXPECT_EQ(terminateMP3(), TLV_MP3_OK);
  EXPECT_FALSE(mp3::playerRunning()) << "terminateMP3 returns once the player has ended";
  EXPECT_EQ(mci->strings(),
            Strings({"pause myFile", "open /music/feedback track.mp3 type mpegvideo alias myFile", "play MyFile repeat",
                     "play MyFile repeat", "setaudio myFile volume to 0", "pause myFile", "resume myFile",
                     "setaudio myFile volume to 1000", "setaudio myFile volume to 0", "pause myFile", "close myFile"}));

  auto lines = audioLines();
  // The player's last line and terminateMP3's own come in either order.
  const auto exiting = std::find(lines.begin(), lines.end(), "Audio: Exiting thread");
  ASSERT_NE(exiting, lines.end());
  lines.erase(exiting);
  EXPECT_EQ(lines, Strings({"Audio: Thread created", "Audio: Open MP3", "Audio: Opening /music/feedback track.mp3",
                            "Audio: Play MP3", "Audio: Play MP3", "Audio: Mute MP3", "Audio: Play (unmute) MP3",
                            "Audio: Mute MP3", "Audio: Terminate MP3", "Audio: Closing /music/feedback track.mp3"}));
}

TEST_F(Mp3Strings, OnlyTheLatestCommandCountsAndOnePlayerRunsAtATime) {
  // The player is held inside its first string while commands pile up.
  mci->holdAt("pause myFile");
  ASSERT_EQ(InitialiseMP3("first.mp3"), TLV_MP3_OK);
  ASSERT_TRUE(mci->waitHeld());
  EXPECT_EQ(InitialiseMP3("second.mp3"), TLV_MP3_OK) << "a running player is left as it is";
  muteMP3();
  openMP3();
  mci->release();
  ASSERT_TRUE(mci->waitCount(3));
  terminateMP3();
  // The mute was overwritten before the player saw it; the second
  // InitialiseMP3 started no player (it would have sent a pause of its
  // own) and kept the first file.
  EXPECT_EQ(mci->strings(), Strings({"pause myFile", "open first.mp3 type mpegvideo alias myFile", "play MyFile repeat",
                                     "setaudio myFile volume to 0", "pause myFile", "close myFile"}));
  const auto lines = audioLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Audio: Player already running"), 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Audio: Thread created"), 1);

  // With no player, terminate still closes; a new player after it starts
  // paused, and carries out what follows.
  terminateMP3();
  EXPECT_EQ(mci->strings().back(), "close myFile");
  ASSERT_EQ(InitialiseMP3("third.mp3"), TLV_MP3_OK);
  ASSERT_TRUE(mci->waitCount(8));
  openMP3();
  ASSERT_TRUE(mci->waitCount(10)) << ::testing::PrintToString(mci->strings());
  const Strings all = mci->strings();
  EXPECT_EQ(Strings(all.begin() + 7, all.end()),
            Strings({"pause myFile", "open third.mp3 type mpegvideo alias myFile", "play MyFile repeat"}));
  terminateMP3();

  // Paths the player cannot hold: refused, nothing started.
  EXPECT_EQ(InitialiseMP3(nullptr), TLV_MP3_BAD_PATH);
  EXPECT_EQ(InitialiseMP3(std::string(512, 'a').c_str()), TLV_MP3_BAD_PATH);
  EXPECT_FALSE(mp3::playerRunning());
}

// A second of a 440 Hz tone at half scale as an MP3, made by lame.
std::string makeMp3(const fixtures::TempRoot& root, double seconds) {
  const std::string raw = root.file("tone.raw"), mp3File = root.file("tone.mp3");
  std::ofstream out(raw, std::ios::binary);
  for (int i = 0; i < static_cast<int>(seconds * 44100); ++i) {
    const auto s = static_cast<int16_t>(16384 * std::sin(2 * std::numbers::pi * 440 * i / 44100.0));
    out.write(reinterpret_cast<const char*>(&s), 2);
  }
  out.close();
  const std::string command =
      "lame --quiet -r -s 44.1 --bitwidth 16 --signed --little-endian -m m '" + raw + "' '" + mp3File + "' 2>/dev/null";
  return std::system(command.c_str()) == 0 ? mp3File : "";
}

using State = platform::MciStatus::State;

bool reaches(platform::Mci& mci, State state, int volume) {
  return fixtures::waitFor(
      [&] {
        const auto s = mci.status("myFile");
        return s.open && s.state == state && s.pending == State::kNull && s.volume == volume;
      },
      10000);
}

TEST(Mp3Player, LoopsMutesAndPlaysOnOnTheSoundServer) {
  fixtures::TempRoot root;
  const std::string file = makeMp3(root, 0.8);
  ASSERT_FALSE(file.empty()) << "lame could not make the MP3";
  fixtures::writeFile(root.file("notes.txt"), "not music\n");
  fixtures::PulseServer pulse({"music"});
  pulse.useFromThisProcess();
  std::shared_ptr<platform::Mci> mci = platform::makeMci();
  mp3::useMci(mci);

  // Errors change nothing: no such file, a file that is no music, a
  // command for an alias not open, a command not known.
  EXPECT_FALSE(mci->sendString(("open " + root.file("none.mp3") + " type mpegvideo alias myFile").c_str()));
  EXPECT_FALSE(mci->sendString(("open " + root.file("notes.txt") + " type mpegvideo alias myFile").c_str()));
  EXPECT_FALSE(mci->sendString("pause myFile"));
  EXPECT_FALSE(mci->status("myFile").open);

  ASSERT_EQ(InitialiseMP3(file.c_str()), TLV_MP3_OK);
  openMP3();
  ASSERT_TRUE(reaches(*mci, State::kPlaying, 1000));
  EXPECT_FALSE(mci->sendString("fly myFile"));
  EXPECT_FALSE(mci->sendString("setaudio myFile volume to 1001"));
  EXPECT_TRUE(mci->sendString("SetAudio MYFILE volume to 500")) << "aliases and keywords in any case";
  EXPECT_EQ(mci->status("MyFile").volume, 500);
  EXPECT_TRUE(mci->sendString("setaudio myFile volume to 1000"));

  // Past twice the file's length it still sounds: it loops.
  std::this_thread::sleep_for(std::chrono::milliseconds(1700));
  const double looping = outputs_test::monitorDb(pulse, "music", 400);

  // What the sink plays follows the pipeline after the server's latency.
  auto settled = [&](bool sound) {
    double level = outputs_test::kSilentDb;
    for (int i = 0; i < 10; ++i) {
      level = outputs_test::monitorDb(pulse, "music", 300);
      if (sound ? level > -30 : level < -90) break;
    }
    return level;
  };
  muteMP3();
  ASSERT_TRUE(reaches(*mci, State::kPaused, 0));
  const double muted = settled(false);

  playMP3();
  ASSERT_TRUE(reaches(*mci, State::kPlaying, 1000));
  const double unmuted = settled(true);

  terminateMP3();
  EXPECT_FALSE(mci->status("myFile").open);
  mp3::useMci(nullptr);
  std::printf("monitor: looping %.1f dBFS, muted %.1f dBFS, unmuted %.1f dBFS\n", looping, muted, unmuted);
  // The tone is at -9 dBFS; MP3 coding and the server's mixing keep it well above -30.
  EXPECT_GT(looping, -30);
  EXPECT_LT(muted, -90);
  EXPECT_GT(unmuted, -30);
}

}  // namespace
