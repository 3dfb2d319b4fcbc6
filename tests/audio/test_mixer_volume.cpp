// The mixer path through ALSA's default device, routed by the test's
// .asoundrc to a private pulseaudio; amixer and pactl read back the value.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <regex>
#include <string>

#include "audio/alsa_mixer.h"
#include "audio/volume.h"
#include "fixtures/pulse_server.h"

namespace {

namespace audio = lumidrop::audio;

std::string amixerMaster() {
  FILE* pipe = popen("amixer -D default get Master 2>&1", "r");
  std::string out;
  char buffer[512];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  pclose(pipe);
  return out;
}

int amixerValue() {
  std::smatch m;
  const std::string text = amixerMaster();
  if (!std::regex_search(text, m, std::regex(R"(Front Left: Playback (\d+))"))) return -1;
  return std::stoi(m[1]);
}

class MixerVolume : public ::testing::Test {
 protected:
  void SetUp() override { server.useFromThisProcess(); }
  void set(int32_t level, int16_t audioActive = 1) { audio::setMixerVolume(mixer, level, audioActive); }
  fixtures::PulseServer server;
  audio::AlsaMixer mixer;
};

TEST_F(MixerVolume, SetsTheMasterControlOfTheDefaultDevice) {
  set(37);
  EXPECT_EQ(amixerValue(), 24248);  // the pulse control runs 0..65536
  EXPECT_EQ(server.volumePercent("alpha"), 37);
  set(0);
  EXPECT_EQ(amixerValue(), 0);
  set(100);
  EXPECT_EQ(amixerValue(), 65536);
}

TEST_F(MixerVolume, SwitchedOffOrOutOfRangeLeavesTheVolume) {
  set(40);
  ASSERT_EQ(server.volumePercent("alpha"), 40);
  set(10, 0);
  set(101);
  set(-1);
  EXPECT_EQ(server.volumePercent("alpha"), 40);
}

TEST(MixerVolumeWithoutDevice, FailsQuietly) {
  // No sound server and no card: every step fails and nothing breaks.
  setenv("PULSE_SERVER", "unix:/nonexistent/telvaris/native", 1);
  fixtures::TempRoot home;
  setenv("HOME", home.path().c_str(), 1);
  fixtures::writeFile(home.file(".asoundrc"), "pcm.!default { type pulse }\nctl.!default { type pulse }\n");
  audio::AlsaMixer mixer;
  // The open fails (or finds no Master control) and the routine ends quietly.
  uint32_t line = 0;
  const bool reached = mixer.open(0) == 0 && mixer.speakersLine(line) == 0;
  mixer.close();
  EXPECT_FALSE(reached);
  audio::setMixerVolume(mixer, 50, 1);
  EXPECT_NE(mixer.setControlValue(0, 1), 0u) << "a closed mixer refuses";
}

}  // namespace
