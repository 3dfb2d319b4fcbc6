// The option controls of the setup panel: check-box rules, frame
// visibility, the coupled sliders and what reaches the overlay.
#include <gtest/gtest.h>

#include "harness.h"

using lumidrop::False;
using lumidrop::True;
using namespace lumidrop::testing;

namespace {

class Options : public Scenario {
 protected:
  // Starts with `general` as the stored [General] keys and opens the setup
  // panel.
  void openSetup(const std::string& general = "") {
    startWith(general);
    pressSetup();
    ASSERT_EQ(panel().previewActive, True);
  }
  void click(ui::CheckBox& box) {
    ASSERT_TRUE(box.onScreen() && box.usable()) << box.name() << " cannot be clicked";
    box.userClick();
  }
  void drag(ui::Slider& slider, int value) {
    ASSERT_TRUE(slider.onScreen() && slider.usable()) << slider.name() << " cannot be moved";
    slider.userScroll(value);
  }
};

}  // namespace

TEST_F(Options, WithAudioAndVideoOffAutoFadeAndQeltaCannotBeChecked) {
  openSetup("AutoFade=0\r\n");
  click(panel().CheckAudioActive);
  click(panel().CheckVideoActive);
  ASSERT_EQ(panel().CheckAudioActive.value(), 0);
  ASSERT_EQ(panel().CheckVideoActive.value(), 0);
  click(panel().CheckAutoFade);
  EXPECT_EQ(panel().CheckAutoFade.value(), 0);
  EXPECT_EQ(settings().AutoFade, 0);
  EXPECT_EQ(overlay().autoFadeOn, False);
  click(panel().CheckQELTA);
  EXPECT_EQ(panel().CheckQELTA.value(), 0);
  EXPECT_EQ(settings().QELTAActive, 0);
  EXPECT_TRUE(panel().FrameUpdateFrequency.visible());
}

TEST_F(Options, UncheckingVideoWithAudioOffDropsAutoFadeAndQeltaAndTellsTheOverlay) {
  openSetup("QELTAActive=1\r\n");  // Auto Fade is on by default
  click(panel().CheckAudioActive);
  EXPECT_FALSE(panel().FrameVolume.visible());
  EXPECT_EQ(settings().AudioActive, 0);
  overlay().EnableAutoFade();
  click(panel().CheckVideoActive);
  EXPECT_EQ(panel().CheckAutoFade.value(), 0);
  EXPECT_EQ(panel().CheckQELTA.value(), 0);
  EXPECT_EQ(settings().AutoFade, 0);
  EXPECT_EQ(settings().QELTAActive, 0);
  EXPECT_EQ(overlay().autoFadeOn, False) << "DisableAutoFade reached the overlay";
  EXPECT_EQ(overlayWindow()->Timer1.interval(), 100u);
  EXPECT_TRUE(panel().FrameUpdateFrequency.visible());
  EXPECT_FALSE(panel().FrameOpacity.visible());
}

TEST_F(Options, UncheckingVideoResetsTheOpacitySlidersLabelsAndSettings) {
  openSetup("OpacityInhibit=70\r\nOpacityMinimum=20\r\nInitialiseLumiDropToMinimumOpacity=1\r\n");
  EXPECT_EQ(panel().LabelInhibitOpacity.caption(), "(70%)");
  click(panel().CheckVideoActive);
  EXPECT_EQ(panel().SliderOpacityInhibit.value(), 100);
  EXPECT_EQ(panel().SliderMinimumOpacity.value(), 0);
  EXPECT_EQ(panel().LabelInhibitOpacity.caption(), "(100%)");
  EXPECT_EQ(panel().LabelMinimumOpacity.caption(), "(0%)");
  EXPECT_EQ(settings().OpacityInhibit, 100);
  EXPECT_EQ(settings().OpacityMinimum, 0);
  EXPECT_EQ(settings().VideoActive, 0);
  EXPECT_EQ(panel().CheckInitialiseLumiDropToMinimumOpacity.value(), 0);
  EXPECT_EQ(settings().InitialiseLumiDropToMinimumOpacity, 0);
  EXPECT_EQ(lastAlpha(), 0) << "with video off the overlay shows the (now zero) minimum";
  // Audio is still on, so the modes stay.
  EXPECT_EQ(panel().CheckAutoFade.value(), 1);
}

TEST_F(Options, CheckingVideoEndsProgressiveAudioAndClearsItsOptions) {
  openSetup("ProgressiveFeedback=1\r\nOneSD=1\r\nInvertSound=1\r\nDisplayStatistics=1\r\n");
  EXPECT_EQ(panel().checkOneSD.value(), 1);
  EXPECT_TRUE(panel().checkOneSD.enabled());
  EXPECT_FALSE(panel().FrameUpdateFrequency.visible());
  click(panel().CheckVideoActive);
  EXPECT_EQ(panel().CheckAutoAdjust.value(), 0);
  EXPECT_EQ(settings().ProgressiveFeedback, 0);
  for (ui::CheckBox* box : {&panel().checkOneSD, &panel().CheckDisplayStatistics, &panel().CheckInvertSound}) {
    EXPECT_EQ(box->value(), 0) << box->name();
    EXPECT_FALSE(box->enabled()) << box->name();
  }
  EXPECT_EQ(settings().OneSD, 0);
  EXPECT_EQ(settings().InvertSound, 0);
  EXPECT_EQ(settings().DisplayStatistics, 0);
  EXPECT_TRUE(panel().FrameOpacity.visible());
  EXPECT_TRUE(panel().FrameUpdateFrequency.visible());
}

TEST_F(Options, UncheckingAudioEndsProgressiveAudio) {
  openSetup("ProgressiveFeedback=1\r\nInvertSound=1\r\n");
  click(panel().CheckInvertSound);
  EXPECT_EQ(settings().InvertSound, 0);
  click(panel().CheckInvertSound);
  EXPECT_EQ(settings().InvertSound, 1);
  click(panel().CheckAudioActive);
  EXPECT_EQ(panel().CheckAutoAdjust.value(), 0);
  EXPECT_EQ(settings().ProgressiveFeedback, 0);
  EXPECT_EQ(panel().CheckInvertSound.value(), 0);
  EXPECT_FALSE(panel().CheckInvertSound.enabled());
  EXPECT_FALSE(panel().FrameVolume.visible());
  EXPECT_EQ(settings().AudioActive, 0);
}

TEST_F(Options, ProgressiveAudioFromTheSettingsSwitchesAudioOnAndTheOtherModesOff) {
  writeSettings("AudioActive=0\r\nQELTAActive=0\r\nProgressiveFeedback=1\r\n");
  start();
  EXPECT_EQ(panel().CheckAudioActive.value(), 1);
  EXPECT_EQ(settings().AudioActive, 1);
  EXPECT_EQ(panel().CheckVideoActive.value(), 0);
  EXPECT_EQ(panel().CheckAutoFade.value(), 0);
  EXPECT_TRUE(panel().FrameVolume.visible());
  EXPECT_FALSE(panel().FrameOpacity.visible());
  EXPECT_FALSE(panel().FrameUpdateFrequency.visible());
}

TEST_F(Options, FrameVisibilityFollowsTheModes) {
  openSetup("AutoFade=0\r\n");
  ui::Frame& frequency = panel().FrameUpdateFrequency;
  EXPECT_TRUE(frequency.visible()) << "unlockOptions finds no mode checked";
  EXPECT_TRUE(panel().Frame1.visible());
  EXPECT_TRUE(panel().FrameProgressiveAudio.visible());
  click(panel().CheckQELTA);
  EXPECT_FALSE(frequency.visible());
  click(panel().CheckAutoFade);
  EXPECT_FALSE(frequency.visible());
  click(panel().CheckQELTA);
  EXPECT_FALSE(frequency.visible()) << "Auto Fade is still checked";
  click(panel().CheckAutoFade);
  EXPECT_TRUE(frequency.visible());
  click(panel().CheckAudioActive);
  EXPECT_FALSE(panel().FrameVolume.visible());
  click(panel().CheckAudioActive);
  EXPECT_TRUE(panel().FrameVolume.visible());
  click(panel().CheckVideoActive);
  EXPECT_FALSE(panel().FrameOpacity.visible());
  click(panel().CheckVideoActive);
  EXPECT_TRUE(panel().FrameOpacity.visible());

  // lockOptions hides the frequency for QELTA; unlockOptions shows it again
  // only when no mode is checked.
  click(panel().CheckQELTA);
  click(panel().CheckQELTA);
  click(panel().CheckQELTA);
  ASSERT_EQ(panel().CheckQELTA.value(), 1);
  pressSetup();
  EXPECT_FALSE(frequency.visible());
  EXPECT_TRUE(panel().CheckQELTA.enabled()) << "QELTA Active is never disabled";
  EXPECT_FALSE(panel().CheckAutoFade.enabled());
  EXPECT_FALSE(panel().SliderVolumeInhibit.enabled());
  pressSetup();
  EXPECT_FALSE(frequency.visible());
  click(panel().CheckQELTA);
  EXPECT_TRUE(frequency.visible());
}

TEST_F(Options, AutoFadeCheckedAndUncheckedReachesTheOverlay) {
  openSetup("AutoFade=0\r\n");
  overlay().fadeLevel = 42;
  click(panel().CheckAutoFade);
  EXPECT_EQ(overlay().autoFadeOn, True);
  EXPECT_EQ(overlay().fadeLevel, 10);
  EXPECT_EQ(overlayWindow()->Timer1.interval(), 50u);
  overlay().fadeLevel = 33;
  click(panel().CheckAutoFade);
  EXPECT_EQ(overlay().autoFadeOn, False);
  EXPECT_EQ(overlay().fadeLevel, 33) << "DisableAutoFade leaves the level";
  EXPECT_EQ(overlayWindow()->Timer1.interval(), 100u);
  EXPECT_EQ(settings().AutoFade, 0);
}

TEST_F(Options, CoupledVolumeSlidersPushTheMovedOneBack) {
  openSetup();
  drag(panel().SliderVolumeMaximum, 60);
  drag(panel().SliderVolumeInhibit, 80);
  EXPECT_EQ(panel().SliderVolumeInhibit.value(), 59);
  EXPECT_EQ(panel().LabelInhibitVolume.caption(), "(59%)");
  EXPECT_EQ(settings().VolumeInhibit, 59);
  EXPECT_EQ(panel().SliderVolumeMaximum.value(), 60) << "the partner never moves";
  drag(panel().SliderVolumeInhibit, 30);
  drag(panel().SliderVolumeMaximum, 10);
  EXPECT_EQ(panel().SliderVolumeMaximum.value(), 31);
  EXPECT_EQ(panel().LabelVolumeMaximum.caption(), "(31%)");
  EXPECT_EQ(settings().VolumeMaximum, 31);
  drag(panel().SliderVolumeInhibit, 31);
  EXPECT_EQ(panel().SliderVolumeInhibit.value(), 31) << "equal values stay";
  // At the ends of the range the moved slider stays inside it.
  drag(panel().SliderVolumeMaximum, 100);
  drag(panel().SliderVolumeInhibit, 100);
  drag(panel().SliderVolumeMaximum, 50);
  EXPECT_EQ(panel().SliderVolumeMaximum.value(), 100);
  EXPECT_EQ(settings().VolumeMaximum, 100);
}

TEST_F(Options, CoupledOpacitySlidersPushTheMovedOneBack) {
  openSetup();
  drag(panel().SliderOpacityInhibit, 40);
  drag(panel().SliderMinimumOpacity, 70);
  EXPECT_EQ(panel().SliderMinimumOpacity.value(), 39);
  EXPECT_EQ(settings().OpacityMinimum, 39);
  drag(panel().SliderOpacityInhibit, 10);
  EXPECT_EQ(panel().SliderOpacityInhibit.value(), 40);
  EXPECT_EQ(panel().LabelInhibitOpacity.caption(), "(40%)");
  drag(panel().SliderMinimumOpacity, 0);
  drag(panel().SliderOpacityInhibit, 0);
  drag(panel().SliderMinimumOpacity, 50);
  EXPECT_EQ(panel().SliderMinimumOpacity.value(), 0) << "asks for -1, held at the bottom: the pair ends equal";
  EXPECT_EQ(settings().OpacityMinimum, 0);
}

TEST_F(Options, MaximumOpacityPreviewsInSetupButNotWhileRunning) {
  openSetup();
  const int32_t hwnd = overlayWindow()->hWnd();
  drag(panel().SliderOpacityInhibit, 40);
  EXPECT_EQ(layering.alphaOf(hwnd), 100);
  drag(panel().SliderOpacityInhibit, 41);
  EXPECT_EQ(layering.alphaOf(hwnd), 102);  // 102.5 to even
  pressSetup();
  const size_t calls = layering.alphaCalls().size();
  panel().SliderOpacityInhibit.setValue(90);
  panel().SliderOpacityInhibit_Scroll();  // the handler, as a running session would see it
  EXPECT_EQ(layering.alphaCalls().size(), calls);
  EXPECT_EQ(settings().OpacityInhibit, 90);
}

TEST_F(Options, UpdateFrequencyAppliesAtTheNextStartOrAtOnceWhileRunning) {
  openSetup("AutoFade=0\r\n");
  const uint32_t previewInterval = overlayWindow()->Timer1.interval();
  drag(panel().SliderUpdateFrequency, 250);
  EXPECT_EQ(panel().LabelUpdateFrequency.caption(), "(250mS)");
  EXPECT_EQ(settings().UpdateFrequency, 250);
  EXPECT_EQ(overlayWindow()->Timer1.interval(), previewInterval) << "the overlay is not called in setup";
  EXPECT_FALSE(overlayWindow()->Timer1.enabled());
  pressSetup();
  EXPECT_EQ(overlayWindow()->Timer1.interval(), 250u);
  panel().SliderUpdateFrequency.setValue(400);
  panel().SliderUpdateFrequency_Scroll();
  EXPECT_EQ(overlayWindow()->Timer1.interval(), 400u);
}

TEST_F(Options, SimpleBoxesStoreTheirValue) {
  openSetup("ProgressiveFeedback=1\r\n");
  click(panel().checkOneSD);
  click(panel().CheckDisplayStatistics);
  EXPECT_EQ(settings().OneSD, 1);
  EXPECT_EQ(settings().DisplayStatistics, 1);
  click(panel().CheckVideoActive);  // brings the opacity frame back
  click(panel().CheckInitialiseLumiDropToMinimumOpacity);
  EXPECT_EQ(settings().InitialiseLumiDropToMinimumOpacity, 1);
  pressSetup();
  EXPECT_NE(ini().find("InitialiseLumiDropToMinimumOpacity= 1\r\n"), std::string::npos);
}
