// The form toolkit: what the forms rely on from check boxes, sliders,
// timers, message boxes, pending events and the end of the program.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/application.h"
#include "ui/controls.h"
#include "ui/headless_backend.h"

using namespace ui;

namespace {

class TestForm : public Form {
 public:
  explicit TestForm(Application& app, bool placed = false)
      : Form(app, "TestForm",
             FormDesign{.caption = "t", .clientWidth = 3000, .clientHeight = 2000, .defaultPlacement = !placed,
                        .left = 600, .top = 300}),
        frame(*this, "frame", {0, 0, 100, 100}),
        box(frame, "box", {0, 0, 10, 10}, "Box"),
        other(frame, "other", {0, 0, 10, 10}, "Other"),
        slider(*this, "slider", {0, 0, 10, 10}),
        button(*this, "button", {0, 0, 10, 10}, "Go"),
        timer(*this, "timer"),
        second(*this, "second") {
    slider.setRange(100, 1000, 1, 5);
  }
  Frame frame;
  CheckBox box;
  CheckBox other;
  Slider slider;
  Button button;
  Timer timer;
  Timer second;
};

class Toolkit : public ::testing::Test {
 protected:
  HeadlessBackend backend;
  Application app{backend};
};

}  // namespace

TEST_F(Toolkit, CheckBoxFromCodeRunsItsHandlerOnlyWhenTheStateChanges) {
  TestForm f(app);
  std::vector<int> seen;
  f.box.onClick = [&] { seen.push_back(f.box.value()); };
  f.box.setValue(1);
  f.box.setValue(1);
  f.box.setValue(5);  // any non-zero value checks
  f.box.setValue(0);
  f.box.setValue(0);
  EXPECT_EQ(seen, (std::vector<int>{1, 0}));
}

TEST_F(Toolkit, HandlersChangingOtherBoxesRunNestedAtTheMomentOfTheChange) {
  TestForm f(app);
  std::vector<std::string> order;
  f.box.onClick = [&] {
    order.push_back("box in");
    f.other.setValue(1);
    order.push_back("box out");
  };
  f.other.onClick = [&] { order.push_back("other sees box=" + std::to_string(f.box.value())); };
  f.box.setValue(1);
  EXPECT_EQ(order, (std::vector<std::string>{"box in", "other sees box=1", "box out"}));
}

TEST_F(Toolkit, UserClicksReachOnlyUsableControlsOnAShownForm) {
  TestForm f(app);
  int clicks = 0;
  f.box.onClick = [&] { ++clicks; };
  f.button.onClick = [&] { ++clicks; };
  f.box.userClick();  // form not shown
  EXPECT_EQ(clicks, 0);
  app.dispatch([&] { f.show(); });
  f.box.userClick();
  EXPECT_EQ(f.box.value(), 1);
  f.box.userClick();
  EXPECT_EQ(f.box.value(), 0);
  EXPECT_EQ(clicks, 2);
  f.box.setEnabled(false);
  f.box.userClick();
  f.box.setEnabled(true);
  f.frame.setVisible(false);  // inside a hidden frame
  f.box.userClick();
  f.frame.setVisible(true);
  f.frame.setEnabled(false);  // inside a disabled frame
  f.box.userClick();
  EXPECT_EQ(clicks, 2);
  EXPECT_FALSE(f.box.onScreen() && f.box.usable());
  f.button.setEnabled(false);
  f.button.userClick();
  EXPECT_EQ(clicks, 2);
}

TEST_F(Toolkit, SliderFromCodeIsClampedAndRunsNoHandler) {
  TestForm f(app);
  app.dispatch([&] { f.show(); });
  int scrolls = 0;
  f.slider.onScroll = [&] { ++scrolls; };
  EXPECT_EQ(f.slider.value(), 100);  // the range's minimum from the start
  f.slider.setValue(50);
  EXPECT_EQ(f.slider.value(), 100);
  f.slider.setValue(1500);
  EXPECT_EQ(f.slider.value(), 1000);
  EXPECT_EQ(scrolls, 0);
  f.slider.userScroll(250);
  EXPECT_EQ(f.slider.value(), 250);
  f.slider.userScroll(-5);
  EXPECT_EQ(f.slider.value(), 100);
  EXPECT_EQ(scrolls, 2);
  EXPECT_EQ(f.slider.smallChange(), 1);
  EXPECT_EQ(f.slider.largeChange(), 5);
}

TEST_F(Toolkit, FormGeometryIsInTwipsAndTheWindowSystemPlacesDefaultWindows) {
  TestForm placed(app, true);
  TestForm free(app, false);
  EXPECT_EQ(placed.left(), 600);
  EXPECT_EQ(placed.width(), 3000 + 6 * kTwipsPerPixel);
  EXPECT_EQ(placed.height(), 2000 + 29 * kTwipsPerPixel);
  app.dispatch([&] {
    placed.load();
    free.load();
  });
  EXPECT_EQ(placed.left(), 600);
  EXPECT_EQ(placed.top(), 300);
  EXPECT_EQ(free.left(), 1440);
  EXPECT_NE(placed.hWnd(), free.hWnd());
  EXPECT_EQ(backend.window(free.hWnd()), &free);
  free.setHeight(1275);
  free.unload();
  EXPECT_EQ(free.height(), 2000 + 29 * kTwipsPerPixel) << "a new window starts from its design";
  EXPECT_FALSE(free.visible());
}

TEST_F(Toolkit, TimersFireAtTheirIntervalOnlyWhileArmedOnALoadedForm) {
  TestForm f(app);
  std::vector<uint32_t> at;
  f.timer.onTimer = [&] { at.push_back(backend.now()); };
  f.timer.setInterval(50);
  backend.advance(200);
  EXPECT_TRUE(at.empty()) << "the form is not loaded";
  app.dispatch([&] { f.load(); });
  backend.advance(120);
  EXPECT_EQ(at, (std::vector<uint32_t>{250, 300}));
  f.timer.setInterval(0);
  backend.advance(200);
  EXPECT_EQ(at.size(), 2u);
  f.timer.setInterval(100);
  f.timer.setEnabled(false);
  backend.advance(200);
  EXPECT_EQ(at.size(), 2u);
  f.timer.setEnabled(true);
  backend.advance(250);
  EXPECT_EQ(at.size(), 4u);
  f.unload();
  backend.advance(500);
  EXPECT_EQ(at.size(), 4u);
}

TEST_F(Toolkit, PendingEventsRunInsideAHandlerButATimerNeverInsideItself) {
  TestForm f(app);
  app.start(f);
  int outer = 0, inner = 0, clicks = 0;
  f.button.onClick = [&] { ++clicks; };
  f.second.onTimer = [&] { ++inner; };
  f.timer.onTimer = [&] {
    ++outer;
    backend.post([&] { f.button.userClick(); });  // the user clicks meanwhile
    app.sleep(100);                               // blocks: nothing runs
    EXPECT_EQ(inner, 0);
    EXPECT_EQ(clicks, 0);
    app.doEvents();  // now the due timer and the click run, but not this timer
    EXPECT_EQ(inner, 1);
    EXPECT_EQ(clicks, 1);
  };
  f.timer.setInterval(10);
  f.second.setInterval(20);
  backend.advance(10);
  EXPECT_EQ(outer, 1);
  EXPECT_EQ(inner, 1);
  EXPECT_EQ(clicks, 1);
}

TEST_F(Toolkit, EndLeavesEveryHandlerAndDropsLaterEvents) {
  TestForm f(app);
  app.dispatch([&] { f.show(); });
  std::vector<std::string> trace;
  f.box.onClick = [&] {
    trace.push_back("box");
    app.end(3);
  };
  f.button.onClick = [&] {
    trace.push_back("button in");
    app.doEvents();  // the queued click ends the program in here
    trace.push_back("button out");
  };
  backend.post([&] { f.box.userClick(); });
  EXPECT_TRUE(f.button.userClick());
  EXPECT_EQ(trace, (std::vector<std::string>{"button in", "box"}));
  EXPECT_TRUE(app.ended());
  EXPECT_EQ(app.exitCode(), 3);
  EXPECT_FALSE(f.button.userClick());
  EXPECT_EQ(trace.size(), 2u);
}

TEST_F(Toolkit, AFormUnloadedInsideItsOwnTimerLivesUntilTheEventReturns) {
  auto owned = std::make_unique<TestForm>(app);
  TestForm* raw = owned.get();
  app.dispatch([&] { raw->load(); });
  raw->timer.setInterval(10);
  raw->timer.onTimer = [&] {
    raw->unload();
    app.retire(std::move(owned));
    app.doEvents();
    EXPECT_FALSE(raw->loaded());  // still a valid object here
  };
  backend.advance(10);
  EXPECT_EQ(owned, nullptr);
  backend.advance(100);  // its timer is gone with it
}

TEST_F(Toolkit, MessageBoxesTakeTheQueuedAnswers) {
  backend.answerNext(MessageBoxResult::Yes);
  EXPECT_EQ(app.msgBox("Continue?", MessageBoxButtons::YesNo), MessageBoxResult::Yes);
  EXPECT_EQ(app.msgBox("Again?", MessageBoxButtons::YesNo), MessageBoxResult::No);
  EXPECT_EQ(app.msgBox("Note", MessageBoxButtons::Ok), MessageBoxResult::Ok);
  ASSERT_EQ(backend.messages().size(), 3u);
  EXPECT_EQ(backend.messages()[0].text, "Continue?");
  EXPECT_EQ(backend.messages()[2].buttons, MessageBoxButtons::Ok);
  EXPECT_EQ(backend.messages()[0].title, app.title());
}

TEST_F(Toolkit, ClosingTheMainFormRunsItsUnloadHandlerWhichMayKeepIt) {
  TestForm f(app);
  app.setMainForm(&f);
  app.start(f);
  int16_t keep = 1;
  int unloads = 0;
  f.onUnload = [&](int16_t& cancel) {
    ++unloads;
    cancel = keep;
  };
  f.userClose();
  EXPECT_TRUE(f.loaded());
  keep = 0;
  f.userClose();
  EXPECT_FALSE(f.loaded());
  EXPECT_EQ(unloads, 2);
}

TEST_F(Toolkit, RightClicksAndWindowStateComeBackThroughTheModel) {
  TestForm f(app);
  app.start(f);
  std::vector<int> buttons;
  f.onMouseDown = [&](int button, int, float, float) { buttons.push_back(button); };
  f.userMouseDown(2, 0, 10, 10);
  f.userSetWindowState(WindowState::Minimized);
  EXPECT_EQ(f.windowState(), WindowState::Minimized);
  f.userMoveResize({15, 30, 4500, 3000});
  EXPECT_EQ(f.left(), 15);
  EXPECT_EQ(f.width(), 4500);
  EXPECT_EQ(buttons, (std::vector<int>{2}));
  f.refresh();
  EXPECT_EQ(backend.repaints(f), 1);
}
