#include "forms/frm_main.h"

#include <algorithm>
#include <cmath>

#include "forms/frm_lumidrop.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "settings/create_config_file.h"
#include "settings/mod_options.h"

namespace lumidrop {

std::string millisecondsLabel(int32_t value) { return "(" + std::to_string(value) + "mS)"; }

std::string percentLabel(int32_t value) { return "(" + std::to_string(value) + "%)"; }

int16_t toSettingTwips(double twips) {
  const double rounded = std::nearbyint(twips);  // ties to even
  return static_cast<int16_t>(std::clamp(rounded, -32768.0, 32767.0));
}

namespace {

ui::FormDesign panelDesign() {
  ui::FormDesign d;
  d.caption = "Telvaris LumiDrop";
  d.border = ui::BorderStyle::FixedSingle;
  d.clientWidth = frmMain::kClientWidth;
  d.clientHeight = 7335;  // the full setup panel
  d.defaultPlacement = false;
  d.left = frmMain::kDesignLeft;
  d.top = frmMain::kDesignTop;
  return d;
}

}  // namespace

frmMain::frmMain(Program& program)
    : ui::Form(program.app, "frmMain", panelDesign()),
      btnSetup(*this, "btnSetup", {120, 120, 2415, 495}, "Setup"),
      btnExit(*this, "btnExit", {2880, 120, 2415, 495}, "Exit"),
      lblStatus(*this, "lblStatus", {120, 720, 5175, 255}),
      FrameVolume(*this, "FrameVolume", {120, 1200, 5175, 1335}),
      Label1(FrameVolume, "Label1", {120, 360, 2175, 375}, "MinimumVolume:"),
      SliderVolumeInhibit(FrameVolume, "SliderVolumeInhibit", {2040, 360, 1935, 375}),
      LabelInhibitVolume(FrameVolume, "LabelInhibitVolume", {3960, 360, 1095, 255}, "(1000mS)"),
      Label2(FrameVolume, "Label2", {120, 720, 2175, 375}, "Maximum Volume:"),
      SliderVolumeMaximum(FrameVolume, "SliderVolumeMaximum", {2040, 720, 1935, 375}),
      LabelVolumeMaximum(FrameVolume, "LabelVolumeMaximum", {3960, 720, 1095, 255}, "(1000mS)"),
      FrameOpacity(*this, "FrameOpacity", {120, 2640, 5175, 1695}),
      Label3(FrameOpacity, "Label3", {120, 360, 2295, 375}, "Minimum Opacity:"),
      SliderMinimumOpacity(FrameOpacity, "SliderMinimumOpacity", {2040, 360, 1935, 375}),
      LabelMinimumOpacity(FrameOpacity, "LabelMinimumOpacity", {3960, 360, 1095, 375}, "(1000mS)"),
      Label5(FrameOpacity, "Label5", {120, 720, 2295, 375}, "Maximum Opacity:"),
      SliderOpacityInhibit(FrameOpacity, "SliderOpacityInhibit", {2040, 720, 1935, 375}),
      LabelInhibitOpacity(FrameOpacity, "LabelInhibitOpacity", {3960, 720, 1095, 375}, "(1000mS)"),
      CheckInitialiseLumiDropToMinimumOpacity(FrameOpacity, "CheckInitialiseLumiDropToMinimumOpacity",
                                              {120, 1200, 3015, 375}, "Initialise LumiDrop to minimum opacity"),
      FrameUpdateFrequency(*this, "FrameUpdateFrequency", {120, 4440, 5175, 735}),
      Label7(FrameUpdateFrequency, "Label7", {120, 240, 2055, 375}, "Update Frequency:"),
      SliderUpdateFrequency(FrameUpdateFrequency, "SliderUpdateFrequency", {2040, 240, 1935, 375}),
      LabelUpdateFrequency(FrameUpdateFrequency, "LabelUpdateFrequency", {3960, 240, 1095, 375}, "(1000mS)"),
      Frame1(*this, "Frame1", {120, 5280, 2175, 1935}),
      CheckVideoActive(Frame1, "CheckVideoActive", {120, 240, 1455, 375}, "Video Active"),
      CheckAudioActive(Frame1, "CheckAudioActive", {120, 600, 1455, 375}, "Audio Active"),
      CheckAutoFade(Frame1, "CheckAutoFade", {120, 960, 1215, 375}, "Auto Fade"),
      CheckQELTA(Frame1, "CheckQELTA", {120, 1320, 1575, 375}, "QELTA Active"),
      FrameProgressiveAudio(*this, "FrameProgressiveAudio", {3120, 5280, 2175, 1935}),
      CheckAutoAdjust(FrameProgressiveAudio, "CheckAutoAdjust", {120, 240, 1935, 375}, "Progressive Audio"),
      CheckInvertSound(FrameProgressiveAudio, "CheckInvertSound", {120, 600, 1935, 435}, "Invert Sound"),
      CheckDisplayStatistics(FrameProgressiveAudio, "CheckDisplayStatistics", {120, 1080, 1935, 315},
                             "Display Statistics"),
      checkOneSD(FrameProgressiveAudio, "checkOneSD", {120, 1440, 1935, 375}, "One SD"),
      program_(program),
      settings_(program.settings) {
  SliderUpdateFrequency.setRange(100, 1000, 1, 5);
  SliderVolumeInhibit.setRange(0, 100, 5, 10);
  SliderVolumeMaximum.setRange(0, 100, 5, 10);
  SliderMinimumOpacity.setRange(0, 100, 5, 10);
  SliderOpacityInhibit.setRange(0, 100, 5, 10);

  onLoad = [this] { Form_Load(); };
  onUnload = [this](int16_t& cancel) { Form_Unload(cancel); };
  onTerminate = [this] { Form_Terminate(); };
  btnSetup.onClick = [this] { btnSetup_Click(); };
  btnExit.onClick = [this] { btnExit_Click(); };
  CheckAudioActive.onClick = [this] { CheckAudioActive_Click(); };
  CheckVideoActive.onClick = [this] { CheckVideoActive_Click(); };
  CheckAutoFade.onClick = [this] { CheckAutoFade_Click(); };
  CheckQELTA.onClick = [this] { CheckQELTA_Click(); };
  CheckAutoAdjust.onClick = [this] { CheckAutoAdjust_Click(); };
  CheckInvertSound.onClick = [this] { CheckInvertSound_Click(); };
  CheckDisplayStatistics.onClick = [this] { CheckDisplayStatistics_Click(); };
  checkOneSD.onClick = [this] { checkOneSD_Click(); };
  CheckInitialiseLumiDropToMinimumOpacity.onClick = [this] { CheckInitialiseLumiDropToMinimumOpacity_Click(); };
  SliderVolumeInhibit.onScroll = [this] { SliderVolumeInhibit_Scroll(); };
  SliderVolumeMaximum.onScroll = [this] { SliderVolumeMaximum_Scroll(); };
  SliderMinimumOpacity.onScroll = [this] { SliderMinimumOpacity_Scroll(); };
  SliderOpacityInhibit.onScroll = [this] { SliderOpacityInhibit_Scroll(); };
  SliderUpdateFrequency.onScroll = [this] { SliderUpdateFrequency_Scroll(); };
}

// ---------------------------------------------------------------- start-up

void frmMain::setBoxFromSetting(ui::CheckBox& box, int16_t& setting) {
  if (setting != 0 && setting != 1) setting = 1;
  box.setValue(setting);
}

template <typename Int>
void frmMain::setSliderFromSetting(ui::Slider& slider, Int& setting) {
  slider.setValue(setting);
  setting = static_cast<Int>(slider.value());
}

void frmMain::Form_Load() {
  setHeight(kLoadHeight);

  // The first call into the library loads it.
  int32_t major = 0, minor = 0, build = 0;
  program_.telvaris.ReportVersion(major, minor, build);

  ModOptions::loadSettings(settings_, settingsPath(program_.folder));
  CreateConfigFile(settings_, program_.folder);

  // The single-instance guard comes before the link: a second copy that
  // connected first would take the broker's session (same client identity)
  // away from the copy already running, whatever the user answers.
  const std::string marker = program_.file(kMarkerFileName);
  bool markerWritten = false;
  if (platform::fileExists(marker)) {
    if (program_.app.msgBox("There could be another LumiDrop program running. Do you wish to continue?",
                            ui::MessageBoxButtons::YesNo) == ui::MessageBoxResult::No) {
      program_.app.end(0);
    }
  } else {
    markerWritten = platform::replaceFileAtomically(marker, kMarkerText);
  }

  // The remote link; a failed connection shows as a failed subscription.
  // A refused link leaves the marker as it found it: the one this start
  // wrote goes, one it found stays.
  int32_t rc = 0;
  {
    // The connection attempt blocks the window thread (up to the library's
    // connect time-out): a termination request meanwhile ends the program
    // as a refused link does, from the signal itself.
    platform::EndAtOnceOnTermination ending(markerWritten ? marker : std::string(), kRefusedLinkExitCode);
    program_.telvaris.initialiseMQTTConnection(settings_.ServerAddress, settings_.ServerPortNumber,
                                               settings_.ClientID, settings_.DebugLevel);
    rc = program_.telvaris.subscribeToMQTTConnection(settings_.SubscriberTopic);
  }
  if (rc != 0) {
    if (markerWritten) platform::removeFile(marker);
    program_.app.msgBox("ERROR: Connection failure to remote server rc=" + std::to_string(rc),
                        ui::MessageBoxButtons::Ok);
    program_.app.end(kRefusedLinkExitCode);
  }

  if (settings_.CPWidth > 0) {
    setLeft(settings_.CPLeft);
    setTop(settings_.CPTop);
    setWidth(settings_.CPWidth);
    setHeight(settings_.CPHeight);
  }

  const ProgramVersion& v = program_.version;
  setCaption("Telvaris LumiDrop v" + std::to_string(v.major) + "." + std::to_string(v.minor) + "." +
             std::to_string(v.revision));
  savedCaption = caption();

  // Each box that changes runs its handler now, with the boxes before it in
  // place; the handlers may change settings further down the list.
  setBoxFromSetting(CheckAudioActive, settings_.AudioActive);
  setBoxFromSetting(CheckVideoActive, settings_.VideoActive);
  setBoxFromSetting(CheckAutoFade, settings_.AutoFade);
  setBoxFromSetting(CheckAutoAdjust, settings_.ProgressiveFeedback);
  setBoxFromSetting(checkOneSD, settings_.OneSD);
  setBoxFromSetting(CheckQELTA, settings_.QELTAActive);
  setBoxFromSetting(CheckInvertSound, settings_.InvertSound);
  setBoxFromSetting(CheckDisplayStatistics, settings_.DisplayStatistics);
  setBoxFromSetting(CheckInitialiseLumiDropToMinimumOpacity, settings_.InitialiseLumiDropToMinimumOpacity);

  setSliderFromSetting(SliderUpdateFrequency, settings_.UpdateFrequency);
  setSliderFromSetting(SliderVolumeInhibit, settings_.VolumeInhibit);
  setSliderFromSetting(SliderOpacityInhibit, settings_.OpacityInhibit);
  setSliderFromSetting(SliderVolumeMaximum, settings_.VolumeMaximum);
  setSliderFromSetting(SliderMinimumOpacity, settings_.OpacityMinimum);

  LabelUpdateFrequency.setCaption(millisecondsLabel(SliderUpdateFrequency.value()));
  LabelInhibitVolume.setCaption(percentLabel(SliderVolumeInhibit.value()));
  LabelInhibitOpacity.setCaption(percentLabel(SliderOpacityInhibit.value()));
  LabelVolumeMaximum.setCaption(percentLabel(SliderVolumeMaximum.value()));
  LabelMinimumOpacity.setCaption(percentLabel(SliderMinimumOpacity.value()));

  lblStatus.setVisible(false);
  feedbackRunning = False;
  overlayShown = False;

  if (settings_.AudioActive == 0) SliderVolumeInhibit.setEnabled(false);
  if (settings_.VideoActive == 0) SliderOpacityInhibit.setEnabled(false);

  program_.isWindowsNT6 = WindowsVersion(program_.queryOsVersion());

  lockOptions();
  startLumidrop();
}

// ------------------------------------------------------- session and setup

void frmMain::startLumidrop() {
  frmLumidrop& overlay = program_.lumidrop();
  if (overlayShown == False) overlay.Show();
  overlayShown = True;
  feedbackRunning = True;
  setHeight(kRunningHeight);
  lblStatus.setVisible(true);

  if (CheckAutoAdjust.value() == 0) {
    int16_t on = True;
    int16_t off = False;
    if (CheckQELTA.value() == 1) {
      overlay.QELTAActive(on);
      overlay.ProgressiveAudio(off);
    } else {
      if (CheckAutoFade.value() == 1) overlay.EnableAutoFade();
      overlay.ProgressiveAudio(off);
    }
  }
  overlay.setOpacityLevel(settings_.OpacityInhibit);
  overlay.initialiseInstrumentID();
  overlay.startFeedback();
  overlay.SetFocus();
  previewActive = False;
  lockOptions();
}

void frmMain::stopLumidrop() {
  program_.lumidrop().unloadMeNow();
  overlayShown = False;
  program_.lumidrop().stopFeedback();
  previewActive = False;
  setCaption(savedCaption);
  setHeight(kCompactHeight);
  lblStatus.setVisible(false);
}

void frmMain::lockOptions() {
  if (CheckAutoFade.value() == 1 || CheckQELTA.value() == 1) FrameUpdateFrequency.setVisible(false);
  SliderVolumeInhibit.setEnabled(false);
  SliderOpacityInhibit.setEnabled(false);
  CheckVideoActive.setEnabled(false);
  CheckAudioActive.setEnabled(false);
  CheckAutoFade.setEnabled(false);
  CheckAutoAdjust.setEnabled(false);
}

void frmMain::unlockOptions() {
  if (CheckAutoFade.value() == 0 && CheckAutoAdjust.value() == 0 && CheckQELTA.value() == 0) {
    FrameUpdateFrequency.setVisible(true);
  }
  SliderOpacityInhibit.setEnabled(true);
  SliderVolumeInhibit.setEnabled(true);
  CheckVideoActive.setEnabled(true);
  CheckAutoFade.setEnabled(true);
  CheckAudioActive.setEnabled(true);
}

void frmMain::btnSetup_Click() {
  if (height() < kSetupThreshold) {
    stopLumidrop();
    btnExit.setEnabled(false);
    setHeight(kSetupHeight);
    program_.lumidrop().Show();
    overlayShown = True;
    feedbackRunning = False;
    previewActive = True;
    unlockOptions();
    setFocus();
  } else {
    setHeight(kCompactHeight);
    startLumidrop();
    ModOptions::saveSettings(settings_, settingsPath(program_.folder));
    btnExit.setEnabled(true);
  }
}

void frmMain::btnExit_Click() {
  btnExit.setEnabled(false);
  lblStatus.setCaption("User requested closedown");
  refresh();
  program_.telvaris.unsubscribeFromMQTTConnection(settings_.SubscriberTopic);
  program_.telvaris.terminateMQTTConnection();
  program_.app.sleep(1000);
  closeDown();
}

void frmMain::Form_Unload(int16_t& /*cancel*/) { closeDown(); }

void frmMain::Form_Terminate() { closeDown(); }

void frmMain::overlayClosed() { closeDown(); }

void frmMain::closeDown() {
  if (feedbackRunning != False || previewActive != False) program_.lumidrop().unloadMeNow();
  settings_.CPTop = toSettingTwips(top());
  settings_.CPLeft = toSettingTwips(left());
  settings_.CPHeight = toSettingTwips(height());
  settings_.CPWidth = toSettingTwips(width());
  // A folder that cannot be written keeps the old file; the program has
  // nobody to tell at this point.
  ModOptions::saveSettings(settings_, settingsPath(program_.folder));
  const std::string marker = program_.file(kMarkerFileName);
  if (platform::fileExists(marker)) platform::removeFile(marker);
  program_.app.end(0);
}

// ----------------------------------------------------------------- options

void frmMain::CheckAudioActive_Click() {
  if (CheckAudioActive.value() != 0) {
    FrameVolume.setVisible(true);
    CheckAutoFade.setEnabled(true);
    if (CheckAutoAdjust.value() == 0 && CheckAutoFade.value() == 0 && CheckQELTA.value() == 0) {
      FrameUpdateFrequency.setVisible(true);
    }
  } else {
    FrameVolume.setVisible(false);
    if (CheckVideoActive.value() == 0) {
      CheckAutoFade.setValue(0);
      CheckQELTA.setValue(0);
    }
    if (CheckAutoAdjust.value() == 1) {
      CheckAutoAdjust.setValue(0);
      clearProgressiveOptions();
    }
  }
  settings_.AudioActive = static_cast<int16_t>(CheckAudioActive.value());
}

void frmMain::CheckVideoActive_Click() {
  settings_.VideoActive = static_cast<int16_t>(CheckVideoActive.value());
  if (CheckVideoActive.value() == 0) {
    FrameOpacity.setVisible(false);
    CheckInitialiseLumiDropToMinimumOpacity.setValue(0);
    SliderOpacityInhibit.setValue(100);
    SliderMinimumOpacity.setValue(0);
    LabelInhibitOpacity.setCaption(percentLabel(100));
    LabelMinimumOpacity.setCaption(percentLabel(0));
    settings_.OpacityMinimum = 0;
    settings_.OpacityInhibit = 100;
    if (CheckAudioActive.value() == 0) {
      CheckAutoFade.setValue(0);
      CheckQELTA.setValue(0);
    }
  } else {
    FrameOpacity.setVisible(true);
    CheckAutoAdjust.setValue(0);
    clearProgressiveOptions();
  }
  program_.lumidrop().setOpacityLevel(settings_.OpacityInhibit);
}

void frmMain::CheckAutoFade_Click() {
  if (CheckAutoFade.value() == 1) {
    if (CheckAudioActive.value() == 0 && CheckVideoActive.value() == 0) {
      CheckAutoFade.setValue(0);  // its own run stores 0
      return;
    }
    FrameUpdateFrequency.setVisible(false);
    CheckAutoAdjust.setValue(0);
    program_.lumidrop().EnableAutoFade();
  } else {
    if (CheckQELTA.value() == 0 && CheckAutoAdjust.value() == 0) FrameUpdateFrequency.setVisible(true);
    program_.lumidrop().DisableAutoFade();
  }
  settings_.AutoFade = static_cast<int16_t>(CheckAutoFade.value());
}

void frmMain::CheckQELTA_Click() {
  if (CheckQELTA.value() == 1) {
    if (CheckAudioActive.value() == 0 && CheckVideoActive.value() == 0) {
      CheckQELTA.setValue(0);  // its own run stores 0
      return;
    }
    CheckAutoAdjust.setValue(0);
    FrameUpdateFrequency.setVisible(false);
  } else if (CheckAutoAdjust.value() == 0 && CheckAutoFade.value() == 0 && CheckQELTA.value() == 0) {
    FrameUpdateFrequency.setVisible(true);
  }
  settings_.QELTAActive = static_cast<int16_t>(CheckQELTA.value());
}

void frmMain::CheckAutoAdjust_Click() {
  if (CheckAutoAdjust.value() == 1) {
    if (CheckAudioActive.value() == 0) CheckAudioActive.setValue(1);
    if (CheckVideoActive.value() == 1) CheckVideoActive.setValue(0);
    if (CheckAutoFade.value() == 1) CheckAutoFade.setValue(0);
    if (CheckQELTA.value() == 1) CheckQELTA.setValue(0);
    FrameUpdateFrequency.setVisible(false);
    checkOneSD.setEnabled(true);
    CheckDisplayStatistics.setEnabled(true);
    CheckInvertSound.setEnabled(true);
  } else {
    if (CheckQELTA.value() == 0 && CheckAutoFade.value() == 0) FrameUpdateFrequency.setVisible(true);
    clearProgressiveOptions();
  }
  settings_.ProgressiveFeedback = static_cast<int16_t>(CheckAutoAdjust.value());
}

void frmMain::clearProgressiveOptions() {
  for (ui::CheckBox* box : {&checkOneSD, &CheckDisplayStatistics, &CheckInvertSound}) {
    box->setEnabled(false);
    box->setValue(0);
  }
}

void frmMain::CheckInvertSound_Click() { settings_.InvertSound = static_cast<int16_t>(CheckInvertSound.value()); }

void frmMain::CheckDisplayStatistics_Click() {
  settings_.DisplayStatistics = static_cast<int16_t>(CheckDisplayStatistics.value());
}

void frmMain::checkOneSD_Click() { settings_.OneSD = static_cast<int16_t>(checkOneSD.value()); }

void frmMain::CheckInitialiseLumiDropToMinimumOpacity_Click() {
  settings_.InitialiseLumiDropToMinimumOpacity =
      static_cast<int16_t>(CheckInitialiseLumiDropToMinimumOpacity.value());
}

void frmMain::holdBelow(ui::Slider& moved, const ui::Slider& partner) {
  if (partner.value() < moved.value()) moved.setValue(partner.value() - 1);  // kept in range by the slider
}

void frmMain::holdAbove(ui::Slider& moved, const ui::Slider& partner) {
  if (moved.value() < partner.value()) moved.setValue(partner.value() + 1);
}

void frmMain::SliderVolumeInhibit_Scroll() {
  holdBelow(SliderVolumeInhibit, SliderVolumeMaximum);
  LabelInhibitVolume.setCaption(percentLabel(SliderVolumeInhibit.value()));
  settings_.VolumeInhibit = SliderVolumeInhibit.value();
}

void frmMain::SliderVolumeMaximum_Scroll() {
  holdAbove(SliderVolumeMaximum, SliderVolumeInhibit);
  LabelVolumeMaximum.setCaption(percentLabel(SliderVolumeMaximum.value()));
  settings_.VolumeMaximum = static_cast<int16_t>(SliderVolumeMaximum.value());
}

void frmMain::SliderMinimumOpacity_Scroll() {
  holdBelow(SliderMinimumOpacity, SliderOpacityInhibit);
  LabelMinimumOpacity.setCaption(percentLabel(SliderMinimumOpacity.value()));
  settings_.OpacityMinimum = static_cast<int16_t>(SliderMinimumOpacity.value());
}

void frmMain::SliderOpacityInhibit_Scroll() {
  holdAbove(SliderOpacityInhibit, SliderMinimumOpacity);
  LabelInhibitOpacity.setCaption(percentLabel(SliderOpacityInhibit.value()));
  settings_.OpacityInhibit = static_cast<int16_t>(SliderOpacityInhibit.value());
  if (feedbackRunning == False && previewActive == True) program_.lumidrop().setOpacityLevel(settings_.OpacityInhibit);
}

void frmMain::SliderUpdateFrequency_Scroll() {
  LabelUpdateFrequency.setCaption(millisecondsLabel(SliderUpdateFrequency.value()));
  settings_.UpdateFrequency = static_cast<int16_t>(SliderUpdateFrequency.value());
  if (feedbackRunning == True) program_.lumidrop().ChangeTimingInterval();
}

}  // namespace lumidrop
