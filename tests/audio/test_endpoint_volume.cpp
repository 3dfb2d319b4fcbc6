// The endpoint volume against a private pulseaudio with two null sinks;
// pactl reads back what the class set.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <vector>

#include "audio/endpoint_volume.h"
#include "audio/system_volume.h"
#include "fixtures/pulse_server.h"

namespace audio = lumidrop::audio;
using audio::CAudioEndpointVolume;

namespace {

class EndpointVolume : public ::testing::Test {
 protected:
  void SetUp() override { server.useFromThisProcess(); }
  fixtures::PulseServer server;
};

TEST_F(EndpointVolume, MasterScalarSetsTheDefaultSink) {
  CAudioEndpointVolume volume;
  ASSERT_TRUE(volume.bound());
  EXPECT_EQ(volume.lastHResult(), audio::kSOk);
  EXPECT_EQ(volume.deviceName(), "alpha");

  volume.SetMasterVolumeLevelScalar(0.37f);
  EXPECT_EQ(volume.lastHResult(), audio::kSOk);
  EXPECT_EQ(server.volumePercent("alpha", 0), 37);
  EXPECT_EQ(server.volumePercent("alpha", 1), 37);
  EXPECT_EQ(server.volumePercent("beta"), 100) << "only the default sink changes";
  EXPECT_NEAR(volume.GetMasterVolumeLevelScalar(), 0.37f, 1e-4);

  volume.SetMasterVolumeLevelScalar(1.0f);
  EXPECT_EQ(server.volumePercent("alpha"), 100);
  volume.SetMasterVolumeLevelScalar(0.0f);
  EXPECT_EQ(server.volumePercent("alpha"), 0);
}

TEST_F(EndpointVolume, EachInstanceStaysWithTheDeviceItFoundAtCreation) {
  auto first = std::make_unique<CAudioEndpointVolume>();
  first->SetMasterVolumeLevelScalar(0.5f);
  EXPECT_EQ(server.volumePercent("alpha"), 50);

  server.setDefaultSink("beta");
  // A new instance for the next change: it goes to the new default.
  auto second = std::make_unique<CAudioEndpointVolume>();
  EXPECT_EQ(second->deviceName(), "beta");
  second->SetMasterVolumeLevelScalar(0.2f);
  EXPECT_EQ(server.volumePercent("beta"), 20);
  EXPECT_EQ(server.volumePercent("alpha"), 50);

  // The older instance still drives the sink it was made for.
  first->SetMasterVolumeLevelScalar(0.3f);
  EXPECT_EQ(server.volumePercent("alpha"), 30);
  EXPECT_EQ(server.volumePercent("beta"), 20);
}

TEST_F(EndpointVolume, OutOfRangeArgumentsChangeNothing) {
  CAudioEndpointVolume volume;
  volume.SetMasterVolumeLevelScalar(0.4f);
  for (float bad : {-0.01f, 1.01f, NAN}) {
    volume.SetMasterVolumeLevelScalar(bad);
    EXPECT_EQ(volume.lastHResult(), audio::kEInvalidArg) << bad;
  }
  volume.SetChannelVolumeLevelScalar(2, 0.1f);
  EXPECT_EQ(volume.lastHResult(), audio::kEInvalidArg);
  volume.GetChannelVolumeLevelScalar(7);
  EXPECT_EQ(volume.lastHResult(), audio::kEInvalidArg);
  volume.SetMasterVolumeLevel(10.0f);
  EXPECT_EQ(volume.lastHResult(), audio::kEInvalidArg) << "above 0 dB";
  EXPECT_EQ(server.volumePercent("alpha", 0), 40);
  EXPECT_EQ(server.volumePercent("alpha", 1), 40);
}

TEST_F(EndpointVolume, ChannelsMuteDecibelsAndSteps) {
  CAudioEndpointVolume volume;
  EXPECT_EQ(volume.GetChannelCount(), 2);

  volume.SetMasterVolumeLevelScalar(0.8f);
  volume.SetChannelVolumeLevelScalar(1, 0.25f);
  EXPECT_EQ(volume.lastHResult(), audio::kSOk);
  EXPECT_EQ(server.volumePercent("alpha", 0), 80);
  EXPECT_EQ(server.volumePercent("alpha", 1), 25);
  EXPECT_NEAR(volume.GetChannelVolumeLevelScalar(1), 0.25f, 1e-4);

  // The master keeps the balance between channels.
  volume.SetMasterVolumeLevelScalar(0.4f);
  EXPECT_EQ(server.volumePercent("alpha", 0), 40);
  // Channel 1 keeps its 25 : 80 ratio to channel 0.
  EXPECT_NEAR(server.rawVolume("alpha", 1), server.rawVolume("alpha", 0) * 25.0 / 80.0, 2.0);

  volume.SetMute(1);
  EXPECT_TRUE(server.muted("alpha"));
  EXPECT_EQ(volume.GetMute(), 1);
  volume.SetMute(0);
  EXPECT_FALSE(server.muted("alpha"));

  float minimum = 0, maximum = 1, increment = 0;
  volume.GetVolumeRange(minimum, maximum, increment);
  EXPECT_LT(minimum, -60.0f);
  EXPECT_EQ(maximum, 0.0f);
  EXPECT_GT(increment, 0.0f);
  // pactl writes -25.91 dB next to 37 %: the same software scale.
  volume.SetMasterVolumeLevel(-25.91f);
  EXPECT_EQ(server.volumePercent("alpha"), 37);
  EXPECT_NEAR(volume.GetMasterVolumeLevel(), -25.91f, 0.02f);

  uint32_t step = 0, count = 0;
  volume.GetVolumeStepInfo(step, count);
  EXPECT_EQ(count, 101u);
  EXPECT_EQ(step, 37u);
  volume.VolumeStepUp();
  EXPECT_EQ(server.volumePercent("alpha"), 38);
  volume.VolumeStepDown();
  volume.VolumeStepDown();
  EXPECT_EQ(server.volumePercent("alpha"), 36);
  EXPECT_EQ(volume.QueryHardwareSupport() & audio::kHardwareMeter, 0);
}

struct Recorder : audio::AudioEndpointVolumeCallback {
  void OnNotify(const audio::VolumeNotification& n) override {
    std::lock_guard lock(mutex);
    seen.push_back(n);
  }
  size_t count() {
    std::lock_guard lock(mutex);
    return seen.size();
  }
  audio::VolumeNotification at(size_t i) {
    std::lock_guard lock(mutex);
    return seen.at(i);
  }
  std::mutex mutex;
  std::vector<audio::VolumeNotification> seen;
};

TEST_F(EndpointVolume, OwnChangesCarryTheProgramsEventContext) {
  audio::Guid ours;
  ASSERT_TRUE(audio::guidFromString("{5929DCA2-52B8-449B-8A58-FDF6750634DA}", ours));
  EXPECT_EQ(ours.data1, 0x5929DCA2u);
  EXPECT_EQ(ours.data4[7], 0xDA);

  CAudioEndpointVolume volume;
  EXPECT_EQ(volume.eventContext(), ours);
  Recorder recorder;
  volume.RegisterControlChangeNotify(&recorder);
  EXPECT_EQ(volume.lastHResult(), audio::kSOk);

  volume.SetMasterVolumeLevelScalar(0.37f);
  ASSERT_TRUE(fixtures::waitFor([&] { return recorder.count() >= 1; }, 5000));
  auto n = recorder.at(0);
  EXPECT_EQ(n.eventContext, ours);
  EXPECT_NEAR(n.masterVolume, 0.37f, 1e-4);
  EXPECT_EQ(n.channelVolumes.size(), 2u);

  // A change made by someone else carries no context of ours.
  server.pactl("set-sink-volume alpha 80%");
  ASSERT_TRUE(fixtures::waitFor([&] { return recorder.count() >= 2; }, 5000));
  n = recorder.at(1);
  EXPECT_EQ(n.eventContext, audio::Guid {});
  EXPECT_NEAR(n.masterVolume, 0.8f, 1e-3);

  volume.UnregisterControlChangeNotify(&recorder);
  EXPECT_EQ(volume.lastHResult(), audio::kSOk);
  volume.UnregisterControlChangeNotify(&recorder);
  EXPECT_EQ(volume.lastHResult(), audio::kEInvalidArg);
  volume.SetMasterVolumeLevelScalar(0.5f);
  EXPECT_EQ(server.volumePercent("alpha"), 50);
  EXPECT_FALSE(fixtures::waitFor([&] { return recorder.count() > 2; }, 300));
}

TEST_F(EndpointVolume, AServerThatGoesAwayLeavesAnErrorNotACrash) {
  CAudioEndpointVolume volume;
  ASSERT_TRUE(volume.bound());
  server.stop();
  volume.SetMasterVolumeLevelScalar(0.5f);
  EXPECT_NE(volume.lastHResult(), audio::kSOk);
  EXPECT_EQ(volume.GetMasterVolumeLevelScalar(), 0.0f);
  EXPECT_NE(volume.lastHResult(), audio::kSOk);
  // The next instance finds no server.
  CAudioEndpointVolume later;
  EXPECT_FALSE(later.bound());
  EXPECT_EQ(later.lastHResult(), audio::kEServiceNotRunning);
}

TEST(EndpointVolumeWithoutServer, CreationStopsQuietlyAndOperationsTouchNothing) {
  setenv("PULSE_SERVER", "unix:/nonexistent/telvaris/native", 1);
  EXPECT_FALSE(audio::soundServerAnswers());
  CAudioEndpointVolume volume;
  EXPECT_FALSE(volume.bound());
  EXPECT_EQ(volume.lastHResult(), audio::kEServiceNotRunning);
  EXPECT_EQ(volume.deviceName(), "");
  volume.SetMasterVolumeLevelScalar(0.5f);
  EXPECT_EQ(volume.GetChannelCount(), 0);
  EXPECT_EQ(volume.GetMute(), 0);
  uint32_t step = 9, count = 9;
  volume.GetVolumeStepInfo(step, count);
  EXPECT_EQ(step, 9u) << "nothing written";
  Recorder recorder;
  volume.RegisterControlChangeNotify(&recorder);
  volume.VolumeStepUp();
  EXPECT_EQ(volume.lastHResult(), audio::kEPointer);
}

TEST_F(EndpointVolume, TheServerAnswersAndInvalidGuidTextIsRefused) {
  EXPECT_TRUE(audio::soundServerAnswers());
  audio::Guid g;
  g.data1 = 7;
  EXPECT_FALSE(audio::guidFromString("5929DCA2-52B8-449B-8A58-FDF6750634DA", g));
  EXPECT_FALSE(audio::guidFromString("{5929DCA2-52B8-449B-8A58-FDF6750634DZ}", g));
  EXPECT_FALSE(audio::guidFromString("{5929DCA2-52B8-449B-8A58_FDF6750634DA}", g));
  EXPECT_EQ(g.data1, 7u);
}

}  // namespace
