// The control panel: start-up, the remote link, the marker file, the setup
// panel and the ways the program ends.
#include <gtest/gtest.h>

#include "harness.h"

using fixtures::readFile;
using fixtures::writeFile;
using lumidrop::frmMain;
using lumidrop::True;
using lumidrop::False;
using namespace lumidrop::testing;

namespace {

const char* const kMarkerQuestion = "There could be another LumiDrop program running. Do you wish to continue?";

// The settings file after a first start and an "Exit", byte for byte: the
// defaults, the first-run link values, the overlay where the window system
// put it and the running panel at its design position.
std::string firstRunFile() {
  return std::string(
             "[General]\r\n"
             "AudioActive= 1\r\n"
             "VideoActive= 1\r\n"
             "UpdateFrequency= 100\r\n"
             "VolumeInhibit= 0\r\n"
             "OpacityInhibit= 100\r\n"
             "AutoFade= 1\r\n"
             "ProgressiveFeedback= 0\r\n"
             "InvertSound= 0\r\n"
             "DisplayStatistics= 0\r\n"
             "OneSD= 0\r\n"
             "Top= 1440\r\n"
             "Left= 1440\r\n"
             "Height= 7860\r\n"
             "Width= 10080\r\n"
             "CPTop= 1200\r\n"
             "CPLeft= 1200\r\n"
             "CPHeight= 1605\r\n"
             "CPWidth= 5520\r\n"
             "VolumeMaximum= 100\r\n"
             "OpacityMinimum= 0\r\n"
             "InitialiseLumiDropToMinimumOpacity= 0\r\n"
             "QELTAActive= 0\r\n"
             "Email=\"\"\r\n"
             "[MQTT]\r\n"
             "DSUid= 1\r\n"
             "ServerPortNumber= 1883\r\n"
             "DebugLevel= 0\r\n"
             "ServerAddress=\"tcp://") +
         lumidrop::kRelayBrokerHost +
         "\"\r\n"
         "PublisherTopic=\"data\"\r\n"
         "SubscriberTopic=\"/pelorvantis//feedback\"\r\n"
         "ClientID=\"C1-\"\r\n";
}

class Panel : public Scenario {};

}  // namespace

TEST_F(Panel, FirstStartWithoutASettingsFileAndExit) {
  start();
  ASSERT_FALSE(app.ended());
  const std::vector<std::string> opened = {
      "ReportVersion",
      std::string("initialiseMQTTConnection tcp://") + lumidrop::kRelayBrokerHost + " 1883 C1- 0",
      "subscribeToMQTTConnection /pelorvantis//feedback"};
  EXPECT_EQ(telvaris.calls, opened);
  EXPECT_EQ(readFile(root.file("lumidrop.pid")), "Telvaris LumiDrop\r\n");
  EXPECT_TRUE(fixtures::pathExists(root.file("remote.conf")));
  EXPECT_FALSE(fixtures::pathExists(iniPath())) << "nothing is saved before the first save";

  // The running bar at the design position.
  EXPECT_EQ(panel().height(), frmMain::kRunningHeight);
  EXPECT_EQ(panel().left(), frmMain::kDesignLeft);
  EXPECT_EQ(panel().top(), frmMain::kDesignTop);
  EXPECT_EQ(panel().caption(), "Telvaris LumiDrop v1.0.0");
  EXPECT_EQ(panel().savedCaption, panel().caption());
  EXPECT_TRUE(panel().visible());
  EXPECT_TRUE(panel().lblStatus.visible());
  EXPECT_EQ(panel().lblStatus.caption(), "");
  EXPECT_EQ(panel().feedbackRunning, True);
  EXPECT_EQ(panel().overlayShown, True);
  EXPECT_EQ(panel().previewActive, False);
  EXPECT_EQ(program->isWindowsNT6, True);

  // The overlay runs auto fade, shown, top-most, with the focus given to it.
  lumidrop::OverlayWindow* w = overlayWindow();
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->visible());
  EXPECT_TRUE(layering.topMost(w->hWnd()));
  EXPECT_EQ(overlay().autoFadeOn, True);
  EXPECT_EQ(overlay().fadeLevel, 10);
  EXPECT_EQ(overlay().instrumentID, -1);
  EXPECT_TRUE(w->Timer1.enabled());
  EXPECT_EQ(w->Timer1.interval(), 50u);
  EXPECT_EQ(lastAlpha(), 250);
  // The overlay was first loaded by a check-box handler, before the version
  // test: its first volume went through the mixer.
  ASSERT_FALSE(volume.changes().empty());
  EXPECT_EQ(volume.changes().front().road, lumidrop::RecordingVolume::Road::Mixer);
  EXPECT_EQ(volume.changes().front().value, 65535);

  const uint32_t before = backend.now();
  pressExit();
  EXPECT_TRUE(app.ended());
  EXPECT_EQ(app.exitCode(), 0);
  EXPECT_GE(backend.now() - before, 1000u) << "Exit waits a second before closing down";
  EXPECT_EQ(panel().lblStatus.caption(), "User requested closedown");
  EXPECT_FALSE(panel().btnExit.enabled());
  EXPECT_EQ(backend.repaints(panel()), 1);
  ASSERT_GE(telvaris.calls.size(), 5u);
  EXPECT_EQ(telvaris.calls[3], "unsubscribeFromMQTTConnection /pelorvantis//feedback");
  EXPECT_EQ(telvaris.calls[4], "terminateMQTTConnection");
  EXPECT_EQ(ini(), firstRunFile());
  EXPECT_FALSE(marker());
  // The overlay was unloaded: full volume, lowest opacity.
  EXPECT_EQ(overlayWindow(), nullptr);
  EXPECT_EQ(lastAlpha(), 0);
  EXPECT_EQ(lastVolume(), 100);
  EXPECT_EQ(volume.changes().back().road, lumidrop::RecordingVolume::Road::Endpoint);
}

TEST_F(Panel, MarkerFileAnsweredNoEndsTheProgramAndChangesNoFile) {
  writeSettings("AudioActive=1\r\n");
  writeFile(root.file("lumidrop.pid"), "left by a crash\n");
  const std::string iniBefore = ini();
  backend.answerNext(ui::MessageBoxResult::No);
  start();
  EXPECT_TRUE(app.ended());
  EXPECT_EQ(app.exitCode(), 0);
  ASSERT_EQ(backend.messages().size(), 1u);
  EXPECT_EQ(backend.messages()[0].text, kMarkerQuestion);
  EXPECT_EQ(backend.messages()[0].buttons, ui::MessageBoxButtons::YesNo);
  EXPECT_EQ(readFile(root.file("lumidrop.pid")), "left by a crash\n");
  EXPECT_EQ(ini(), iniBefore);
  EXPECT_EQ(overlayWindow(), nullptr);
  EXPECT_FALSE(panel().visible());
  // The question comes before the link is opened: the copy that may be
  // running keeps its session at the broker.
  EXPECT_EQ(telvaris.calls, std::vector<std::string>{"ReportVersion"});
}

TEST_F(Panel, MarkerFileAnsweredYesRunsAndExitDeletesIt) {
  writeFile(root.file("lumidrop.pid"), "left by a crash\n");
  backend.answerNext(ui::MessageBoxResult::Yes);
  start();
  ASSERT_FALSE(app.ended());
  EXPECT_EQ(readFile(root.file("lumidrop.pid")), "left by a crash\n") << "Yes leaves the file as it is";
  EXPECT_TRUE(overlayWindow()->visible());
  pressExit();
  EXPECT_TRUE(app.ended());
  EXPECT_FALSE(marker());
}

TEST_F(Panel, RefusedSubscriptionShowsTheCodeAndEndsWithoutLeavingAFile) {
  telvaris.subscribeResult = -1;
  writeFile(root.file("remote.conf"), "PORT=1883\r\n");
  start();
  EXPECT_TRUE(app.ended());
  EXPECT_NE(app.exitCode(), 0);
  ASSERT_EQ(backend.messages().size(), 1u);
  EXPECT_EQ(backend.messages()[0].text, "ERROR: Connection failure to remote server rc=-1");
  EXPECT_EQ(backend.messages()[0].buttons, ui::MessageBoxButtons::Ok);
  EXPECT_FALSE(fixtures::pathExists(iniPath()));
  EXPECT_FALSE(marker()) << "the marker this start wrote goes again";
  EXPECT_EQ(overlayWindow(), nullptr) << "no overlay is shown";
  EXPECT_TRUE(layering.alphaCalls().empty());
  EXPECT_TRUE(volume.changes().empty());
}

TEST_F(Panel, RefusedSubscriptionLeavesAnOldMarkerAndReportsPositiveCodes) {
  telvaris.subscribeResult = 5;
  writeFile(root.file("lumidrop.pid"), "old\n");
  backend.answerNext(ui::MessageBoxResult::Yes);
  start();
  ASSERT_EQ(backend.messages().size(), 2u);
  EXPECT_EQ(backend.messages()[1].text, "ERROR: Connection failure to remote server rc=5");
  EXPECT_EQ(readFile(root.file("lumidrop.pid")), "old\n") << "a marker this start did not write stays";
}

TEST_F(Panel, ClosingTheOverlayClosesTheProgramDownAsClosingThePanelDoes) {
  writeSettings("AutoFade=0\r\nVolumeInhibit=30\r\n");
  start();
  telvaris.queue({0});
  ticks(1);
  ASSERT_EQ(lastVolume(), 30);
  overlayWindow()->userClose();  // the close button of its frame
  EXPECT_TRUE(app.ended());
  EXPECT_EQ(app.exitCode(), 0);
  EXPECT_EQ(lastVolume(), 100) << "the volume is given back";
  EXPECT_EQ(lastAlpha(), 0);
  EXPECT_FALSE(marker());
  EXPECT_NE(ini().find("CPHeight= 1605\r\n"), std::string::npos) << ini();
  for (const std::string& call : telvaris.calls) EXPECT_EQ(call.find("unsubscribe"), std::string::npos) << call;
}

TEST_F(Panel, SetupTwiceStopsPreviewsRestartsAndSaves) {
  start();
  lumidrop::OverlayWindow* w = overlayWindow();
  ASSERT_NE(w, nullptr);
  // The user moves the overlay; its place is recorded when it unloads.
  w->userMoveResize({3000, 2400, 6000, 4500});

  pressSetup();
  EXPECT_EQ(panel().height(), frmMain::kSetupHeight);
  EXPECT_FALSE(panel().btnExit.enabled());
  EXPECT_EQ(panel().feedbackRunning, False);
  EXPECT_EQ(panel().previewActive, True);
  EXPECT_EQ(panel().overlayShown, True);
  EXPECT_TRUE(panel().hasFocus());
  EXPECT_FALSE(panel().lblStatus.visible());
  EXPECT_EQ(settings().Top, 2400);
  EXPECT_EQ(settings().Left, 3000);
  EXPECT_EQ(settings().Height, 4500);
  EXPECT_EQ(settings().Width, 6000);
  w = overlayWindow();
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->visible()) << "the overlay is the preview";
  EXPECT_EQ(w->left(), 3000) << "reloaded where it was";
  EXPECT_FALSE(w->Timer1.enabled());
  EXPECT_EQ(lastAlpha(), 250) << "the preview shows the maximum opacity";
  EXPECT_TRUE(panel().SliderOpacityInhibit.enabled());
  EXPECT_TRUE(panel().CheckVideoActive.enabled());
  EXPECT_FALSE(fixtures::pathExists(iniPath()));

  const int polls = telvaris.polls;
  backend.advance(1000);
  EXPECT_EQ(telvaris.polls, polls) << "no polling in setup";

  pressSetup();
  EXPECT_EQ(panel().height(), frmMain::kRunningHeight);
  EXPECT_TRUE(panel().btnExit.enabled());
  EXPECT_EQ(panel().feedbackRunning, True);
  EXPECT_EQ(panel().previewActive, False);
  EXPECT_TRUE(panel().lblStatus.visible());
  EXPECT_TRUE(overlayWindow()->Timer1.enabled());
  EXPECT_EQ(overlayWindow()->Timer1.interval(), 50u);
  EXPECT_TRUE(overlay().Me().hasFocus());
  EXPECT_FALSE(panel().SliderOpacityInhibit.enabled());
  EXPECT_NE(ini().find("Top= 2400\r\n"), std::string::npos) << "the settings were saved";
  backend.advance(200);
  EXPECT_GT(telvaris.polls, polls);
  EXPECT_FALSE(app.ended());
}

TEST_F(Panel, ClosingTheWindowDuringSetupUnloadsThePreviewAndSavesTheTallPanel) {
  start();
  pressSetup();
  closePanel();
  EXPECT_TRUE(app.ended());
  EXPECT_EQ(overlayWindow(), nullptr);
  EXPECT_EQ(lastAlpha(), 0);
  EXPECT_EQ(lastVolume(), 100);
  EXPECT_NE(ini().find("CPHeight= 7770\r\n"), std::string::npos) << ini();
  EXPECT_FALSE(marker());
  for (const auto& call : telvaris.calls) {
    EXPECT_EQ(call.find("unsubscribe"), std::string::npos) << "closing the window does not close the link";
    EXPECT_EQ(call.find("terminate"), std::string::npos);
  }
}

TEST_F(Panel, TerminationRequestClosesDownLikeClosingTheWindow) {
  start();
  overlay().feedbackTotal = 1;
  app.terminationRequested();
  EXPECT_TRUE(app.ended());
  EXPECT_EQ(app.exitCode(), 0);
  EXPECT_TRUE(fixtures::pathExists(iniPath()));
  EXPECT_FALSE(marker());
  EXPECT_EQ(lastVolume(), 100);
  EXPECT_EQ(lastAlpha(), 0);
  EXPECT_EQ(telvaris.calls.size(), 3u);
}

TEST_F(Panel, StoredGeometryRestoresPositionAndWidthOnly) {
  writeSettings("CPLeft=3000\r\nCPTop=2000\r\nCPWidth=6000\r\nCPHeight=9000\r\n");
  start();
  EXPECT_EQ(panel().left(), 3000);
  EXPECT_EQ(panel().top(), 2000);
  EXPECT_EQ(panel().width(), 6000);
  EXPECT_EQ(panel().height(), frmMain::kRunningHeight);
}

TEST_F(Panel, ZeroWidthRestoresNoGeometryAtAll) {
  writeSettings("CPLeft=3000\r\nCPTop=2000\r\nCPWidth=0\r\nCPHeight=9000\r\n");
  start();
  EXPECT_EQ(panel().left(), frmMain::kDesignLeft);
  EXPECT_EQ(panel().top(), frmMain::kDesignTop);
}

TEST_F(Panel, TheToggleDecidesByHeightAlone) {
  start();
  panel().userMoveResize({1200, 1200, 5520, 2500});  // the user stretched the running bar
  pressSetup();
  EXPECT_EQ(panel().height(), frmMain::kRunningHeight);
  EXPECT_TRUE(fixtures::pathExists(iniPath())) << "treated as leaving setup: saved";
  EXPECT_TRUE(overlayWindow()->Timer1.enabled());
}

TEST_F(Panel, GeometryBeyondSixteenBitsIsClampedWhenRecorded) {
  start();
  panel().userMoveResize({40000, -40000, 5520, 1605});
  overlayWindow()->userMoveResize({50000, 100, 70000, 3000});
  pressExit();
  EXPECT_NE(ini().find("CPLeft= 32767\r\n"), std::string::npos);
  EXPECT_NE(ini().find("CPTop=-32768\r\n"), std::string::npos);
  EXPECT_NE(ini().find("Left= 32767\r\n"), std::string::npos);
  EXPECT_NE(ini().find("Width= 32767\r\n"), std::string::npos);
}

TEST_F(Panel, RemoteConfWithoutSettingsUsesTheSettingsDefaults) {
  writeFile(root.file("remote.conf"), "PORT=9\r\nSUBSCRIBER_TOPIC=ignored\r\n");
  start();
  EXPECT_EQ(telvaris.calls[1], std::string("initialiseMQTTConnection tcp://") + lumidrop::kRelayBrokerHost +
                                   " 1883 C1- 0");
  EXPECT_EQ(telvaris.calls[2], "subscribeToMQTTConnection feedback");
}

TEST_F(Panel, WithoutRemoteConfTheLinkFieldsGoBackToTheFirstRunDefaults) {
  writeIni(
      "[General]\r\nEmail=\"me@example.org\"\r\n"
      "[MQTT]\r\nServerAddress=\"tcp://127.0.0.1\"\r\nServerPortNumber=1884\r\nDebugLevel=2\r\n"
      "SubscriberTopic=\"mine\"\r\nClientID=\"someone\"\r\n");
  start();
  EXPECT_EQ(telvaris.calls[1], std::string("initialiseMQTTConnection tcp://") + lumidrop::kRelayBrokerHost +
                                   " 1883 C1-me@example.org 0");
  EXPECT_EQ(telvaris.calls[2], "subscribeToMQTTConnection /pelorvantis/me@example.org/feedback");
  pressExit();
  EXPECT_NE(ini().find("SubscriberTopic=\"/pelorvantis/me@example.org/feedback\"\r\n"), std::string::npos);
  EXPECT_NE(ini().find("ServerPortNumber= 1883\r\n"), std::string::npos);
}

TEST_F(Panel, StoredLinkSettingsOpenTheLink) {
  writeSettings("Email=\"me@example.org\"\r\n",
                "ServerAddress=\"tcp://127.0.0.1\"\r\nServerPortNumber=1884\r\nDebugLevel=1\r\n"
                "SubscriberTopic=\"/pelorvantis/me@example.org/feedback\"\r\n");
  start();
  EXPECT_EQ(telvaris.calls[1], "initialiseMQTTConnection tcp://127.0.0.1 1884 C1-me@example.org 1");
}

TEST_F(Panel, ProgressiveSettingChecksTheBoxLockedAndMakesNoModeCalls) {
  writeSettings("ProgressiveFeedback=1\r\n");
  start();
  EXPECT_EQ(panel().CheckAutoAdjust.value(), 1);
  EXPECT_FALSE(panel().CheckAutoAdjust.enabled());
  EXPECT_EQ(panel().CheckVideoActive.value(), 0) << "progressive audio turns video off";
  EXPECT_EQ(panel().CheckAutoFade.value(), 0);
  EXPECT_EQ(overlay().autoFadeOn, False);
  EXPECT_EQ(overlay().progressiveOn, False);
  EXPECT_EQ(overlayWindow()->Timer1.interval(), 100u) << "no auto fade, no progressive interval";
  EXPECT_TRUE(panel().checkOneSD.enabled());
  pressSetup();
  pressSetup();
  EXPECT_FALSE(panel().CheckAutoAdjust.enabled()) << "nothing enables it again";
  EXPECT_NE(ini().find("ProgressiveFeedback= 1\r\n"), std::string::npos);
  EXPECT_NE(ini().find("VideoActive= 0\r\n"), std::string::npos);
}

TEST_F(Panel, StoredValuesOutsideTheControlsAreBroughtIntoThem) {
  writeSettings(
      "AudioActive=5\r\nVideoActive=-1\r\nAutoFade=0\r\nUpdateFrequency=50\r\nVolumeMaximum=150\r\n"
      "OpacityInhibit=-20\r\nOneSD=3\r\n");
  start();
  EXPECT_EQ(panel().CheckAudioActive.value(), 1);
  EXPECT_EQ(panel().CheckVideoActive.value(), 1);
  EXPECT_EQ(settings().AudioActive, 1);
  EXPECT_EQ(settings().VideoActive, 1);
  EXPECT_EQ(panel().SliderUpdateFrequency.value(), 100);
  EXPECT_EQ(settings().UpdateFrequency, 100);
  EXPECT_EQ(panel().LabelUpdateFrequency.caption(), "(100mS)");
  EXPECT_EQ(settings().VolumeMaximum, 100);
  EXPECT_EQ(panel().LabelVolumeMaximum.caption(), "(100%)");
  EXPECT_EQ(settings().OpacityInhibit, 0);
  EXPECT_EQ(overlayWindow()->Timer1.interval(), 100u);
  // One SD was disabled and cleared by Video Active before its turn came;
  // its stored 3 then checks it again, as the load order has it.
  EXPECT_EQ(panel().checkOneSD.value(), 1);
  EXPECT_EQ(settings().OneSD, 1);
  pressExit();
  EXPECT_NE(ini().find("UpdateFrequency= 100\r\n"), std::string::npos);
  EXPECT_NE(ini().find("VolumeMaximum= 100\r\n"), std::string::npos);
}

TEST_F(Panel, UnreadableNumbersStartAtZeroAndAreSavedSo) {
  writeSettings("UpdateFrequency=abc\r\nOpacityInhibit=40000\r\nAutoFade=0\r\n");
  start();
  EXPECT_EQ(settings().OpacityInhibit, 0);
  EXPECT_EQ(settings().UpdateFrequency, 100) << "0 is outside the slider: clamped";
  EXPECT_EQ(lastAlpha(), 0);
  pressExit();
  EXPECT_NE(ini().find("OpacityInhibit= 0\r\n"), std::string::npos);
}

TEST_F(Panel, RightClickOnTheOverlayRestoresAMinimisedPanel) {
  start();
  panel().userSetWindowState(ui::WindowState::Minimized);
  const size_t alphas = layering.alphaCalls().size();
  const size_t volumes = volume.changes().size();
  overlayWindow()->userMouseDown(2, 0, 100, 100);
  EXPECT_EQ(panel().windowState(), ui::WindowState::Normal);
  EXPECT_EQ(layering.alphaCalls().size(), alphas);
  EXPECT_EQ(volume.changes().size(), volumes);
  EXPECT_TRUE(overlayWindow()->Timer1.enabled());
}
