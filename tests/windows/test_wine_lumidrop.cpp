// The fading program's Windows parts under wine: the profile code beside the
// system's own GetPrivateProfileStringA, the endpoint volume and the mixer
// over the system's audio, and the control panel and the overlay as native
// windows driven by real window messages. run-wine-lumidrop.sh runs it on a
// private X server, once with an audio device (a private sound server) and
// once without (TLV_TEST_AUDIO).
// The program's headers before the system's: the overlay's window calls
// carry the system's names, which its headers make into macros.
#include "audio/endpoint_volume.h"
#include "audio/volume.h"
#include "audio/winmm_mixer.h"
#include "fixtures/temp_root.h"
#include "forms/frm_lumidrop.h"
#include "forms/frm_main.h"
#include "forms/program.h"
#include "forms/recording_outputs.h"
#include "lumidrop/harness.h"
#include "platform/profile.h"
#include "platform/process.h"
#include "settings/mod_options.h"
#include "win32/win32_backend.h"
#include "win32/win32_layering.h"
#include "wine_env.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>


using fixtures::readFile;
using fixtures::writeFile;

namespace {

// ------------------------------------------------------------ profile files

struct Query {
  const char* section;
  const char* key;
  const char* fallback;
  DWORD buffer;
};

struct ProfileCase {
  const char* name;
  std::string text;
  std::vector<Query> queries;
};

// The files of the profile and settings tests, read both ways.
std::vector<ProfileCase> profileCases() {
  const std::string longValue(300, 'x');
  const std::string fill(254, 'q');
  return {
      {"quotes and blanks",
       "[Main]\nplain=  some text  \nquoted=\"  inner blanks  \"\nsingle='x'\ntwice=\"\"a\"\"\nlopsided=\"open\n"
       "  spaced key  =\tv\t\nempty=\n",
       {{"Main", "plain", "DEF", 255},
        {"Main", "quoted", "DEF", 255},
        {"Main", "single", "DEF", 255},
        {"Main", "twice", "DEF", 255},
        {"Main", "lopsided", "DEF", 255},
        {"Main", "spaced key", "DEF", 255},
        {"Main", "empty", "DEF", 255},
        {"Main", "absent", "DEF", 255}}},
      {"duplicates and case",
       "[general]\r\nKEY=first\r\nkey=second\r\n[GENERAL]\r\nkey=third\r\n[Other]\r\nkey=other\r\n",
       {{"General", "Key", "DEF", 255},
        {"OTHER", "KEY", "DEF", 255},
        {"General", "missing", "DEF", 255},
        {"Missing", "key", "DEF", 255}}},
      {"long values and small buffers",
       "[Main]\nk=" + longValue + "\nq=\"" + fill + "\"\nq2=\"" + fill + "r\"\n",
       {{"Main", "k", "DEF", 255},
        {"Main", "q", "DEF", 255},
        {"Main", "q2", "DEF", 255},
        {"Main", "k", "", 1},
        {"Main", "nothing", "a default longer than the buffer", 8}}},
      {"comments", "; kept comment\n[A]\nx=1\n; about y\ny=2\n;z=commented\n\n[B]\nz=3\n",
       {{"A", "x", "DEF", 255},
        {"A", "y", "DEF", 255},
        {"A", "z", "DEF", 255},
        {"A", ";z", "DEF", 255},
        {"B", "z", "DEF", 255}}},
      {"a byte-order mark", "\xEF\xBB\xBF[Main]\r\nk=v\r\n", {{"Main", "k", "DEF", 255}}},
      {"CR LF, LF and a lone CR", "[Main]\rfirst=1\rsecond=2\r\n[Next]\nthird=3\rfourth=4\r",
       {{"Main", "first", "DEF", 255},
        {"Main", "second", "DEF", 255},
        {"Next", "third", "DEF", 255},
        {"Next", "fourth", "DEF", 255}}},
      {"a key without a value", "[Main]\n; a comment, not a key\n  flag  \nflag=late\nother=o\n",
       {{"Main", "flag", "DEF", 255}, {"Main", "other", "DEF", 255}}},
      {"defaults with trailing blanks", "[Main]\nblank=\" \"\n",
       {{"Main", "missing", "  fallback \t ", 255}, {"Main", "missing", "   ", 255}, {"Main", "blank", "x", 255}}},
      {"the settings file, written by hand",
       "; written by hand\n[general]\n  AudioActive =0   \nVideoActive=1\r\nUpdateFrequency = 300\r\nTestMode=1\n"
       "Email = someone@example.org \nFavourite=blue\n\n[mqtt]\nServerAddress=tcp://10.0.0.5\n"
       "SubscriberTopic=\"/pelorvantis/someone@example.org/feedback\"\n",
       {{"General", "AudioActive", "1", 255},
        {"General", "VideoActive", "1", 255},
        {"General", "UpdateFrequency", "100", 255},
        {"General", "TestMode", "0", 255},
        {"General", "Email", "", 255},
        {"General", "OpacityInhibit", "100", 255},
        {"MQTT", "ServerAddress", "tcp://broker", 255},
        {"MQTT", "SubscriberTopic", "feedback", 255}}},
      {"the settings file, as the program writes it",
       "[General]\r\nAudioActive= 1\r\nVolumeInhibit=-7\r\nEmail=\"  a b@example.org \"\r\n[MQTT]\r\n"
       "ClientID=\"C1-a b\"\r\n",
       {{"General", "AudioActive", "1", 255},
        {"General", "VolumeInhibit", "0", 255},
        {"General", "Email", "", 255},
        {"MQTT", "ClientID", "C1-", 255}}},
  };
}

// What the system's own function gives.
std::string systemRead(const Query& q, const std::string& path) {
  std::vector<char> buffer(q.buffer + 1, '#');
  const DWORD n = GetPrivateProfileStringA(q.section, q.key, q.fallback, buffer.data(), q.buffer, path.c_str());
  return std::string(buffer.data(), std::min<DWORD>(n, q.buffer));
}

struct Disagreement {
  std::string file, section, key, ours, system;
  bool operator==(const Disagreement&) const = default;
};

// A value as C source writes it, a long run of one character shortened.
std::string shown(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size();) {
    size_t run = 1;
    while (i + run < value.size() && value[i + run] == value[i]) ++run;
    const char c = value[i];
    const std::string one = c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : std::string(1, c);
    if (run > 8) {
      out += one + "{" + std::to_string(run) + "}";
    } else {
      for (size_t k = 0; k < run; ++k) out += one;
    }
    i += run;
  }
  return out;
}

std::ostream& operator<<(std::ostream& out, const Disagreement& d) {
  return out << "\n  {\"" << d.file << "\", [" << d.section << "] " << d.key << ": ours \"" << shown(d.ours)
             << "\", the system's \"" << shown(d.system) << "\"}";
}

// Where wine's GetPrivateProfileStringA and the profile code part ways,
// and why the profile code's answer (the documented one) stands.
std::vector<Disagreement> expectedDisagreements() {
  const std::string q253(253, 'q'), q254(254, 'q');
  return {
      // A quoted value of 254 characters, in a buffer of 255: the quotes are
      // documented as dropped and the string as cut only when it does not
      // fit, so all 254 characters come back. Wine cuts the value with its
      // quotes to the buffer first and then drops the opening one.
      {"long values and small buffers", "Main", "q", q254, q253},
      // The default's trailing blanks are documented as stripped: wine strips
      // spaces only, from the end, and leaves one of a default of nothing
      // but spaces.
      {"defaults with trailing blanks", "Main", "missing", "  fallback", "  fallback \t"},
      {"defaults with trailing blanks", "Main", "missing", "", " "},
  };
}

class WineProfile : public fixtures::RootedTest {};

}  // namespace

TEST_F(WineProfile, TheProfileCodeReadsAsTheSystemDoes) {
  std::vector<Disagreement> found;
  int compared = 0;
  for (const ProfileCase& c : profileCases()) {
    const std::string path = root.file("compat.ini");
    writeFile(path, c.text);
    for (const Query& q : c.queries) {
      const std::string ours = platform::getPrivateProfileString(q.section, q.key, q.fallback, q.buffer, path);
      const std::string system = systemRead(q, path);
      ++compared;
      if (ours != system) found.push_back({c.name, q.section, q.key, ours, system});
    }
  }
  EXPECT_EQ(compared, 44);
  EXPECT_EQ(found, expectedDisagreements());
}

// The settings module reads the same file through the profile code: what it
// loads is what the system's function reads, key by key, converted.
TEST_F(WineProfile, TheSettingsLoadWhatTheSystemReads) {
  const std::string path = root.file("lumidrop.ini");
  writeFile(path, "\xEF\xBB\xBF; written by hand\r\n[general]\r\n  AudioActive =0   \r\nUpdateFrequency = 300\n"
                  "Email = \"someone@example.org\" \r\n[MQTT]\r\nServerPortNumber= 18830\r\n"
                  "SubscriberTopic='/pelorvantis/someone@example.org/feedback'\r\n");
  lumidrop::LumidropSettings s;
  lumidrop::ModOptions::loadSettings(s, path);
  EXPECT_EQ(s.AudioActive, std::stoi(systemRead({"General", "AudioActive", "1", 255}, path)));
  EXPECT_EQ(s.UpdateFrequency, std::stoi(systemRead({"General", "UpdateFrequency", "100", 255}, path)));
  EXPECT_EQ(s.ServerPortNumber, std::stoi(systemRead({"MQTT", "ServerPortNumber", "1883", 255}, path)));
  EXPECT_EQ(s.Email, systemRead({"General", "Email", "", 255}, path));
  EXPECT_EQ(s.Email, "someone@example.org");
  // Single quotes go, as double ones do.
  EXPECT_EQ(s.SubscriberTopic, "/pelorvantis/someone@example.org/feedback");
  EXPECT_EQ(s.SubscriberTopic, systemRead({"MQTT", "SubscriberTopic", "", 255}, path));
}

// ------------------------------------------------------------------- audio

namespace {

// "device": wine has a sound server to play to; "none": it has no audio
// driver at all.
bool audioDevice() { return winetest::peer("TLV_TEST_AUDIO") == "device"; }

class ComApartment {
 public:
  ComApartment() : ready_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComApartment() {
    if (ready_) CoUninitialize();
  }
  bool ready() const { return ready_; }

 private:
  bool ready_;
};

class Listener : public lumidrop::audio::AudioEndpointVolumeCallback {
 public:
  void OnNotify(const lumidrop::audio::VolumeNotification& n) override {
    if (n.eventContext == ours) heard.store(true);
  }
  lumidrop::audio::Guid ours;
  std::atomic<bool> heard{false};
};

// The mixer steps as setMixerVolume takes them, each with its result.
struct MixerRun {
  uint32_t open = 1, line = 1, control = 1, set = 1;
  uint32_t maximum = 0;
};

MixerRun runMixer(int32_t level) {
  lumidrop::audio::WinmmMixer mixer;
  MixerRun run;
  uint32_t line = 0, control = 0;
  run.open = mixer.open(0);
  if (run.open == 0) run.line = mixer.speakersLine(line);
  if (run.line == 0) run.control = mixer.volumeControl(line, control, run.maximum);
  if (run.control == 0) run.set = mixer.setControlValue(control, lumidrop::audio::mixerValue(level, run.maximum));
  mixer.close();
  return run;
}

}  // namespace

TEST(WineAudio, TheEndpointVolumeOfTheDefaultOutput) {
  ComApartment com;
  ASSERT_TRUE(com.ready());
  lumidrop::audio::CAudioEndpointVolume volume;
  if (!audioDevice()) {
    // No device: creation stops with the system's failure, and every
    // operation returns without touching anything.
    EXPECT_LT(volume.lastHResult(), 0);
    EXPECT_FALSE(volume.bound());
    volume.SetMasterVolumeLevelScalar(0.37f);
    EXPECT_EQ(volume.lastHResult(), lumidrop::audio::kEPointer);
    EXPECT_EQ(volume.GetMasterVolumeLevelScalar(), 0.0f);
    EXPECT_EQ(volume.GetChannelCount(), 0);
    volume.RegisterControlChangeNotify(nullptr);
    EXPECT_EQ(volume.deviceName(), "");
    return;
  }
  ASSERT_EQ(volume.lastHResult(), 0);
  ASSERT_TRUE(volume.bound());
  EXPECT_NE(volume.deviceName(), "");
  // Wine 8's endpoint volume leaves a few methods unwritten (E_NOTIMPL): the
  // instance hands that answer on, returns normally and goes on working.
  constexpr int32_t kENotImpl = static_cast<int32_t>(0x80004001);
  const int32_t channels = volume.GetChannelCount();
  if (volume.lastHResult() == kENotImpl) {
    EXPECT_EQ(channels, 0);
  } else {
    EXPECT_EQ(volume.lastHResult(), 0);
    EXPECT_GE(channels, 1);
  }

  Listener listener;
  listener.ours = volume.eventContext();
  volume.RegisterControlChangeNotify(&listener);
  EXPECT_EQ(volume.lastHResult(), 0);
  volume.SetMasterVolumeLevelScalar(0.37f);
  if (volume.lastHResult() == kENotImpl) {
    std::printf("note: this system's endpoint volume does not set the master volume (E_NOTIMPL)\n");
  } else {
    EXPECT_EQ(volume.lastHResult(), 0);
    EXPECT_NEAR(volume.GetMasterVolumeLevelScalar(), 0.37f, 0.005f);
    EXPECT_EQ(volume.lastHResult(), 0);
    for (int i = 0; i < 200 && !listener.heard; ++i) Sleep(10);
    EXPECT_TRUE(listener.heard) << "the change is announced with our event context";
  }
  float minimum = 0, maximum = 0, increment = 0;
  volume.GetVolumeRange(minimum, maximum, increment);
  EXPECT_EQ(volume.lastHResult(), 0);
  EXPECT_LT(minimum, maximum);
  volume.SetMute(1);
  EXPECT_EQ(volume.lastHResult(), 0);
  EXPECT_EQ(volume.GetMute(), 1);
  volume.SetMute(0);
  EXPECT_EQ(volume.GetMute(), 0);
  volume.UnregisterControlChangeNotify(&listener);
  EXPECT_EQ(volume.lastHResult(), 0);
  volume.UnregisterControlChangeNotify(&listener);
  EXPECT_EQ(volume.lastHResult(), lumidrop::audio::kEInvalidArg) << "not registered any more";
  volume.SetMasterVolumeLevelScalar(1.0f);
}

TEST(WineAudio, TheMixerOfTheSpeakers) {
  const MixerRun run = runMixer(37);
  if (!audioDevice()) {
    EXPECT_NE(run.open, 0u) << "no mixer without a device";
    return;
  }
  EXPECT_EQ(run.open, 0u);
  EXPECT_EQ(run.line, 0u);
  EXPECT_EQ(run.control, 0u);
  EXPECT_EQ(run.set, 0u);
  EXPECT_GT(run.maximum, 0u);
  // setMixerVolume itself, to the top again.
  lumidrop::audio::WinmmMixer mixer;
  lumidrop::audio::setMixerVolume(mixer, 100, 1);
}

// ---------------------------------------------------------------- windows

namespace {

HWND windowOf(int32_t handle) { return reinterpret_cast<HWND>(static_cast<intptr_t>(handle)); }

std::string className(HWND h) {
  char name[64] = {};
  GetClassNameA(h, name, sizeof name);
  return name;
}

std::string windowText(HWND h) {
  char text[256] = {};
  GetWindowTextA(h, text, sizeof text);
  return text;
}

// A control's place in pixels inside its parent's client area.
RECT placeInParent(HWND h) {
  RECT r;
  GetWindowRect(h, &r);
  MapWindowPoints(nullptr, GetParent(h), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

int alphaOf(HWND h) {
  BYTE alpha = 0;
  DWORD flags = 0;
  if (!GetLayeredWindowAttributes(h, nullptr, &alpha, &flags) || !(flags & LWA_ALPHA)) return -1;
  return alpha;
}

// Answers the first message box the thread `owner` shows: its text, its
// buttons, and the one pressed.
class BoxAnswerer {
 public:
  BoxAnswerer(DWORD owner, int press) {
    worker_ = std::thread([this, owner, press] {
      for (int i = 0; i < 1000 && !done_; ++i) {
        HWND box = nullptr;
        EnumThreadWindows(
            owner,
            [](HWND h, LPARAM found) {
              if (className(h) == "#32770" && IsWindowVisible(h)) {
                *reinterpret_cast<HWND*>(found) = h;
                return FALSE;
              }
              return TRUE;
            },
            reinterpret_cast<LPARAM>(&box));
        if (box) {
          text = windowText(GetDlgItem(box, 0xFFFF));
          hadYes = GetDlgItem(box, IDYES) != nullptr;
          hadNo = GetDlgItem(box, IDNO) != nullptr;
          PostMessageA(box, WM_COMMAND, MAKEWPARAM(press, BN_CLICKED), 0);
          return;
        }
        Sleep(10);
      }
    });
  }
  ~BoxAnswerer() {
    done_ = true;
    worker_.join();
  }
  std::string text;
  bool hadYes = false, hadNo = false;

 private:
  std::atomic<bool> done_{false};
  std::thread worker_;
};

class WineWindows : public fixtures::RootedTest {
 protected:
  WineWindows() {
    program = std::make_unique<lumidrop::Program>(app, telvaris, layering, volume, root.path());
  }
  ~WineWindows() override { program.reset(); }

  lumidrop::frmMain& panel() { return program->panel(); }
  HWND hwnd(const ui::Control& c) const { return windowOf(backend.handle(c)); }
  HWND overlayWindow() { return hwnd(*program->lumidrop().loadedWindow()); }
  std::string iniPath() const { return root.file("lumidrop.ini"); }
  bool settle(const std::function<bool()>& done) { return backend.runUntil(done, 10000); }

  ui::Win32Backend backend;
  ui::Application app{backend};
  lumidrop::testing::ScriptedTelvaris telvaris;
  lumidrop::Win32Layering layering;
  lumidrop::RecordingVolume volume;
  std::unique_ptr<lumidrop::Program> program;
};

struct Placed {
  const ui::Control& control;
  const char* windowClass;
  LONG type;  // the button style (BS_...), or -1
  RECT designed;  // twips: left, top, width, height
};

}  // namespace

TEST_F(WineWindows, ThePanelAndTheOverlayAreNativeWindowsDrivenByTheirMessages) {
  writeFile(iniPath(), "[General]\r\nAutoFade= 0\r\nOpacityInhibit= 80\r\nOpacityMinimum= 4\r\n");
  app.start(panel());
  ASSERT_FALSE(app.ended());
  const HWND main = hwnd(panel());
  ASSERT_TRUE(IsWindow(main));
  EXPECT_EQ(className(main), "LumidropForm");
  EXPECT_EQ(windowText(main), "Telvaris LumiDrop v1.0.0");
  const LONG mainStyle = GetWindowLongA(main, GWL_STYLE);
  EXPECT_TRUE(mainStyle & WS_MINIMIZEBOX);
  EXPECT_FALSE(mainStyle & WS_THICKFRAME);
  RECT r;
  GetClientRect(main, &r);
  EXPECT_EQ(r.right, 5430 / 15) << "the designed client width, at 96 dpi";
  GetWindowRect(main, &r);
  EXPECT_EQ(r.bottom - r.top, 1605 / 15) << "the running bar";
  EXPECT_EQ(r.left, 1200 / 15);

  // Every control at its designed place (twips / 15 at 96 dpi), in its
  // container; captions may widen a control, never move it.
  lumidrop::frmMain& p = panel();
  const Placed placed[] = {
      {p.btnSetup, "Button", BS_PUSHBUTTON, {120, 120, 2415, 495}},
      {p.btnExit, "Button", BS_PUSHBUTTON, {2880, 120, 2415, 495}},
      {p.lblStatus, "Static", -1, {120, 720, 5175, 255}},
      {p.FrameVolume, "Button", BS_GROUPBOX, {120, 1200, 5175, 1335}},
      {p.SliderVolumeInhibit, "msctls_trackbar32", -1, {2040, 360, 1935, 375}},
      {p.LabelVolumeMaximum, "Static", -1, {3960, 720, 1095, 255}},
      {p.FrameOpacity, "Button", BS_GROUPBOX, {120, 2640, 5175, 1695}},
      {p.SliderOpacityInhibit, "msctls_trackbar32", -1, {2040, 720, 1935, 375}},
      {p.CheckInitialiseLumiDropToMinimumOpacity, "Button", BS_CHECKBOX, {120, 1200, 3015, 375}},
      {p.Label7, "Static", -1, {120, 240, 2055, 375}},
      {p.SliderUpdateFrequency, "msctls_trackbar32", -1, {2040, 240, 1935, 375}},
      {p.Frame1, "Button", BS_GROUPBOX, {120, 5280, 2175, 1935}},
      {p.CheckQELTA, "Button", BS_CHECKBOX, {120, 1320, 1575, 375}},
      {p.FrameProgressiveAudio, "Button", BS_GROUPBOX, {3120, 5280, 2175, 1935}},
      {p.checkOneSD, "Button", BS_CHECKBOX, {120, 1440, 1935, 375}},
  };
  for (const Placed& c : placed) {
    const HWND h = hwnd(c.control);
    ASSERT_TRUE(IsWindow(h)) << c.control.name();
    EXPECT_EQ(className(h), c.windowClass) << c.control.name();
    if (c.type >= 0) {
      EXPECT_EQ(GetWindowLongA(h, GWL_STYLE) & BS_TYPEMASK, c.type) << c.control.name();
    }
    EXPECT_EQ(GetParent(h), hwnd(*c.control.parent())) << c.control.name();
    const RECT at = placeInParent(h);
    EXPECT_EQ(at.left, c.designed.left / 15) << c.control.name();
    EXPECT_EQ(at.top, c.designed.top / 15) << c.control.name();
    EXPECT_GE(at.right - at.left, c.designed.right / 15) << c.control.name();
    EXPECT_EQ(windowText(h), c.control.caption()) << c.control.name();
  }
  // A label that runs under a slider (the update frequency's) lies beneath it.
  bool labelBeneath = false;
  for (HWND h = hwnd(p.SliderUpdateFrequency); h && !labelBeneath; h = GetWindow(h, GW_HWNDNEXT)) {
    labelBeneath = h == hwnd(p.Label7);
  }
  EXPECT_TRUE(labelBeneath);
  // The sliders' ranges and steps.
  const HWND frequency = hwnd(p.SliderUpdateFrequency);
  EXPECT_EQ(SendMessageA(frequency, TBM_GETRANGEMIN, 0, 0), 100);
  EXPECT_EQ(SendMessageA(frequency, TBM_GETRANGEMAX, 0, 0), 1000);
  EXPECT_EQ(SendMessageA(frequency, TBM_GETPAGESIZE, 0, 0), 5);
  EXPECT_EQ(SendMessageA(frequency, TBM_GETLINESIZE, 0, 0), 1);
  EXPECT_EQ(SendMessageA(frequency, TBM_GETPOS, 0, 0), 100);
  const HWND maximumOpacity = hwnd(p.SliderOpacityInhibit);
  EXPECT_EQ(SendMessageA(maximumOpacity, TBM_GETRANGEMAX, 0, 0), 100);
  EXPECT_EQ(SendMessageA(maximumOpacity, TBM_GETPAGESIZE, 0, 0), 10);
  EXPECT_EQ(SendMessageA(maximumOpacity, TBM_GETLINESIZE, 0, 0), 5);
  EXPECT_EQ(SendMessageA(maximumOpacity, TBM_GETPOS, 0, 0), 80);
  EXPECT_EQ(SendMessageA(hwnd(p.CheckVideoActive), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageA(hwnd(p.CheckAutoFade), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_FALSE(IsWindowEnabled(hwnd(p.CheckAutoFade))) << "locked while a session runs";

  // The overlay: a black sizable tool window, layered, top-most, at the
  // alpha of the maximum opacity (80 %).
  HWND overlay = overlayWindow();
  ASSERT_TRUE(IsWindowVisible(overlay));
  EXPECT_EQ(windowText(overlay), "Telvaris Lumidrop");
  const LONG exStyle = GetWindowLongA(overlay, GWL_EXSTYLE);
  EXPECT_EQ(exStyle & (WS_EX_TOOLWINDOW | WS_EX_LAYERED | WS_EX_TOPMOST),
            WS_EX_TOOLWINDOW | WS_EX_LAYERED | WS_EX_TOPMOST);
  const LONG style = GetWindowLongA(overlay, GWL_STYLE);
  EXPECT_TRUE((style & WS_THICKFRAME) && (style & WS_CAPTION));
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
  GetClientRect(overlay, &r);
  EXPECT_EQ(r.right, 656);
  EXPECT_EQ(r.bottom, 491);
  EXPECT_EQ(alphaOf(overlay), 200);
  GetWindowRect(overlay, &r);
  RECT panelRect;
  GetWindowRect(main, &panelRect);
  MONITORINFO screen{};
  screen.cbSize = sizeof screen;
  ASSERT_TRUE(GetMonitorInfoA(MonitorFromWindow(main, MONITOR_DEFAULTTOPRIMARY), &screen));
  const RECT work = screen.rcWork;
  std::printf("note: the screen's work area is %ld x %ld\n", work.right - work.left, work.bottom - work.top);
  if (panelRect.right + 8 + (r.right - r.left) <= work.right) {
    EXPECT_EQ(r.left, panelRect.right + 8) << "beside the panel, not over it";
    EXPECT_EQ(r.top, panelRect.top);
  } else {
    // A screen too small for both side by side (a wine prefix made without
    // a display keeps 1024 x 768): below the setup panel's full height,
    // kept on the screen.
    EXPECT_EQ(r.left, panelRect.left);
    EXPECT_EQ(r.bottom, std::min<LONG>(work.bottom, panelRect.top + 7770 / 15 + 8 + (r.bottom - r.top)));
  }

  // Decisions through the timer: a reward clears to the minimum opacity
  // (4 % gives alpha 10), an inhibit darkens to the maximum.
  telvaris.queue({1});
  EXPECT_TRUE(settle([&] { return alphaOf(overlay) == 10; }));
  telvaris.queue({0});
  EXPECT_TRUE(settle([&] { return alphaOf(overlay) == 200; }));
  EXPECT_EQ(windowText(hwnd(p.lblStatus)), "Reward Percentage is 50.00%");

  // "Setup" pressed as a user presses it: the full panel, "Exit" disabled,
  // the overlay a preview.
  SendMessageA(hwnd(p.btnSetup), BM_CLICK, 0, 0);
  GetWindowRect(main, &r);
  EXPECT_EQ(r.bottom - r.top, 7770 / 15);
  EXPECT_FALSE(IsWindowEnabled(hwnd(p.btnExit)));
  EXPECT_TRUE(IsWindowVisible(hwnd(p.FrameUpdateFrequency)));
  // The session's overlay went; the preview is a window of its own.
  EXPECT_FALSE(IsWindow(overlay));
  overlay = overlayWindow();
  ASSERT_TRUE(IsWindowVisible(overlay));
  // The Auto Fade box, clicked: checked in the model and on screen, and the
  // update frequency goes out of sight.
  SendMessageA(hwnd(p.CheckAutoFade), BM_CLICK, 0, 0);
  EXPECT_EQ(p.CheckAutoFade.value(), 1);
  EXPECT_EQ(SendMessageA(hwnd(p.CheckAutoFade), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_FALSE(IsWindowVisible(hwnd(p.FrameUpdateFrequency)));
  // The maximum-opacity slider, one step right with the keyboard: the
  // label, the setting and the preview follow (85 % gives alpha 212).
  SetFocus(maximumOpacity);
  SendMessageA(maximumOpacity, WM_KEYDOWN, VK_RIGHT, 0);
  SendMessageA(maximumOpacity, WM_KEYUP, VK_RIGHT, 0);
  EXPECT_EQ(program->settings.OpacityInhibit, 85);
  EXPECT_EQ(windowText(hwnd(p.LabelInhibitOpacity)), "(85%)");
  EXPECT_EQ(alphaOf(overlay), 212);
  // "Setup" again: the running bar, the settings saved.
  SendMessageA(hwnd(p.btnSetup), BM_CLICK, 0, 0);
  GetWindowRect(main, &r);
  EXPECT_EQ(r.bottom - r.top, 1605 / 15);
  const std::string saved = readFile(iniPath());
  EXPECT_NE(saved.find("AutoFade= 1\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("OpacityInhibit= 85\r\n"), std::string::npos) << saved;
  overlay = overlayWindow();
  ASSERT_TRUE(IsWindowVisible(overlay));

  // A right click on the overlay brings back the minimised panel.
  ShowWindow(main, SW_MINIMIZE);
  EXPECT_TRUE(settle([&] { return p.windowState() == ui::WindowState::Minimized; }));
  SendMessageA(overlay, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(20, 20));
  SendMessageA(overlay, WM_RBUTTONUP, 0, MAKELPARAM(20, 20));
  EXPECT_TRUE(settle([&] { return !IsIconic(main); }));
  EXPECT_EQ(p.windowState(), ui::WindowState::Normal);

  // Closing the overlay closes the program down, as closing the panel does.
  SendMessageA(overlay, WM_CLOSE, 0, 0);
  EXPECT_TRUE(app.ended());
  EXPECT_EQ(app.exitCode(), 0);
  EXPECT_FALSE(IsWindow(overlay));
  EXPECT_FALSE(fixtures::pathExists(root.file("lumidrop.pid")));
  EXPECT_NE(readFile(iniPath()).find("CPWidth= "), std::string::npos);
}

TEST_F(WineWindows, TheStartUpQuestionIsAYesNoMessageBox) {
  writeFile(root.file("lumidrop.pid"), "Telvaris LumiDrop\r\n");
  {
    BoxAnswerer answer(GetCurrentThreadId(), IDNO);
    app.start(panel());
    EXPECT_EQ(answer.text, "There could be another LumiDrop program running. Do you wish to continue?");
    EXPECT_TRUE(answer.hadYes && answer.hadNo);
  }
  EXPECT_TRUE(app.ended()) << "No ends the program";
  EXPECT_EQ(app.exitCode(), 0);
  EXPECT_TRUE(fixtures::pathExists(root.file("lumidrop.pid")));
}

TEST(WineVersion, TheVersionQueryChoosesTheEndpointVolume) {
  const platform::OsVersion v = platform::osVersion();
  ASSERT_TRUE(v.queried);
  EXPECT_EQ(v.platformId, 2);
  EXPECT_GE(v.major, 6);
  EXPECT_EQ(lumidrop::WindowsVersion(v), lumidrop::True);
}
