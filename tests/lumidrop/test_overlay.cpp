// The overlay: its two outputs, loading and unloading, the mouse, the test
// sweep, and the feedback tick with both responses.
#include <gtest/gtest.h>

#include "harness.h"

using lumidrop::alphaForLevel;
using lumidrop::False;
using lumidrop::percentageText;
using lumidrop::RecordingVolume;
using lumidrop::True;
using lumidrop::WindowLayering;
using namespace lumidrop::testing;

namespace {

class Overlay : public Scenario {
 protected:
  // Starts a session with `general` as the stored [General] keys; the
  // outputs' records start empty afterwards.
  void run(const std::string& general = "") {
    startWith(general);
    layering.clear();
    volume.clear();
  }
  // Polls until `decisions` queued decisions are used up.
  void decide(std::initializer_list<int32_t> decisions) {
    telvaris.queue(decisions);
    ticks(static_cast<int>(decisions.size()));
  }
  void decide(int32_t decision, int times) {
    telvaris.queue(decision, times);
    ticks(times);
  }
};

}  // namespace

TEST(OverlayAlpha, LevelTimesTwoAndAHalfWithHalvesToEven) {
  EXPECT_EQ(alphaForLevel(100), 250);
  EXPECT_EQ(alphaForLevel(0), 0);
  EXPECT_EQ(alphaForLevel(1), 2);
  EXPECT_EQ(alphaForLevel(3), 8);
  EXPECT_EQ(alphaForLevel(5), 12);
  EXPECT_EQ(alphaForLevel(11), 28);
  EXPECT_EQ(alphaForLevel(31), 78);
  EXPECT_EQ(alphaForLevel(102), 255);
  EXPECT_EQ(alphaForLevel(103), 255) << "beyond a byte: held at full";
  EXPECT_EQ(alphaForLevel(-4), 0);
}

TEST(OverlayStatus, PercentageHasTwoDecimalsAndAtLeastOneIntegerDigit) {
  EXPECT_EQ(percentageText(1, 2), "50.00%");
  EXPECT_EQ(percentageText(1, 1), "100.00%");
  EXPECT_EQ(percentageText(345, 10000), "3.45%");
  EXPECT_EQ(percentageText(5, 8), "62.50%");
  EXPECT_EQ(percentageText(0, 7), "0.00%");
  EXPECT_EQ(percentageText(1, 3), "33.33%");
  EXPECT_EQ(percentageText(2, 3), "66.67%");
  EXPECT_EQ(percentageText(1, 32), "3.13%");  // 3.125: the half goes up
  EXPECT_EQ(percentageText(1, 300), "0.33%");
}

TEST_F(Overlay, OpacityRespectsTheMinimumAndVideoSwitch) {
  run("OpacityMinimum=20\r\nOpacityInhibit=100\r\n");
  int16_t level = 0;
  overlay().setOpacityLevel(level);
  level = 30;
  overlay().setOpacityLevel(level);
  level = 100;
  overlay().setOpacityLevel(level);
  EXPECT_EQ(layering.alphas(), (std::vector<int>{50, 75, 250}));
  for (const auto& call : layering.alphaCalls()) {
    EXPECT_TRUE(call.layered) << "the layered style is in place before each alpha";
    EXPECT_EQ(call.flags, WindowLayering::LWA_ALPHA);
    EXPECT_EQ(call.colourKey, 0u);
    EXPECT_EQ(call.hwnd, overlayWindow()->hWnd());
  }
  EXPECT_EQ(layering.styleWrites(), 3) << "the style is written on every call";
  settings().VideoActive = 0;
  level = 100;
  overlay().setOpacityLevel(level);
  EXPECT_EQ(lastAlpha(), 50);
}

TEST_F(Overlay, VolumeCeilingActsOnTheAppliedValueOnly) {
  run("VolumeMaximum=60\r\nAutoFade=0\r\n");
  pressSetup();  // the overlay reloads: Form_Load sets full volume
  ASSERT_FALSE(volume.changes().empty());
  EXPECT_FLOAT_EQ(static_cast<float>(volume.changes().back().value), 0.6f);
  EXPECT_EQ(volume.changes().back().road, RecordingVolume::Road::Endpoint);
  EXPECT_EQ(settings().VolumeMaximum, 60);
}

TEST_F(Overlay, EachVolumeChangeMakesAFreshEndpoint) {
  run("AutoFade=0\r\n");
  const int before = volume.endpointsCreated();
  decide({0, 1, 0});
  EXPECT_EQ(volume.endpointsCreated() - before, 3);
  EXPECT_EQ(volume.endpointsAlive(), 1) << "the one held before is let go";
}

TEST_F(Overlay, OlderSystemsTakeTheMixerScaledToItsRange) {
  program->queryOsVersion = [] { return platform::OsVersion{true, 2, 5, 1}; };
  run("AutoFade=0\r\nVolumeInhibit=37\r\n");
  EXPECT_EQ(program->isWindowsNT6, False);
  decide({0, 1});
  ASSERT_EQ(volume.changes().size(), 2u);
  EXPECT_EQ(volume.changes()[0].road, RecordingVolume::Road::Mixer);
  EXPECT_EQ(volume.changes()[0].value, 24248);
  EXPECT_EQ(volume.changes()[1].value, 65535);
  EXPECT_EQ(lumidrop::audio::mixerValue(50, 65535), 32768u);
  EXPECT_EQ(lumidrop::audio::mixerValue(1, 65535), 655u);
  EXPECT_EQ(lumidrop::audio::mixerValue(0, 65535), 0u);
  EXPECT_EQ(lumidrop::audio::mixerValue(100, 100000000), 100000000u) << "no 32-bit overflow";
}

// Windows 10 and 11 report major version 10 to a program that declares
// them: they have the endpoint volume as Vista and 7 (6) do.
TEST_F(Overlay, NewerSystemsKeepTheEndpointVolume) {
  program->queryOsVersion = [] { return platform::OsVersion{true, 2, 10, 0}; };
  run("AutoFade=0\r\nVolumeInhibit=37\r\n");
  EXPECT_EQ(program->isWindowsNT6, True);
  decide({0});
  ASSERT_EQ(volume.changes().size(), 1u);
  EXPECT_EQ(volume.changes()[0].road, RecordingVolume::Road::Endpoint);
  EXPECT_EQ(lumidrop::WindowsVersion({true, 2, 6, 1}), True);
  EXPECT_EQ(lumidrop::WindowsVersion({true, 2, 5, 1}), False) << "XP";
  EXPECT_EQ(lumidrop::WindowsVersion({true, 1, 10, 0}), False) << "not the NT family";
  EXPECT_EQ(lumidrop::WindowsVersion({false, 2, 10, 0}), False) << "the query failed";
}

TEST_F(Overlay, TheMixerIsLeftAloneOutsideItsRangeAndClosedAfterAFailedStep) {
  RecordingVolume& v = volume;
  lumidrop::audio::setMixerVolume(v.mixer(), 101, 1);
  lumidrop::audio::setMixerVolume(v.mixer(), -1, 1);
  lumidrop::audio::setMixerVolume(v.mixer(), 50, 0);
  EXPECT_EQ(v.mixerOpens(), 0);
  v.failMixerAt(2);  // no speakers line
  lumidrop::audio::setMixerVolume(v.mixer(), 50, 1);
  EXPECT_EQ(v.mixerOpens(), 1);
  EXPECT_EQ(v.mixerCloses(), 1);
  v.failMixerAt(3);
  lumidrop::audio::setMixerVolume(v.mixer(), 50, 1);
  EXPECT_EQ(v.mixerCloses(), 2);
  v.failMixerAt(1);  // nothing opened, nothing to close
  lumidrop::audio::setMixerVolume(v.mixer(), 50, 1);
  EXPECT_EQ(v.mixerOpens(), 3);
  EXPECT_EQ(v.mixerCloses(), 2);
  EXPECT_TRUE(v.changes().empty());
  v.failMixerAt(0);
  lumidrop::audio::setMixerVolume(v.mixer(), 0, 1);
  EXPECT_EQ(v.percents(), (std::vector<int>{0}));
}

TEST_F(Overlay, AudioSwitchedOffNeverTouchesTheVolume) {
  writeSettings("AudioActive=0\r\nTestMode=1\r\nAutoFade=0\r\n");
  start();
  decide({0, 1, 0});
  overlayWindow()->userMouseDown(1, 0, 5, 5);
  pressSetup();
  pressSetup();
  closePanel();
  EXPECT_TRUE(volume.changes().empty());
  EXPECT_EQ(volume.mixerOpens(), 0);
}

TEST_F(Overlay, LoadingRestoresStoredGeometryAndPlacesTheWindowOnTop) {
  run("Top=600\r\nLeft=900\r\nHeight=3000\r\nWidth=4000\r\n");
  lumidrop::OverlayWindow* w = overlayWindow();
  EXPECT_EQ(w->top(), 600);
  EXPECT_EQ(w->left(), 900);
  EXPECT_EQ(w->height(), 3000);
  EXPECT_EQ(w->width(), 4000);
  EXPECT_EQ(w->caption(), "Telvaris Lumidrop");
  EXPECT_FALSE(w->design().showInTaskbar);
  EXPECT_EQ(w->design().backColor, 0x000000u);
  EXPECT_TRUE(layering.topMost(w->hWnd()));
}

TEST_F(Overlay, ZeroHeightKeepsTheDesignedSizeAndTheSystemsPlacement) {
  run("Top=600\r\nLeft=900\r\nHeight=0\r\nWidth=4000\r\n");
  lumidrop::OverlayWindow* w = overlayWindow();
  EXPECT_EQ(w->width(), lumidrop::OverlayWindow::kClientWidth + 16 * ui::kTwipsPerPixel);
  EXPECT_EQ(w->height(), lumidrop::OverlayWindow::kClientHeight + 33 * ui::kTwipsPerPixel);
  EXPECT_EQ(w->left(), 1440);
  EXPECT_EQ(w->top(), 1440);
}

TEST_F(Overlay, UnloadThenStopFeedbackLoadsAFreshHiddenWindow) {
  run("InitialiseLumiDropToMinimumOpacity=1\r\nOpacityMinimum=10\r\nOpacityInhibit=80\r\n");
  overlay().unloadMeNow();
  EXPECT_EQ(overlayWindow(), nullptr);
  EXPECT_EQ(layering.alphas(), (std::vector<int>{25})) << "opacity 0 raised to the minimum";
  EXPECT_EQ(volume.percents(), (std::vector<int>{100}));
  overlay().stopFeedback();
  lumidrop::OverlayWindow* w = overlayWindow();
  ASSERT_NE(w, nullptr);
  EXPECT_FALSE(w->visible());
  EXPECT_FALSE(w->Timer1.enabled());
  EXPECT_EQ(layering.alphas(), (std::vector<int>{25, 25})) << "starts at the minimum opacity";
  EXPECT_EQ(volume.percents(), (std::vector<int>{100, 100}));
  EXPECT_EQ(overlay().autoFadeOn, False);
  EXPECT_EQ(overlay().instrumentID, -1);
  EXPECT_TRUE(layering.topMost(w->hWnd()));
}

TEST_F(Overlay, LeftClickWithoutTestModeDoesNothing) {
  run();
  overlayWindow()->userMouseDown(1, 0, 5, 5);
  overlayWindow()->userMouseDown(4, 0, 5, 5);
  EXPECT_TRUE(layering.alphaCalls().empty());
  EXPECT_TRUE(volume.changes().empty());
}

TEST_F(Overlay, TestSweepRunsDownAndUpAndLetsTheFeedbackTickIn) {
  run("TestMode=1\r\nAutoFade=0\r\nUpdateFrequency=1000\r\n");
  telvaris.queue({1});
  const uint32_t start = backend.now();
  overlayWindow()->userMouseDown(1, 0, 5, 5);
  EXPECT_GE(backend.now() - start, 20200u);
  EXPECT_EQ(telvaris.feedback.size(), 0u) << "ticks ran inside the sweep";
  EXPECT_EQ(overlay().feedbackCount, 1);

  std::vector<int> expectedAlpha, expectedVolume;
  for (int level = 100; level >= 0; --level) {
    expectedAlpha.push_back(alphaForLevel(level));
    expectedVolume.push_back(level);
  }
  for (int level = 0; level <= 100; ++level) {
    expectedAlpha.push_back(alphaForLevel(level));
    expectedVolume.push_back(100 - level);
  }
  // Take out the one reward the tick applied mid-sweep (alpha 0, volume 100).
  std::vector<int> alphas = layering.alphas(), volumes = volume.percents();
  ASSERT_EQ(alphas.size(), expectedAlpha.size() + 1);
  for (size_t i = 0; i + 1 < alphas.size(); ++i) {
    if (alphas[i] != expectedAlpha[i]) {
      EXPECT_EQ(alphas[i], 0);
      EXPECT_EQ(volumes[i], 100);
      alphas.erase(alphas.begin() + static_cast<std::ptrdiff_t>(i));
      volumes.erase(volumes.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  }
  EXPECT_EQ(alphas, expectedAlpha);
  EXPECT_EQ(volumes, expectedVolume);
  EXPECT_EQ(lastAlpha(), 250);
  EXPECT_EQ(lastVolume(), 0);
}

TEST_F(Overlay, WorkedAutoFadeRun) {
  run("OpacityInhibit=100\r\nVolumeInhibit=30\r\nVolumeMaximum=100\r\n");
  ASSERT_EQ(overlay().fadeLevel, 10);
  decide(0, 1);
  EXPECT_EQ(overlay().fadeLevel, 11);
  EXPECT_EQ(lastAlpha(), 28);
  EXPECT_EQ(lastVolume(), 100);
  decide(0, 20);
  EXPECT_EQ(overlay().fadeLevel, 31);
  EXPECT_EQ(lastAlpha(), alphaForLevel(31));
  EXPECT_EQ(lastVolume(), 69);
  decide(1, 1);
  EXPECT_EQ(overlay().fadeLevel, 30);
  EXPECT_EQ(lastAlpha(), 75);
  EXPECT_EQ(lastVolume(), 70);

  // The whole way: volume 100 until the level passes 30, then 100 - level.
  std::vector<int> alphas, volumes;
  for (int level = 11; level <= 31; ++level) {
    alphas.push_back(alphaForLevel(level));
    volumes.push_back(level > 30 ? 100 - level : 100);
  }
  alphas.push_back(75);
  volumes.push_back(70);
  EXPECT_EQ(layering.alphas(), alphas);
  EXPECT_EQ(volume.percents(), volumes);
  EXPECT_EQ(panel().lblStatus.caption(), "Reward Percentage is 4.55%");  // 1 of 22
  EXPECT_EQ(overlayWindow()->Timer1.interval(), 50u);
}

TEST_F(Overlay, OnlyRewardsFadeToClearAndStayThere) {
  run("OpacityMinimum=4\r\n");
  decide(1, 12);
  EXPECT_EQ(overlay().fadeLevel, 0);
  const std::vector<int> alphas = layering.alphas();
  ASSERT_EQ(alphas.size(), 12u);
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(alphas[static_cast<size_t>(i)], alphaForLevel(std::max(9 - i, 4)));
    EXPECT_EQ(volume.percents()[static_cast<size_t>(i)], 100 - std::max(9 - i, 0));
  }
  EXPECT_EQ(lastAlpha(), 10);
  EXPECT_EQ(lastVolume(), 100);
}

TEST_F(Overlay, OnlyInhibitsClimbToTheMaximumOpacity) {
  run("OpacityInhibit=15\r\n");
  decide(0, 10);
  EXPECT_EQ(overlay().fadeLevel, 15);
  EXPECT_EQ(lastAlpha(), alphaForLevel(15));
  EXPECT_EQ(lastVolume(), 85);  // VolumeInhibit 0: every inhibit gives 100 - level
}

TEST_F(Overlay, AMaximumOpacityBelowTenHoldsTheLevelAtTen) {
  run("OpacityInhibit=5\r\n");
  EXPECT_EQ(lastAlpha(), -1);
  decide(0, 3);
  EXPECT_EQ(overlay().fadeLevel, 10);
  EXPECT_EQ(layering.alphas(), (std::vector<int>{25, 25, 25}));
  decide(1, 1);
  EXPECT_EQ(overlay().fadeLevel, 9);
}

TEST_F(Overlay, TheFirstAutoFadeDecisionLeavesThePresetOpacity) {
  writeSettings("OpacityInhibit=80\r\n");
  start();
  EXPECT_EQ(lastAlpha(), 200) << "the panel presets the maximum opacity";
  decide(0, 1);
  EXPECT_EQ(lastAlpha(), 28);
}

TEST_F(Overlay, FixedResponseJumpsBetweenTheTwoStates) {
  run("AutoFade=0\r\nOpacityInhibit=70\r\nVolumeInhibit=80\r\nVolumeMaximum=50\r\nUpdateFrequency=250\r\n");
  EXPECT_EQ(overlayWindow()->Timer1.interval(), 250u);
  decide({0, 1});
  EXPECT_EQ(layering.alphas(), (std::vector<int>{175, 0}));
  EXPECT_EQ(volume.percents(), (std::vector<int>{50, 50})) << "both within the maximum volume";
  EXPECT_EQ(settings().VolumeInhibit, 80);
}

TEST_F(Overlay, NoMessageChangesNothing) {
  run();
  ticks(20);
  EXPECT_GE(telvaris.polls, 20);
  EXPECT_TRUE(layering.alphaCalls().empty());
  EXPECT_TRUE(volume.changes().empty());
  EXPECT_EQ(panel().lblStatus.caption(), "");
  EXPECT_EQ(overlay().feedbackCount, 0);
}

TEST_F(Overlay, RewardPercentageCoversTheWholeRun) {
  run("AutoFade=0\r\n");
  decide({1, 1, 0, 1});
  EXPECT_EQ(panel().lblStatus.caption(), "Reward Percentage is 75.00%");
  ticks(3);
  EXPECT_EQ(panel().lblStatus.caption(), "Reward Percentage is 75.00%") << "no message keeps the text";
  pressSetup();
  pressSetup();
  decide({1});
  EXPECT_EQ(panel().lblStatus.caption(), "Reward Percentage is 80.00%");
  decide({0, 0, 1});
  EXPECT_EQ(panel().lblStatus.caption(), "Reward Percentage is 62.50%");
}

TEST_F(Overlay, CountsPastSixteenBitsKeepTheRightRatio) {
  run("AutoFade=0\r\n");
  overlay().feedbackCount = 40000;
  overlay().feedbackTotal = 20000;
  decide({1});
  EXPECT_EQ(overlay().feedbackCount, 40001);
  EXPECT_EQ(panel().lblStatus.caption(), "Reward Percentage is 50.00%");
}

TEST_F(Overlay, OtherResultsAreCountedButChangeNoOutput) {
  run("AutoFade=0\r\n");
  decide({2});
  EXPECT_EQ(overlay().feedbackCount, 1);
  EXPECT_TRUE(layering.alphaCalls().empty());
  EXPECT_TRUE(volume.changes().empty());
}

TEST_F(Overlay, TimerIntervalsOfTheModes) {
  run("AutoFade=0\r\nUpdateFrequency=300\r\n");
  lumidrop::frmLumidrop& o = overlay();
  ui::Timer& timer = overlayWindow()->Timer1;
  EXPECT_EQ(timer.interval(), 300u);
  o.EnableAutoFade();
  EXPECT_EQ(timer.interval(), 50u);
  o.DisableAutoFade();
  EXPECT_EQ(timer.interval(), 300u);
  int16_t on = True, other = 1;
  o.ProgressiveAudio(on);
  EXPECT_EQ(timer.interval(), 32u);
  EXPECT_EQ(o.progressiveOn, True);
  o.startFeedback();
  EXPECT_EQ(timer.interval(), 32u) << "progressive keeps its interval";
  o.ProgressiveAudio(other);  // only -1 counts as True
  EXPECT_EQ(o.progressiveOn, False);
  EXPECT_EQ(timer.interval(), 32u);
  o.QELTAActive(other);
  EXPECT_EQ(timer.interval(), 32u);
  o.QELTAActive(on);
  EXPECT_EQ(timer.interval(), 4u);
  o.startFeedback();
  EXPECT_EQ(timer.interval(), 300u) << "a QELTA session polls at the update frequency";
  o.stopFeedback();
  EXPECT_FALSE(timer.enabled());
}

TEST_F(Overlay, QeltaSessionPollsAtTheUpdateFrequency) {
  run("AutoFade=0\r\nQELTAActive=1\r\nUpdateFrequency=200\r\n");
  EXPECT_EQ(overlayWindow()->Timer1.interval(), 200u);
  EXPECT_FALSE(panel().FrameUpdateFrequency.visible());
}
