#include "forms/frm_lumidrop.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "forms/frm_main.h"

namespace lumidrop {

uint8_t alphaForLevel(int32_t level) {
  const double alpha = std::nearbyint(static_cast<double>(level) * 2.5);  // ties to even
  return static_cast<uint8_t>(std::clamp(alpha, 0.0, 255.0));
}

std::string percentageText(int64_t rewards, int64_t decisions) {
  if (decisions <= 0) return "0.00%";
  // Hundredths of a percent, rounded half up on the exact ratio.
  const int64_t hundredths = (rewards * 20000 + decisions) / (2 * decisions);
  std::string frac = std::to_string(hundredths % 100);
  if (frac.size() < 2) frac.insert(0, "0");
  return std::to_string(hundredths / 100) + "." + frac + "%";
}

OverlayWindow::OverlayWindow(ui::Application& app)
    : ui::Form(app, "frmLumidrop",
               ui::FormDesign{.caption = "Telvaris Lumidrop",
                              .border = ui::BorderStyle::SizableToolWindow,
                              .clientWidth = kClientWidth,
                              .clientHeight = kClientHeight,
                              .defaultPlacement = true,
                              .showInTaskbar = false,
                              .backColor = 0x000000}),
      Timer1(*this, "Timer1") {}

frmLumidrop::frmLumidrop(Program& program) : program_(program), settings_(program.settings) {}

frmLumidrop::~frmLumidrop() = default;

OverlayWindow* frmLumidrop::loadedWindow() const { return window_ && window_->loaded() ? window_.get() : nullptr; }

OverlayWindow& frmLumidrop::Me() {
  if (!window_) {
    window_ = std::make_unique<OverlayWindow>(program_.app);
    window_->onLoad = [this] { Form_Load(); };
    window_->onUnload = [this](int16_t& cancel) { Form_Unload(cancel); };
    window_->onMouseDown = [this](int button, int shift, float x, float y) { Form_MouseDown(button, shift, x, y); };
    window_->Timer1.onTimer = [this] { Timer1_Timer(); };
  }
  window_->load();
  return *window_;
}

// ------------------------------------------------------------ the window

void frmLumidrop::Show() { Me().show(); }

void frmLumidrop::SetFocus() { Me().setFocus(); }

void frmLumidrop::setOpacityLevel(int16_t& level) { applyOpacity(level); }

void frmLumidrop::MakeTopMost(int32_t& hwnd) {
  program_.layering.SetWindowPos(hwnd, WindowLayering::HWND_TOPMOST, 0, 0, 0, 0,
                                 WindowLayering::SWP_NOSIZE | WindowLayering::SWP_NOMOVE);
}

void frmLumidrop::MakeNormal(int32_t& hwnd) {
  program_.layering.SetWindowPos(hwnd, WindowLayering::HWND_NOTOPMOST, 0, 0, 0, 0,
                                 WindowLayering::SWP_NOSIZE | WindowLayering::SWP_NOMOVE);
}

void frmLumidrop::initialiseInstrumentID() { instrumentID = -1; }

void frmLumidrop::applyOpacity(int16_t level) {
  if (settings_.VideoActive == 0) level = 0;
  if (level < settings_.OpacityMinimum) level = settings_.OpacityMinimum;
  const uint8_t alpha = alphaForLevel(level);
  const int32_t hwnd = Me().hWnd();
  WindowLayering& user32 = program_.layering;
  const int32_t style = user32.GetWindowLongA(hwnd, WindowLayering::GWL_EXSTYLE);
  user32.SetWindowLongA(hwnd, WindowLayering::GWL_EXSTYLE, style | WindowLayering::WS_EX_LAYERED);
  user32.SetLayeredWindowAttributes(hwnd, 0, alpha, WindowLayering::LWA_ALPHA);
}

void frmLumidrop::applyVolume(int32_t level) {
  if (level > settings_.VolumeMaximum) level = settings_.VolumeMaximum;
  if (settings_.AudioActive == 0) return;
  if (program_.isWindowsNT6 == True) {
    // A new endpoint each time, so the volume goes to whatever device is
    // the default output now; the one held before is let go.
    volumeControl = program_.volume.createEndpointVolume();
    volumeControl->SetMasterVolumeLevelScalar(static_cast<float>(level) / 100.0f);
  } else {
    audio::setMixerVolume(program_.volume.mixer(), level, settings_.AudioActive);
  }
  // What unloadMeNow's applyVolume (100) would give, on this road.
  if (program_.guardVolume) {
    program_.guardVolume({program_.isWindowsNT6 == True ? audio::VolumeRestore::Road::Endpoint
                                                        : audio::VolumeRestore::Road::Mixer,
                          std::clamp<int32_t>(settings_.VolumeMaximum, 0, 100)});
  }
}

void frmLumidrop::Form_Load() {
  OverlayWindow& me = *window_;
  if (settings_.Height != 0) {
    me.setTop(settings_.Top);
    me.setLeft(settings_.Left);
    me.setHeight(settings_.Height);
    me.setWidth(settings_.Width);
  }
  applyVolume(100);
  if (settings_.InitialiseLumiDropToMinimumOpacity == 1) {
    applyOpacity(settings_.OpacityMinimum);
  } else {
    applyOpacity(settings_.OpacityInhibit);
  }
  autoFadeOn = False;
  instrumentID = -1;
  int32_t hwnd = me.hWnd();
  MakeTopMost(hwnd);
  me.Timer1.setEnabled(false);
}

void frmLumidrop::unloadMeNow() {
  if (settings_.AudioActive != 0) applyVolume(100);
  if (settings_.VideoActive != 0) applyOpacity(0);
  OverlayWindow& me = Me();
  settings_.Top = toSettingTwips(me.top());
  settings_.Left = toSettingTwips(me.left());
  settings_.Height = toSettingTwips(me.height());
  settings_.Width = toSettingTwips(me.width());
  me.unload();
  // A handler of this window may be running further up (its timer's tick
  // let events run): the object goes when that has returned.
  program_.app.retire(std::move(window_));
}

void frmLumidrop::Form_Unload(int16_t& cancel) {
  // Closing the overlay alone would leave the volume where the last
  // decision put it and the feedback unread: the whole program closes down
  // instead, which unloads the overlay on its way.
  cancel = True;
  program_.panel().overlayClosed();
}

void frmLumidrop::Form_MouseDown(int button, int /*shift*/, float /*x*/, float /*y*/) {
  if (button == 2) {
    program_.panel().setWindowState(ui::WindowState::Normal);
    return;
  }
  if (settings_.TestMode != 0) testSweep();
}

void frmLumidrop::testSweep() {
  for (int16_t level = 100; level >= 0; --level) {
    applyOpacity(level);
    applyVolume(level);
    program_.app.sleep(100);
    program_.app.doEvents();
  }
  for (int16_t level = 0; level <= 100; ++level) {
    applyOpacity(level);
    applyVolume(100 - level);
    program_.app.sleep(100);
    program_.app.doEvents();
  }
}

// ------------------------------------------------------- feedback polling

void frmLumidrop::startFeedback() {
  if (progressiveOn == True) {
    // The interval stays as ProgressiveAudio set it.
  } else if (autoFadeOn == True) {
    EnableAutoFade();
  } else {
    Me().Timer1.setInterval(static_cast<uint32_t>(std::max<int16_t>(settings_.UpdateFrequency, 0)));
  }
  Me().Timer1.setEnabled(true);
}

void frmLumidrop::stopFeedback() { Me().Timer1.setEnabled(false); }

void frmLumidrop::ChangeTimingInterval() {
  Me().Timer1.setInterval(static_cast<uint32_t>(std::max<int16_t>(settings_.UpdateFrequency, 0)));
}

void frmLumidrop::EnableAutoFade() {
  fadeLevel = 10;
  Me().Timer1.setInterval(kAutoFadeInterval);
  autoFadeOn = True;
}

void frmLumidrop::DisableAutoFade() {
  Me().Timer1.setInterval(static_cast<uint32_t>(std::max<int16_t>(settings_.UpdateFrequency, 0)));
  autoFadeOn = False;
}

void frmLumidrop::ProgressiveAudio(int16_t& on) {
  if (on == True) {
    Me().Timer1.setInterval(kProgressiveInterval);
    progressiveOn = True;
  } else {
    progressiveOn = False;
  }
}

void frmLumidrop::QELTAActive(int16_t& on) {
  if (on == True) Me().Timer1.setInterval(kQeltaInterval);
}

void frmLumidrop::Timer1_Timer() {
  const int32_t r = program_.telvaris.tlMQTTRetrieveFeedbackInformation();
  if (r < 0) return;
  // Counts saturate rather than wrap, so a run of any length keeps a true
  // ratio in range.
  feedbackTotal = static_cast<int32_t>(std::min<int64_t>(int64_t{feedbackTotal} + r, INT32_MAX));
  feedbackCount = static_cast<int32_t>(std::min<int64_t>(int64_t{feedbackCount} + 1, INT32_MAX));
  if (r == 1) {
    if (autoFadeOn == True) {
      if (fadeLevel > 0) --fadeLevel;
      applyOpacity(fadeLevel);
      applyVolume(100 - fadeLevel);
    } else {
      applyOpacity(0);
      applyVolume(100);
    }
  } else if (r == 0) {
    if (autoFadeOn == True) {
      if (fadeLevel < settings_.OpacityInhibit) ++fadeLevel;
      applyOpacity(fadeLevel);
      if (fadeLevel > settings_.VolumeInhibit) {
        applyVolume(100 - fadeLevel);
      } else {
        applyVolume(100);
      }
    } else {
      applyOpacity(settings_.OpacityInhibit);
      applyVolume(settings_.VolumeInhibit);
    }
  }
  program_.panel().lblStatus.setCaption(kStatusText + percentageText(feedbackTotal, feedbackCount));
  program_.app.doEvents();
}

}  // namespace lumidrop
