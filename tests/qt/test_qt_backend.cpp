// The form toolkit's Qt backend on a real X server: message boxes, timers,
// pending events inside a handler, an end raised among them, and user
// input on check boxes and sliders reaching the model.
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include "platform/clock.h"
#include "qt_fixture.h"
#include "ui/controls.h"

namespace {

using qttest::OnXServer;

class TestForm : public ui::Form {
 public:
  explicit TestForm(ui::Application& app)
      : ui::Form(app, "frmTest", ui::FormDesign{.caption = "Test", .clientWidth = 4500, .clientHeight = 3000}),
        btnGo(*this, "btnGo", {120, 120, 1500, 450}, "Go"),
        chkOn(*this, "chkOn", {120, 720, 2000, 375}, "On"),
        sldLevel(*this, "sldLevel", {120, 1200, 3000, 375}),
        tick(*this, "tick"),
        other(*this, "other") {
    sldLevel.setRange(0, 100, 5, 10);
  }
  ui::Button btnGo;
  ui::CheckBox chkOn;
  ui::Slider sldLevel;
  ui::Timer tick;
  ui::Timer other;
};

class QtToolkit : public OnXServer {
 protected:
  // Answers the next message box with `button` once it is on screen, and
  // keeps its text and title.
  void answerWith(QMessageBox::StandardButton button) {
    QTimer::singleShot(50, [this, button] { answerWhenShown(button); });
  }
  void answerWhenShown(QMessageBox::StandardButton button) {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) {
      QTimer::singleShot(20, [this, button] { answerWhenShown(button); });
      return;
    }
    shownText = box->text().toStdString();
    shownTitle = box->windowTitle().toStdString();
    shownButtons = box->standardButtons();
    QTest::mouseClick(box->button(button), Qt::LeftButton);
  }
  std::string shownText, shownTitle;
  QMessageBox::StandardButtons shownButtons;
};

}  // namespace

TEST_F(QtToolkit, MessageBoxesShowTheTextAndGiveTheChosenButton) {
  answerWith(QMessageBox::No);
  EXPECT_EQ(backend.messageBox("Go on?", "Telvaris LumiDrop", ui::MessageBoxButtons::YesNo),
            ui::MessageBoxResult::No);
  EXPECT_EQ(shownText, "Go on?");
  EXPECT_EQ(shownTitle, "Telvaris LumiDrop");
  EXPECT_EQ(shownButtons, QMessageBox::Yes | QMessageBox::No);

  answerWith(QMessageBox::Yes);
  EXPECT_EQ(app.msgBox("Go on?", ui::MessageBoxButtons::YesNo), ui::MessageBoxResult::Yes);
  EXPECT_EQ(static_cast<int>(ui::MessageBoxResult::Yes), 6);

  answerWith(QMessageBox::Ok);
  EXPECT_EQ(app.msgBox("ERROR: Connection failure to remote server rc=-1", ui::MessageBoxButtons::Ok),
            ui::MessageBoxResult::Ok);
  EXPECT_EQ(shownButtons, QMessageBox::Ok);
  EXPECT_EQ(shownText, "ERROR: Connection failure to remote server rc=-1");
}

TEST_F(QtToolkit, TimersFireAtTheirIntervalOnlyWhileArmed) {
  TestForm form(app);
  int ticks = 0;
  form.tick.onTimer = [&] { ++ticks; };
  form.tick.setInterval(20);
  form.load();
  ASSERT_TRUE(pumpUntil([&] { return ticks >= 5; }, 5000)) << "the timer did not fire";

  form.tick.setEnabled(false);
  const int stopped = ticks;
  const uint32_t start = platform::tickMs();
  pumpUntil([&] { return platform::tickMs() - start >= 200; });
  EXPECT_EQ(ticks, stopped) << "a disabled timer fired";

  // A long interval: nothing within a short wait, then it comes.
  form.tick.setInterval(400);
  form.tick.setEnabled(true);
  const uint32_t armed = platform::tickMs();
  ASSERT_TRUE(pumpUntil([&] { return ticks > stopped; }, 5000));
  EXPECT_GE(platform::tickMs() - armed, 350u) << "fired well before its interval";

  // Unloading the form stops its timers.
  form.unload();
  const int unloaded = ticks;
  const uint32_t later = platform::tickMs();
  pumpUntil([&] { return platform::tickMs() - later >= 600; });
  EXPECT_EQ(ticks, unloaded);
}

TEST_F(QtToolkit, PendingEventsRunInsideAHandlerAndATimerDoesNotRunInsideItself) {
  TestForm form(app);
  int outer = 0, nestedOther = 0, reentered = 0;
  bool inside = false;
  form.tick.onTimer = [&] {
    if (inside) ++reentered;
    inside = true;
    ++outer;
    // Like the feedback tick: wait a little, then let events run.
    const uint32_t start = platform::tickMs();
    while (platform::tickMs() - start < 100) app.doEvents();
    inside = false;
  };
  form.other.onTimer = [&] {
    if (inside) ++nestedOther;
  };
  form.tick.setInterval(10);
  form.other.setInterval(10);
  form.load();
  ASSERT_TRUE(pumpUntil([&] { return outer >= 3; }, 5000));
  EXPECT_GT(nestedOther, 0) << "the other timer never ran inside the long handler";
  EXPECT_EQ(reentered, 0) << "the timer ran inside its own handler";
}

TEST_F(QtToolkit, AnEndRaisedAmongPendingEventsLeavesTheWaitingHandler) {
  TestForm form(app);
  bool afterWait = false;
  form.btnGo.onClick = [&] { app.end(3); };
  form.tick.onTimer = [&] {
    form.tick.setEnabled(false);
    // A click arrives while this handler lets events run.
    QTimer::singleShot(0, [&] { QTest::mouseClick(backend.widget(form.btnGo), Qt::LeftButton); });
    const uint32_t start = platform::tickMs();
    while (platform::tickMs() - start < 2000) app.doEvents();
    afterWait = true;
  };
  form.tick.setInterval(10);
  form.onLoad = [&] { form.show(); };
  EXPECT_EQ(app.run(form), 3);
  EXPECT_TRUE(app.ended());
  EXPECT_FALSE(afterWait) << "the handler went on after the program ended";
}

TEST_F(QtToolkit, UserInputOnControlsGoesThroughTheModel) {
  TestForm form(app);
  int clicks = 0, boxClicks = 0, scrolls = 0;
  form.btnGo.onClick = [&] { ++clicks; };
  form.chkOn.onClick = [&] { ++boxClicks; };
  // Like the coupled sliders: the handler pushes the value back.
  form.sldLevel.onScroll = [&] {
    ++scrolls;
    if (form.sldLevel.value() > 60) form.sldLevel.setValue(60);
  };
  form.show();
  ASSERT_TRUE(pumpUntil([&] { return backend.widget(form)->isVisible(); }));

  QTest::mouseClick(backend.widget(form.btnGo), Qt::LeftButton);
  EXPECT_EQ(clicks, 1);

  auto* box = static_cast<QCheckBox*>(backend.widget(form.chkOn));
  // On the box itself, at its left end.
  const QPoint onBox(6, box->height() / 2);
  QTest::mouseClick(box, Qt::LeftButton, {}, onBox);
  EXPECT_EQ(form.chkOn.value(), 1);
  EXPECT_EQ(boxClicks, 1);
  EXPECT_TRUE(box->isChecked());
  // From code: the box follows and the handler runs as for a click.
  form.chkOn.setValue(0);
  EXPECT_FALSE(box->isChecked());
  EXPECT_EQ(boxClicks, 2);
  // A disabled box takes no click.
  form.chkOn.setEnabled(false);
  QTest::mouseClick(box, Qt::LeftButton, {}, onBox);
  EXPECT_EQ(form.chkOn.value(), 0);
  EXPECT_FALSE(box->isChecked());

  auto* slider = static_cast<QSlider*>(backend.widget(form.sldLevel));
  EXPECT_EQ(slider->maximum(), 100);
  EXPECT_EQ(slider->pageStep(), 10);
  EXPECT_EQ(slider->singleStep(), 5);
  slider->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(form.sldLevel.value(), 10);
  EXPECT_EQ(scrolls, 1);
  slider->setSliderPosition(90);  // as a drag does
  EXPECT_EQ(form.sldLevel.value(), 60);
  EXPECT_EQ(slider->value(), 60) << "the slider shows the value the handler kept";
  // From code: the slider moves, no handler runs.
  form.sldLevel.setValue(30);
  EXPECT_EQ(slider->value(), 30);
  EXPECT_EQ(scrolls, 2);
}

TEST(QtPlatform, AnXDisplayIsPreferredUnlessTheUserNamedAPlatform) {
  // On a Wayland desktop with XWayland the overlay runs as an X client.
  EXPECT_EQ(ui::preferredPlatform(nullptr, ":0"), "xcb");
  EXPECT_EQ(ui::preferredPlatform("", ":1"), "xcb");
  // The user's own choice stands.
  EXPECT_EQ(ui::preferredPlatform("wayland", ":0"), "");
  EXPECT_EQ(ui::preferredPlatform("offscreen", nullptr), "");
  // Wayland alone: Qt's own choice.
  EXPECT_EQ(ui::preferredPlatform(nullptr, nullptr), "");
  EXPECT_EQ(ui::preferredPlatform(nullptr, ""), "");
}
