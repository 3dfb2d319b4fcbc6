// The fading program's two windows on Qt under a real X server with a
// window manager: what outside X clients see of the overlay's opacity and
// top-most placement, the panel's heights in its states, the controls at
// their places, the right click that restores the panel, and closing.
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>

#include "forms/frm_lumidrop.h"
#include "forms/frm_main.h"
#include "forms/program.h"
#include "fixtures/child_process.h"
#include "forms/recording_outputs.h"
#include "harness.h"
#include "qt/qt_layering.h"
#include "platform/clock.h"
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

  // An outside client acting as the user does (xdotool, wmctrl); true when
  // it ran.
  bool user(std::vector<std::string> argv) { return x().client(std::move(argv)).has_value(); }
  static std::string id(QWidget* w) { return std::to_string(xid(w)); }
  // The window with its frame on the screen, as the X server has it.
  QRect outer(QWidget* w) {
    const auto box = x().clientBox(xid(w));
    const auto frame = x().cardinals(xid(w), "_NET_FRAME_EXTENTS");
    if (!box || frame.size() != 4) return {};
    const int left = static_cast<int>(frame[0]), right = static_cast<int>(frame[1]);
    const int top = static_cast<int>(frame[2]), bottom = static_cast<int>(frame[3]);
    return QRect(box->x - left, box->y - top, box->width + left + right, box->height + top + bottom);
  }
  // A real pointer click (xdotool) at the middle of `control`'s widget.
  bool clickAt(const ui::Control& control, int button = 1) {
    QWidget* w = backend.widget(control);
    QWidget* top = w->window();
    // Once the window manager is done with the window: the server has it
    // where Qt has it.
    if (!pumpUntil([&] { return outer(top) == top->frameGeometry(); })) return false;
    const auto box = x().clientBox(xid(top));
    if (!box) return false;
    const QPoint inside = w->mapTo(top, w->rect().center());
    return user({"xdotool", "mousemove", std::to_string(box->x + inside.x()), std::to_string(box->y + inside.y()),
                 "click", std::to_string(button)});
  }
  void pumpFor(uint32_t ms) {
    const uint32_t start = platform::tickMs();
    pumpUntil([&] { return platform::tickMs() - start >= ms; });
  }

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
  // Designed 201 pixels wide, it grows to show its whole caption in this
  // font, within its frame.
  const QRect initialise = backend.widget(panel().CheckInitialiseLumiDropToMinimumOpacity)->geometry();
  EXPECT_EQ(initialise.topLeft(), QPoint(8, 80));
  EXPECT_GT(initialise.width(), 201);
  EXPECT_EQ(initialise.height(), 25);
  EXPECT_EQ(backend.widget(panel().FrameProgressiveAudio)->geometry(), QRect(208, 352, 145, 129));

  // All of them: place, caption, shown and enabled as the model has them.
  std::function<void(const ui::Container&)> check = [&](const ui::Container& container) {
    for (const ui::Control* c : container.children()) {
      QWidget* w = backend.widget(*c);
      ASSERT_NE(w, nullptr) << c->name();
      // At its place, at least at its size (a caption may need more).
      EXPECT_EQ(w->pos(), QPoint(c->left() / 15, c->top() / 15)) << c->name();
      EXPECT_GE(w->width(), c->width() / 15) << c->name();
      EXPECT_GE(w->height(), c->height() / 15) << c->name();
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

// As the user does it: the window manager minimises (its title-bar button,
// here xdotool asking it), and the pointer clicks on the overlay.
TEST_F(QtProgram, MinimisingThroughTheWindowManagerSticksAndARightClickOnTheOverlayRestoresThePanel) {
  start();
  QWidget* w = panelWidget();
  ASSERT_TRUE(user({"xdotool", "windowminimize", id(w)}));
  ASSERT_TRUE(pumpUntil([&] { return x().wmState(xid(w)) == "Iconic"; })) << x().wmState(xid(w));
  pumpFor(1500);
  EXPECT_EQ(x().wmState(xid(w)), "Iconic") << "the program undid the minimise";
  EXPECT_EQ(panel().windowState(), ui::WindowState::Minimized);

  // A left click (TestMode 0) does nothing; a right click restores the panel.
  ASSERT_TRUE(clickAt(*program->lumidrop().loadedWindow(), 1));
  pumpFor(300);
  EXPECT_EQ(x().wmState(xid(w)), "Iconic");
  ASSERT_TRUE(clickAt(*program->lumidrop().loadedWindow(), 3));
  EXPECT_TRUE(pumpUntil([&] { return x().wmState(xid(w)) == "Normal"; })) << x().wmState(xid(w));
  EXPECT_EQ(panel().windowState(), ui::WindowState::Normal);

  // The overlay, a tool window, can be minimised through the window
  // manager too, and stays so.
  QWidget* o = overlayWidget();
  ASSERT_TRUE(user({"xdotool", "windowminimize", id(o)}));
  ASSERT_TRUE(pumpUntil([&] { return x().wmState(xid(o)) == "Iconic"; })) << x().wmState(xid(o));
  pumpFor(1500);
  EXPECT_EQ(x().wmState(xid(o)), "Iconic") << "the program undid the overlay's minimise";
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

TEST_F(QtProgram, NoCaptionIsCutInEitherStateOfThePanel) {
  start();
  std::function<void(const ui::Container&, const char*)> check = [&](const ui::Container& container,
                                                                     const char* state) {
    for (const ui::Control* c : container.children()) {
      if (!c->onScreen()) continue;
      if (c->kind() == ui::Kind::Frame) check(static_cast<const ui::Container&>(*c), state);
      QWidget* w = backend.widget(*c);
      if (c->caption().empty() || c->kind() == ui::Kind::Frame) continue;
      const QSize needs = w->sizeHint();
      EXPECT_GE(w->width(), needs.width()) << c->name() << " \"" << c->caption() << "\", " << state;
      EXPECT_GE(w->height(), needs.height()) << c->name() << " \"" << c->caption() << "\", " << state;
      EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry()))
          << c->name() << " leaves its frame, " << state;
    }
  };
  panel().lblStatus.setCaption("Reward Percentage is 100.00%");
  check(panel(), "running");
  clickSetup();
  ASSERT_TRUE(heightReaches(panelWidget(), frmMain::kSetupHeight));
  // Every frame shown: none of Auto Fade, QELTA and Progressive Audio.
  QTest::mouseClick(backend.widget(panel().CheckAutoFade), Qt::LeftButton, {}, QPoint(6, 10));
  ASSERT_TRUE(panel().FrameUpdateFrequency.onScreen());
  check(panel(), "setup");
}

TEST_F(QtProgram, SliderTicksStandFarEnoughApartToBeRead) {
  start();
  clickSetup();
  ASSERT_TRUE(heightReaches(panelWidget(), frmMain::kSetupHeight));
  for (const ui::Slider* s : {&panel().SliderUpdateFrequency, &panel().SliderVolumeInhibit,
                              &panel().SliderVolumeMaximum, &panel().SliderMinimumOpacity,
                              &panel().SliderOpacityInhibit}) {
    auto* slider = qobject_cast<QSlider*>(backend.widget(*s));
    ASSERT_NE(slider, nullptr) << s->name();
    ASSERT_GT(slider->tickInterval(), 0) << s->name();
    const double ticks = static_cast<double>(slider->maximum() - slider->minimum()) / slider->tickInterval();
    EXPECT_GE(slider->width() / ticks, 6.0) << s->name() << ": " << ticks << " ticks on " << slider->width() << " px";
    EXPECT_EQ(slider->pageStep(), s->largeChange()) << s->name();
  }
}

TEST_F(QtProgram, OnAFirstStartTheOverlayLeavesThePanelsButtonsToTheUser) {
  // No stored overlay geometry: the first placement is the program's.
  fixtures::writeFile(root.file("lumidrop.ini"), "[General]\r\n");
  start();
  const QRect p = outer(panelWidget()), o = outer(overlayWidget());
  ASSERT_FALSE(p.isEmpty() || o.isEmpty());
  EXPECT_FALSE(p.intersects(o)) << "panel " << p.x() << "," << p.y() << " " << p.width() << "x" << p.height()
                                << ", overlay " << o.x() << "," << o.y() << " " << o.width() << "x" << o.height();
  // Nor over the setup panel, which grows downwards.
  EXPECT_FALSE(QRect(p.x(), p.y(), p.width(), frmMain::kSetupHeight / 15).intersects(o));
  EXPECT_TRUE(QRect(0, 0, 1280, 800).contains(o)) << "the overlay is on the screen";

  // Real clicks reach Setup (twice) and Exit.
  ASSERT_TRUE(clickAt(panel().btnSetup));
  EXPECT_TRUE(pumpUntil([&] { return panel().height() == frmMain::kSetupHeight; })) << "Setup took no click";
  ASSERT_TRUE(heightReaches(panelWidget(), frmMain::kSetupHeight));
  ASSERT_TRUE(clickAt(panel().btnSetup));
  EXPECT_TRUE(pumpUntil([&] { return panel().height() == frmMain::kRunningHeight; }));
  ASSERT_TRUE(heightReaches(panelWidget(), frmMain::kRunningHeight));
  ASSERT_TRUE(clickAt(panel().btnExit));
  EXPECT_TRUE(pumpUntil([&] { return app.ended(); })) << "Exit took no click";
}

TEST_F(QtProgram, ClosingTheOverlayThroughTheWindowManagerClosesTheProgramDown) {
  start();
  telvaris.queue(0, 40);
  ASSERT_TRUE(pumpUntil([&] { return !volume.percents().empty() && volume.percents().back() < 100; }));
  // As the close button of its frame does: the window manager asks the
  // window to close (WM_DELETE_WINDOW).
  ASSERT_TRUE(user({"wmctrl", "-i", "-c", id(overlayWidget())}));
  EXPECT_TRUE(pumpUntil([&] { return app.ended(); })) << "the program went on without its overlay";
  EXPECT_EQ(app.exitCode(), 0);
  EXPECT_EQ(volume.percents().back(), 100);
  EXPECT_FALSE(fixtures::pathExists(root.file("lumidrop.pid")));
  EXPECT_NE(fixtures::readFile(root.file("lumidrop.ini")).find("CPHeight= 1605\r\n"), std::string::npos);
}

// The panel's place goes round: stored at close-down, restored at the next
// start. Start after start it must come back where it was, whenever the
// window manager's framing comes in.
TEST_F(QtProgram, ThePanelComesBackWhereItWasLeftStartAfterStart) {
  program.reset();
  fixtures::writeFile(root.file("lumidrop.ini"),
                      "[General]\r\nCPTop= 1200\r\nCPLeft= 1200\r\nCPHeight= 1605\r\nCPWidth= 5520\r\n"
                      "Top= 1200\r\nLeft= 6900\r\nHeight= 7860\r\nWidth= 10080\r\n");
  std::vector<std::string> seen;
  for (int run = 0; run < 16; ++run) {
    ui::QtBackend b;
    ui::Application a(b);
    lumidrop::QtLayering l(b);
    lumidrop::Program p(a, telvaris, l, volume, root.path());
    p.queryOsVersion = [] { return platform::OsVersion{true, 2, 6, 1}; };
    a.start(p.panel());
    ASSERT_FALSE(a.ended());
    QWidget* w = b.widget(p.panel());
    ASSERT_TRUE(b.runUntil([&] { return framed(w); }, 10000));
    QTimer::singleShot(run * 7 % 50, [w] { w->close(); });
    b.run();
    const std::string ini = fixtures::readFile(root.file("lumidrop.ini"));
    const size_t at = ini.find("CPTop=");
    seen.push_back(ini.substr(at, ini.find('\r', at) - at));
  }
  for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], "CPTop= 1200") << "start " << i + 1;
}

// lumidropRemote itself on this display: a termination request (Ctrl+C,
// SIGTERM) while a start-up message box waits ends it the way the box's
// own way out does, touching no settings and no marker of another copy.
TEST_F(QtProgram, ATerminationWhileAStartUpBoxWaitsEndsItAsTheBoxsWayOut) {
  program.reset();
  std::filesystem::copy_file(FAKE_TELVARIS_PATH, root.file("libtelvaris.so"));
  const std::string iniBefore = fixtures::readFile(root.file("lumidrop.ini"));
  auto run = [&](std::map<std::string, std::string> env) {
    env.insert({{"DISPLAY", x().display()},
                {"QT_QPA_PLATFORM", "xcb"},
                {"LUMIDROP_HOME", root.path()},
                {"FAKE_TELVARIS_CALL_LOG", root.file("calls.log")},
                {"LSAN_OPTIONS", "suppressions=" LSAN_SUPPRESSIONS}});
    std::filesystem::remove(root.file("calls.log"));
    fixtures::ChildProcess lumidrop;
    lumidrop.start({LUMIDROP_PATH}, env, root.file("lumidrop.log"));
    // The box is the only window on the display.
    EXPECT_TRUE(fixtures::waitFor([&] { return !x().rootWindows("_NET_CLIENT_LIST").empty(); }, 15000))
        << fixtures::readFile(root.file("lumidrop.log"));
    kill(lumidrop.pid(), SIGTERM);
    int status = -1;
    EXPECT_TRUE(lumidrop.waitExit(5000, &status)) << "the request waited for the box";
    EXPECT_TRUE(fixtures::waitFor([&] { return x().rootWindows("_NET_CLIENT_LIST").empty(); }, 5000));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };

  // "There could be another LumiDrop program running...": No.
  fixtures::writeFile(root.file("lumidrop.pid"), "other\n");
  EXPECT_EQ(run({}), 0);
  EXPECT_EQ(fixtures::readFile(root.file("lumidrop.pid")), "other\n");
  EXPECT_EQ(fixtures::readFile(root.file("calls.log")), "ReportVersion\n") << "no link was opened";

  // "ERROR: Connection failure to remote server rc=3": OK.
  std::filesystem::remove(root.file("lumidrop.pid"));
  EXPECT_EQ(run({{"FAKE_TELVARIS_SUBSCRIBE_RC", "3"}}), 1);
  EXPECT_FALSE(fixtures::pathExists(root.file("lumidrop.pid"))) << "the marker this start wrote stays";
  EXPECT_EQ(fixtures::readFile(root.file("lumidrop.ini")), iniBefore);
}
