// frmLumidrop: the black, top-most overlay whose opacity dims what lies
// under it, and the owner of the program's two outputs (the overlay's
// alpha and the system volume). Its timer polls the remote feedback
// decisions and turns each into an opacity and a volume.
//
// The object lives for the whole run; its window is loaded on first touch
// (hidden, running Form_Load) and unloaded by unloadMeNow. Its fields keep
// their values across unloads.
#pragma once

#include <cstdint>
#include <memory>

#include "forms/program.h"
#include "ui/controls.h"

namespace lumidrop {

class OverlayWindow : public ui::Form {
 public:
  static constexpr int32_t kClientWidth = 9840;
  static constexpr int32_t kClientHeight = 7365;
  explicit OverlayWindow(ui::Application& app);
  ui::Timer Timer1;
};

class frmLumidrop {
 public:
  // Timer intervals, in milliseconds.
  static constexpr uint32_t kAutoFadeInterval = 50;
  static constexpr uint32_t kProgressiveInterval = 32;
  static constexpr uint32_t kQeltaInterval = 4;
  static constexpr const char* kStatusText = "Reward Percentage is ";

  explicit frmLumidrop(Program& program);
  ~frmLumidrop();

  // What the control panel calls.
  void Show();
  void SetFocus();
  void setOpacityLevel(int16_t& level);  // the OpacityLevel property
  void MakeTopMost(int32_t& hwnd);
  void MakeNormal(int32_t& hwnd);
  void initialiseInstrumentID();
  void unloadMeNow();
  void startFeedback();
  void stopFeedback();
  void ChangeTimingInterval();
  void EnableAutoFade();
  void DisableAutoFade();
  void ProgressiveAudio(int16_t& on);
  void QELTAActive(int16_t& on);

  // Events.
  void Form_Load();
  // The user closed the overlay's window (its frame's close button).
  void Form_Unload(int16_t& cancel);
  void Form_MouseDown(int button, int shift, float x, float y);
  void Timer1_Timer();

  // The window, loaded (hidden, with Form_Load) when it is not.
  OverlayWindow& Me();
  // The window if it is loaded, else nullptr; loads nothing.
  OverlayWindow* loadedWindow() const;

  // Fields (booleans: True -1, False 0).
  int16_t fadeLevel = 0;
  int16_t autoFadeOn = False;
  int16_t progressiveOn = False;
  int16_t instrumentID = 0;
  // Decisions received and rewards among them, over the whole run; 32 bits
  // so that the percentage stays right past 32767 decisions.
  int32_t feedbackCount = 0;
  int32_t feedbackTotal = 0;
  std::unique_ptr<audio::EndpointVolume> volumeControl;

 private:
  void applyOpacity(int16_t level);
  void applyVolume(int32_t level);
  void testSweep();

  Program& program_;
  LumidropSettings& settings_;
  std::unique_ptr<OverlayWindow> window_;
};

// The layered-window alpha of an opacity level: level × 2.5 rounded to the
// nearest whole number, halves to even, kept within a byte.
uint8_t alphaForLevel(int32_t level);

// "#0.00%" of rewards / decisions, rounded half up on the exact decimal.
std::string percentageText(int64_t rewards, int64_t decisions);

}  // namespace lumidrop
