// The overlay's volume output on the system's own roads: the program on the
// headless backend, its feedback from a scripted link, the volume going to
// a private pulseaudio where pactl reads it back.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>

#include "../lumidrop/harness.h"
#include "audio/endpoint_volume.h"
#include "audio/system_volume.h"
#include "fixtures/pulse_server.h"

namespace {

using lumidrop::testing::ScriptedTelvaris;

class SystemVolume : public fixtures::RootedTest {
 protected:
  void SetUp() override { server.useFromThisProcess(); }

  // Starts the program with `general` as the stored [General] keys.
  void startWith(const std::string& general) {
    program = std::make_unique<lumidrop::Program>(app, telvaris, layering, volume, root.path());
    program->queryOsVersion = [] {
      platform::OsVersion v {true, 2, 6, 1};
      if (!lumidrop::audio::soundServerAnswers()) v.major = 5;
      return v;
    };
    fixtures::writeFile(root.file("lumidrop.ini"), "[General]\r\n" + general + "[MQTT]\r\n");
    fixtures::writeFile(root.file("remote.conf"), "PORT=1883\r\n");
    app.start(program->panel());
    ASSERT_FALSE(app.ended());
  }
  // Lets the overlay's timer poll once for each queued decision.
  void decide(int32_t decision, int times) {
    telvaris.queue(decision, times);
    auto* w = program->lumidrop().loadedWindow();
    ASSERT_NE(w, nullptr);
    for (int i = 0; i < times; ++i) backend.advance(static_cast<uint32_t>(backend.dueIn(w->Timer1)));
  }
  void TearDown() override { program.reset(); }

  fixtures::PulseServer server;
  ui::HeadlessBackend backend;
  ui::Application app {backend};
  ScriptedTelvaris telvaris;
  lumidrop::RecordingLayering layering;
  lumidrop::audio::SystemVolumeOutputs volume;
  std::unique_ptr<lumidrop::Program> program;
};

TEST_F(SystemVolume, AutoFadeLowersTheDefaultSink) {
  startWith("OpacityInhibit=100\r\nVolumeInhibit=30\r\nVolumeMaximum=100\r\n");
  EXPECT_EQ(program->isWindowsNT6, lumidrop::True) << "a sound server answers: the endpoint road";
  EXPECT_EQ(server.volumePercent("alpha"), 100) << "loading the overlay sets full volume";
  // Auto fade: each inhibit raises the level by one from 10; past 30 the
  // volume is 100 - level. 53 inhibits reach level 63: applyVolume(37).
  decide(0, 53);
  EXPECT_EQ(program->lumidrop().fadeLevel, 63);
  EXPECT_EQ(server.volumePercent("alpha"), 37);
  EXPECT_EQ(server.volumePercent("alpha", 1), 37);
  decide(1, 2);
  EXPECT_EQ(server.volumePercent("alpha"), 39);
  EXPECT_EQ(server.volumePercent("beta"), 100) << "only the default sink";
}

TEST_F(SystemVolume, EachChangeGoesToTheDefaultOfItsMoment) {
  startWith("OpacityInhibit=100\r\nVolumeInhibit=30\r\nVolumeMaximum=100\r\n");
  decide(0, 30);  // level 40: volume 60
  EXPECT_EQ(server.volumePercent("alpha"), 60);
  server.setDefaultSink("beta");
  decide(0, 5);  // level 45: volume 55, on the new default
  EXPECT_EQ(server.volumePercent("beta"), 55);
  EXPECT_EQ(server.volumePercent("alpha"), 60);
}

TEST_F(SystemVolume, VolumeMaximumClampsAndUnloadRestoresWithinIt) {
  startWith("OpacityInhibit=100\r\nVolumeInhibit=30\r\nVolumeMaximum=37\r\n");
  EXPECT_EQ(server.volumePercent("alpha"), 37) << "full volume within the maximum";
  decide(0, 50);  // level 60: 40, still above the maximum
  EXPECT_EQ(server.volumePercent("alpha"), 37);
  decide(0, 10);  // level 70: 30
  EXPECT_EQ(server.volumePercent("alpha"), 30);
  program->lumidrop().unloadMeNow();
  EXPECT_EQ(server.volumePercent("alpha"), 37);
}

TEST_F(SystemVolume, AudioSwitchedOffLeavesTheSinkAlone) {
  server.pactl("set-sink-volume alpha 42%");
  startWith("AudioActive=0\r\nOpacityInhibit=100\r\nVolumeInhibit=30\r\n");
  decide(0, 60);
  program->lumidrop().unloadMeNow();
  EXPECT_EQ(server.volumePercent("alpha"), 42);
}

TEST_F(SystemVolume, WithoutASoundServerTheMixerRoadFailsQuietly) {
  server.pactl("set-sink-volume alpha 42%");
  // The program finds no server: it takes the mixer road, whose default
  // device leads nowhere either.
  setenv("PULSE_SERVER", "unix:/nonexistent/telvaris/native", 1);
  startWith("OpacityInhibit=100\r\nVolumeInhibit=30\r\n");
  EXPECT_EQ(program->isWindowsNT6, lumidrop::False);
  decide(0, 60);
  program->lumidrop().unloadMeNow();
  EXPECT_FALSE(app.ended());
  EXPECT_EQ(server.volumePercent("alpha"), 42) << "nothing reached the server";
}

}  // namespace
