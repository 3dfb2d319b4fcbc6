// frmMain: the control panel and the program's start-up window.
//
// While a session runs it is a small bar with "Setup", "Exit" and the
// status line; "Setup" opens it to full height with every option and the
// overlay as a preview, and starts a new session when pressed again.
#pragma once

#include <cstdint>
#include <string>

#include "forms/program.h"
#include "ui/controls.h"

namespace lumidrop {

class frmMain : public ui::Form {
 public:
  // Panel heights, in twips.
  static constexpr int32_t kLoadHeight = 1275;
  static constexpr int32_t kCompactHeight = 1200;
  static constexpr int32_t kRunningHeight = 1605;
  static constexpr int32_t kSetupHeight = 7770;
  static constexpr int32_t kSetupThreshold = 2000;
  static constexpr int32_t kClientWidth = 5430;
  // Where the panel stands until a stored position is restored.
  static constexpr int32_t kDesignLeft = 1200;
  static constexpr int32_t kDesignTop = 1200;

  static constexpr const char* kMarkerFileName = "lumidrop.pid";
  static constexpr const char* kMarkerText = "Telvaris LumiDrop\r\n";
  // The exit code when the remote link could not be set up (also when a
  // termination request cut the connection attempt short).
  static constexpr int kRefusedLinkExitCode = 1;

  explicit frmMain(Program& program);

  // Event handlers.
  void Form_Load();
  void btnSetup_Click();
  void btnExit_Click();
  void Form_Unload(int16_t& cancel);
  void Form_Terminate();
  void CheckAudioActive_Click();
  void CheckVideoActive_Click();
  void CheckAutoFade_Click();
  void CheckQELTA_Click();
  void CheckAutoAdjust_Click();
  void CheckInvertSound_Click();
  void CheckDisplayStatistics_Click();
  void checkOneSD_Click();
  void CheckInitialiseLumiDropToMinimumOpacity_Click();
  void SliderVolumeInhibit_Scroll();
  void SliderVolumeMaximum_Scroll();
  void SliderMinimumOpacity_Scroll();
  void SliderOpacityInhibit_Scroll();
  void SliderUpdateFrequency_Scroll();

  // The overlay's window was closed by the user: the program closes down as
  // when the panel's window is closed.
  void overlayClosed();

  // Panel state (booleans: True -1, False 0).
  int16_t overlayShown = False;
  int16_t feedbackRunning = False;
  int16_t previewActive = False;
  std::string savedCaption;

  ui::Button btnSetup;
  ui::Button btnExit;
  ui::Label lblStatus;
  ui::Frame FrameVolume;
  ui::Label Label1;
  ui::Slider SliderVolumeInhibit;
  ui::Label LabelInhibitVolume;
  ui::Label Label2;
  ui::Slider SliderVolumeMaximum;
  ui::Label LabelVolumeMaximum;
  ui::Frame FrameOpacity;
  ui::Label Label3;
  ui::Slider SliderMinimumOpacity;
  ui::Label LabelMinimumOpacity;
  ui::Label Label5;
  ui::Slider SliderOpacityInhibit;
  ui::Label LabelInhibitOpacity;
  ui::CheckBox CheckInitialiseLumiDropToMinimumOpacity;
  ui::Frame FrameUpdateFrequency;
  ui::Label Label7;
  ui::Slider SliderUpdateFrequency;
  ui::Label LabelUpdateFrequency;
  ui::Frame Frame1;
  ui::CheckBox CheckVideoActive;
  ui::CheckBox CheckAudioActive;
  ui::CheckBox CheckAutoFade;
  ui::CheckBox CheckQELTA;
  ui::Frame FrameProgressiveAudio;
  ui::CheckBox CheckAutoAdjust;
  ui::CheckBox CheckInvertSound;
  ui::CheckBox CheckDisplayStatistics;
  ui::CheckBox checkOneSD;

 private:
  void startLumidrop();
  void stopLumidrop();
  void lockOptions();
  void unlockOptions();
  [[noreturn]] void closeDown();
  void clearProgressiveOptions();
  // A check box set from a stored setting: any value but 0 checks it, and
  // the setting then holds 1.
  void setBoxFromSetting(ui::CheckBox& box, int16_t& setting);
  // A slider set from a stored setting, clamped into its range; the setting
  // keeps the clamped value.
  template <typename Int>
  void setSliderFromSetting(ui::Slider& slider, Int& setting);
  // The coupled pairs: the moved slider is pushed back past its partner.
  void holdBelow(ui::Slider& moved, const ui::Slider& partner);
  void holdAbove(ui::Slider& moved, const ui::Slider& partner);

  Program& program_;
  LumidropSettings& settings_;
};

// "(" value "mS)" and "(" value "%)".
std::string millisecondsLabel(int32_t value);
std::string percentLabel(int32_t value);

// A position or size in twips as the 16-bit settings hold it: rounded,
// halves to even, and kept inside the 16-bit range.
int16_t toSettingTwips(double twips);

}  // namespace lumidrop
