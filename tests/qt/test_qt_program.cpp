// The fading program's two windows on Qt under a real X server with a
// window manager: what outside X clients see of the overlay's opacity and
// top-most placement, the panel's heights in its states, the controls at
// their places, the right click that restores the panel, and closing.
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <algorithm>

#include "forms/frm_lumidrop.h"
#include "forms/frm_main.h"
#include "forms/program.h"
#include "forms/recording_outputs.h"
#include "harness.h"
#include "qt/qt_layering.h"
#include "qt_fixture.h"

namespace {

using lumidrop::frmMain;
using lumidrop::testing::ScriptedTelvaris;

// Qt writes _NET_WM_WINDOW_OPACITY as round(opacity * 0xFFFFFFFF); the
// overlay's opacity is alpha / 255, which makes alpha * 0x01010101.
uint32_t opacityProperty(int alpha) { return static_cast<uint32_t>(alpha) * 0x01010101u; }

bool contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

class QtProgram : public qttest::OnXServer {
 protected:
  void SetUp() override {
    OnXServer::SetUp();
    fixtures::writeFile(root.file("remote.conf"), "PORT=1883\r\n");
    // The overlay at its designed size beside the panel, so that the
    // screenshots show both.
    fixtures::writeFile(root.file("lumidrop.ini"),
                        "[General]\r\nTop= 1200\r\nLeft= 6900\r\nHeight= 7860\r\nWidth= 10080\r\n");
    program = std::make_unique<lumidrop::Program>(app, telvaris, layering, volume, root.path());
    program->queryOsVersion = [] { return platform::OsVersion{true, 2, 6, 1}; };
  }
  void TearDown() override { program.reset(); }

  frmMain& panel() { return program->panel(); }
  QWidget* panelWidget() { return backend.widget(panel()); }
  QWidget* overlayWidget() {
    auto* w = program->overlayMade() ? program->lumidrop().loadedWindow() : nullptr;
    return w ? backend.widget(*w) : nullptr;
  }
  // Starts the program and waits until both windows are framed on screen.
  void start() {
    app.start(panel());
    ASSERT_FALSE(app.ended());
    ASSERT_TRUE(pumpUntil([&] { return framed(panelWidget()) && framed(overlayWidget()); }))
        << "the windows were not shown: panel framed " << framed(panelWidget()) << ", overlay framed "
        << framed(overlayWidget()) << "; the window manager has "
        << x().client({"xprop", "-root", "_NET_CLIENT_LIST"}).value_or("?");
    // ... and laid out in their frames as the model has them.
    ASSERT_TRUE(pumpUntil([&] { return laidOut(panel()) && laidOut(*program->lumidrop().loadedWindow()); }));
  }
  bool laidOut(ui::Form& form) {
    const QRect outer = backend.widget(form)->frameGeometry();
    return outer == QRect(form.left() / 15, form.top() / 15, form.width() / 15, form.height() / 15);
  }
  bool framed(QWidget* w) { return w && !x().cardinals(xid(w), "_NET_FRAME_EXTENTS").empty(); }

  // The outer height of a window in pixels as the X server has it: the
  // inside (xwininfo) and the window manager's frame (_NET_FRAME_EXTENTS:
  // left, right, top, bottom).
  int outerHeight(QWidget* w) {
    const auto box = x().clientBox(xid(w));
    const auto frame = x().cardinals(xid(w), "_NET_FRAME_EXTENTS");
    if (!box || frame.size() != 4) return -1;
    return box->height + static_cast<int>(frame[2] + frame[3]);
  }
  int outerWidth(QWidget* w) {
    const auto box = x().clientBox(xid(w));
    const auto frame = x().cardinals(xid(w), "_NET_FRAME_EXTENTS");
    if (!box || frame.size() != 4) return -1;
    return box->width + static_cast<int>(frame[0] + frame[1]);
  }
  bool heightReaches(QWidget* w, int twips) {
    const int pixels = twips / ui::kTwipsPerPixel;
    return pumpUntil([&] { return outerHeight(w) == pixels; });
  }
  void clickSetup() { QTest::mouseClick(backend.widget(panel().btnSetup), Qt::LeftButton); }

  ScriptedTelvaris telvaris;
  lumidrop::QtLayering layering{backend};
  lumidrop::RecordingVolume volume;
  std::unique_ptr<lumidrop::Program> program;
};

}  // namespace

TEST_F(QtProgram, TheScreenHasTheLogicalDpiOfTheDesign) {
  // Xvfb runs at 96 dpi: the form toolkit's 15 twips to the pixel.
  EXPECT_DOUBLE_EQ(backend.twipsPerPixel(), 15.0);
}

TEST_F(QtProgram, TheOverlaysOpacityPropertyFollowsApplyOpacity) {
  start();
  const uint64_t overlay = xid(overlayWidget());
  // Form_Load and startLumidrop: OpacityInhibit 100 gives alpha 250.
  EXPECT_TRUE(pumpUntil([&] { return x().cardinal(overlay, "_NET_WM_WINDOW_OPACITY") == opacityProperty(250); }));
  for (int16_t level : {40, 0, 1, 3, 5, 73, 100}) {
    program->lumidrop().setOpacityLevel(level);
    const uint32_t expected = opacityProperty(lumidrop::alphaForLevel(level));
    EXPECT_TRUE(pumpUntil([&] { return x().cardinal(overlay, "_NET_WM_WINDOW_OPACITY") == expected; }))
        << "level " << level << ": expected " << expected << ", the server has "
        << x().cardinal(overlay, "_NET_WM_WINDOW_OPACITY").value_or(0);
  }
  EXPECT_EQ(opacityProperty(100), 1684300900u) << "level 40: alpha 100";
  // Minimum opacity holds the overlay above it.
  program->settings.OpacityMinimum = 20;
  int16_t zero = 0;
  program->lumidrop().setOpacityLevel(zero);
  EXPECT_TRUE(pumpUntil([&] { return x().cardinal(overlay, "_NET_WM_WINDOW_OPACITY") == opacityProperty(50); }));
  screenshot("overlay");
}

TEST_F(QtProgram, TheOverlayIsAToolWindowKeptAboveTheOthers) {
  start();
  QWidget* overlay = overlayWidget();
  EXPECT_TRUE(pumpUntil([&] { return contains(x().atoms(xid(overlay), "_NET_WM_STATE"), "_NET_WM_STATE_ABOVE"); }))
      << "the window manager does not keep the overlay above";
  // A tool (utility) window: a thin caption and no taskbar entry.
  EXPECT_TRUE(contains(x().atoms(xid(overlay), "_NET_WM_WINDOW_TYPE"), "_NET_WM_WINDOW_TYPE_UTILITY"));
  EXPECT_FALSE(contains(x().atoms(xid(panelWidget()), "_NET_WM_STATE"), "_NET_WM_STATE_ABOVE"));

  // The panel takes the focus: the overlay still stacks above it (the
  // stacking list runs from bottom to top; it names the frames' clients).
  panelWidget()->activateWindow();
  panelWidget()->raise();
  auto above = [&] {
    const auto stack = x().rootWindows("_NET_CLIENT_LIST_STACKING");
    const auto o = std::find(stack.begin(), stack.end(), xid(overlay));
    const auto p = std::find(stack.begin(), stack.end(), xid(panelWidget()));
    return o != stack.end() && p != stack.end() && o > p;
  };
  EXPECT_TRUE(pumpUntil(above)) << "the panel came above the overlay";

  // MakeNormal on the shown overlay takes it out of the top layer; its
  // opacity stays.
  const auto before = x().cardinal(xid(overlay), "_NET_WM_WINDOW_OPACITY");
  int32_t hwnd = program->lumidrop().Me().hWnd();
  program->lumidrop().MakeNormal(hwnd);
  EXPECT_TRUE(pumpUntil([&] { return !contains(x().atoms(xid(overlay), "_NET_WM_STATE"), "_NET_WM_STATE_ABOVE"); }));
  EXPECT_TRUE(overlay->isVisible());
  EXPECT_EQ(x().cardinal(xid(overlay), "_NET_WM_WINDOW_OPACITY"), before);
  program->lumidrop().MakeTopMost(hwnd);
  EXPECT_TRUE(pumpUntil([&] { return contains(x().atoms(xid(overlay), "_NET_WM_STATE"), "_NET_WM_STATE_ABOVE"); }));
}

TEST_F(QtProgram, ThePanelsHeightFollowsTheRunningSetupAndCompactStates) {
  start();
  QWidget* w = panelWidget();
  EXPECT_TRUE(heightReaches(w, frmMain::kRunningHeight)) << outerHeight(w);
  EXPECT_EQ(outerWidth(w), (frmMain::kClientWidth + 6 * 15) / 15) << "the designed client width and frame";
  EXPECT_TRUE(backend.widget(panel().lblStatus)->isVisible());
  screenshot("panel-running");

  clickSetup();
  EXPECT_EQ(panel().height(), frmMain::kSetupHeight);
  EXPECT_TRUE(heightReaches(w, frmMain::kSetupHeight)) << outerHeight(w);
  EXPECT_TRUE(backend.widget(panel().CheckVideoActive)->isEnabled()) << "setup unlocks the options";
  EXPECT_FALSE(backend.widget(panel().btnExit)->isEnabled());
  screenshot("panel-setup");

  clickSetup();
  EXPECT_TRUE(heightReaches(w, frmMain::kRunningHeight)) << outerHeight(w);
  EXPECT_FALSE(backend.widget(panel().CheckVideoActive)->isEnabled()) << "a session locks the options";
  EXPECT_TRUE(backend.widget(panel().btnExit)->isEnabled());

  // The compact bar, as stopLumidrop leaves it.
  panel().setHeight(frmMain::kCompactHeight);
  panel().lblStatus.setVisible(false);
  EXPECT_TRUE(heightReaches(w, frmMain::kCompactHeight)) << outerHeight(w);
  screenshot("panel-compact");
}

TEST_F(QtProgram, EveryControlStandsWhereTheModelPutsItWithItsCaptionAndState) {
  start();
  clickSetup();
  ASSERT_TRUE(heightReaches(panelWidget(), frmMain::kSetupHeight));
  // A few from the design, in pixels at 15 twips each.
  auto* setup = qobject_cast<QPushButton*>(backend.widget(panel().btnSetup));
  ASSERT_NE(setup, nullptr);
  EXPECT_EQ(setup->geometry(), QRect(8, 8, 161, 33));
  EXPECT_EQ(setup->text(), "Setup");
  EXPECT_EQ(backend.widget(panel().Label1)->geometry(), QRect(8, 24, 145, 25));
  EXPECT_EQ(backend.widget(panel().Label1)->parentWidget(), backend.widget(panel().FrameVolume));
  EXPECT_EQ(backend.widget(panel().CheckInitialiseLumiDropToMinimumOpacity)->geometry(), QRect(8, 80, 201, 25));
  EXPECT_EQ(backend.widget(panel().FrameProgressiveAudio)->geometry(), QRect(208, 352, 145, 129));

  // All of them: place, caption, shown and enabled as the model has them.
  std::function<void(const ui::Container&)> check = [&](const ui::Container& container) {
    for (const ui::Control* c : container.children()) {
      QWidget* w = backend.widget(*c);
      ASSERT_NE(w, nullptr) << c->name();
      EXPECT_EQ(w->geometry(), QRect(c->left() / 15, c->top() / 15, c->width() / 15, c->height() / 15))
          << c->name();
      EXPECT_EQ(w->isVisible(), c->onScreen()) << c->name();
      EXPECT_EQ(w->isEnabled(), c->usable()) << c->name();
      if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        EXPECT_EQ(b->text().toStdString(), c->caption()) << c->name();
      }
      if (auto* l = qobject_cast<QLabel*>(w)) {
        EXPECT_EQ(l->text().toStdString(), c->caption()) << c->name();
      }
      if (c->kind() == ui::Kind::Frame) check(static_cast<const ui::Container&>(*c));
    }
  };
  check(panel());
  EXPECT_EQ(qobject_cast<QLabel*>(backend.widget(panel().LabelUpdateFrequency))->text(), "(100mS)");
  EXPECT_FALSE(backend.widget(panel().FrameUpdateFrequency)->isVisible()) << "Auto Fade is on by default";
}

TEST_F(QtProgram, ARightClickOnTheOverlayRestoresTheMinimisedPanel) {
  start();
  QWidget* w = panelWidget();
  w->showMinimized();  // as the minimise button does
  ASSERT_TRUE(pumpUntil([&] { return panel().windowState() == ui::WindowState::Minimized; }))
      << "the model did not hear of the minimised panel";
  ASSERT_TRUE(pumpUntil([&] { return x().wmState(xid(w)) == "Iconic"; }));

  // A left click (TestMode 0) does nothing.
  QTest::mouseClick(overlayWidget(), Qt::LeftButton, {}, QPoint(40, 40));
  pumpUntil([] { return false; }, 200);
  EXPECT_EQ(x().wmState(xid(w)), "Iconic");

  QTest::mouseClick(overlayWidget(), Qt::RightButton, {}, QPoint(40, 40));
  EXPECT_EQ(panel().windowState(), ui::WindowState::Normal);
  EXPECT_TRUE(pumpUntil([&] { return x().wmState(xid(w)) == "Normal"; })) << x().wmState(xid(w));
  EXPECT_TRUE(overlayWidget()->isVisible());
}

TEST_F(QtProgram, AMovedOverlayKeepsItsPlaceInTwips) {
  start();
  QWidget* w = overlayWidget();
  // The user drags the overlay: the window system moves its frame.
  w->windowHandle()->setFramePosition(QPoint(300, 200));
  auto* overlay = program->lumidrop().loadedWindow();
  ASSERT_TRUE(pumpUntil([&] { return overlay->left() == 300 * 15 && overlay->top() == 200 * 15; }))
      << overlay->left() << "," << overlay->top();
  program->lumidrop().unloadMeNow();
  EXPECT_EQ(program->settings.Left, 4500);
  EXPECT_EQ(program->settings.Top, 3000);
  EXPECT_EQ(program->settings.Height, 7860) << "the designed outer height";
}

TEST_F(QtProgram, ClosingThePanelWindowEndsTheProgramAndSavesTheSettings) {
  start();
  QWidget* w = panelWidget();
  QTimer::singleShot(0, [w] { w->close(); });  // as the close button does
  backend.run();
  EXPECT_TRUE(app.ended());
  EXPECT_EQ(app.exitCode(), 0);
  EXPECT_FALSE(fixtures::pathExists(root.file("lumidrop.pid")));
  EXPECT_NE(fixtures::readFile(root.file("lumidrop.ini")).find("CPHeight= 1605\r\n"), std::string::npos);
  EXPECT_EQ(volume.percents().back(), 100);
}
