#include "win32/win32_backend.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>

#include "platform/clock.h"
#include "platform/process.h"
#include "ui/geometry.h"

namespace ui {

namespace {

constexpr char kFormClass[] = "LumidropForm";
constexpr char kBackendClass[] = "LumidropBackend";
constexpr UINT_PTR kTerminationTimer = 1;
constexpr UINT kTerminationPollMs = 50;
constexpr UINT kWake = WM_APP + 1;
constexpr UINT_PTR kFrameSubclass = 1;
// The icon the program's resources carry (lumidropRemote.rc).
constexpr int kIconResource = 1;

HWND hwndOf(void* p) { return static_cast<HWND>(p); }
int32_t handleValue(HWND h) { return static_cast<int32_t>(reinterpret_cast<intptr_t>(h)); }

COLORREF colourOf(uint32_t rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

struct Counter {
  int& n;
  explicit Counter(int& count) : n(count) { ++n; }
  ~Counter() { --n; }
};

Win32Backend* backendOf(HWND hwnd) { return reinterpret_cast<Win32Backend*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA)); }

void keepCreator(HWND hwnd, UINT message, LPARAM lParam) {
  if (message != WM_NCCREATE) return;
  const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
  SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
}

LRESULT CALLBACK formProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  keepCreator(hwnd, message, lParam);
  if (Win32Backend* backend = backendOf(hwnd)) {
    bool handled = false;
    const LRESULT result = backend->formMessage(hwnd, message, wParam, lParam, handled);
    if (handled) return result;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

// A frame is a group box holding controls: what they tell their parent goes
// on to the form's handling (a group box itself ignores it).
LRESULT CALLBACK frameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR backend) {
  switch (message) {
    case WM_COMMAND:
    case WM_HSCROLL:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      bool handled = false;
      const LRESULT result =
          reinterpret_cast<Win32Backend*>(backend)->formMessage(hwnd, message, wParam, lParam, handled);
      if (handled) return result;
      break;
    }
    case WM_ERASEBKGND: {
      // A group box paints its border and caption only: inside, the form's
      // colour (the form's own erasing leaves out its child windows).
      bool handled = false;
      const auto hdc = reinterpret_cast<HDC>(wParam);
      const LRESULT brush = reinterpret_cast<Win32Backend*>(backend)->formMessage(
          hwnd, WM_CTLCOLORSTATIC, wParam, reinterpret_cast<LPARAM>(hwnd), handled);
      if (!handled || brush == 0) break;
      RECT client;
      GetClientRect(hwnd, &client);
      FillRect(hdc, &client, reinterpret_cast<HBRUSH>(brush));
      return 1;
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(hwnd, frameProc, kFrameSubclass);
      break;
    default:
      break;
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK backendProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  keepCreator(hwnd, message, lParam);
  if (message == WM_TIMER || message == kWake) {
    if (Win32Backend* backend = backendOf(hwnd)) backend->backendMessage(message, wParam);
    return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

// The size a caption takes in `font`, in pixels.
SIZE textSize(HWND hwnd, HFONT font, const std::string& text) {
  SIZE size{0, 0};
  HDC dc = GetDC(hwnd);
  if (!dc) return size;
  HGDIOBJ old = SelectObject(dc, font);
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(hwnd, dc);
  return size;
}

BOOL CALLBACK answerBox(HWND hwnd, LPARAM wayOut) {
  char name[16] = {};
  GetClassNameA(hwnd, name, sizeof name);
  // A message box is a dialogue of the system's class "#32770".
  if (std::string(name) == "#32770" && IsWindowVisible(hwnd)) {
    PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(wayOut), BN_CLICKED), 0);
    return FALSE;
  }
  return TRUE;
}

}  // namespace

// ------------------------------------------------------------------ set-up

Win32Backend::Win32Backend() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  instance_ = instance;
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(kIconResource));
  HICON small = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(kIconResource), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  WNDCLASSEXA form{};
  form.cbSize = sizeof form;
  form.style = CS_DBLCLKS;
  form.lpfnWndProc = formProc;
  form.hInstance = instance;
  form.hIcon = icon ? icon : LoadIconA(nullptr, MAKEINTRESOURCEA(32512));  // IDI_APPLICATION
  form.hIconSm = small ? small : form.hIcon;
  form.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  form.lpszClassName = kFormClass;
  RegisterClassExA(&form);

  WNDCLASSEXA own{};
  own.cbSize = sizeof own;
  own.lpfnWndProc = backendProc;
  own.hInstance = instance;
  own.lpszClassName = kBackendClass;
  RegisterClassExA(&own);

  NONCLIENTMETRICSA metrics{};
  metrics.cbSize = sizeof metrics;
  if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    font_ = CreateFontIndirectA(&metrics.lfMessageFont);
  }
  if (!font_) font_ = GetStockObject(DEFAULT_GUI_FONT);

  HDC screen = GetDC(nullptr);
  twipsPerPixel_ = ui::twipsPerPixel(screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96);
  if (screen) ReleaseDC(nullptr, screen);

  messageWindow_ = CreateWindowExA(0, kBackendClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this);
}

Win32Backend::~Win32Backend() {
  for (auto& [form, window] : windows_) {
    DestroyWindow(hwndOf(window.hwnd));
    DeleteObject(static_cast<HGDIOBJ>(window.background));
  }
  windows_.clear();
  handles_.clear();
  controls_.clear();
  if (messageWindow_) DestroyWindow(hwndOf(messageWindow_));
  if (font_ && font_ != GetStockObject(DEFAULT_GUI_FONT)) DeleteObject(static_cast<HGDIOBJ>(font_));
  UnregisterClassA(kFormClass, static_cast<HINSTANCE>(instance_));
  UnregisterClassA(kBackendClass, static_cast<HINSTANCE>(instance_));
}

void Win32Backend::attach(Application& app) {
  app_ = &app;
  // Termination requests are looked at from the start, also inside the
  // start-up's message boxes (their own loops run the backend's timer).
  if (messageWindow_) SetTimer(hwndOf(messageWindow_), kTerminationTimer, kTerminationPollMs, nullptr);
}

int32_t Win32Backend::toPixels(int32_t twips) const { return twipsToPixels(twips, twipsPerPixel_); }

int32_t Win32Backend::toTwips(int32_t pixels) const { return pixelsToTwips(pixels, twipsPerPixel_); }

int32_t Win32Backend::handle(const Control& control) const {
  auto it = handles_.find(&control);
  return it == handles_.end() ? 0 : handleValue(hwndOf(it->second));
}

Control* Win32Backend::control(int32_t h) const {
  auto it = controls_.find(reinterpret_cast<void*>(static_cast<intptr_t>(h)));
  return it == controls_.end() ? nullptr : it->second;
}

Form* Win32Backend::formOf(void* hwnd) const {
  HWND root = GetAncestor(hwndOf(hwnd), GA_ROOT);
  auto it = controls_.find(root);
  return it != controls_.end() && it->second->kind() == Kind::Form ? static_cast<Form*>(it->second) : nullptr;
}

// ------------------------------------------------------------ input, ends

void Win32Backend::deliver(const std::function<void()>& input) {
  try {
    input();
  } catch (const ProgramEnd& end) {
    // Only a handler that let events run is above us: it gets the end back
    // once the system's frames are behind us.
    pendingEnd_ = end;
  } catch (...) {
    if (!pendingError_) pendingError_ = std::current_exception();
  }
}

void Win32Backend::raisePending() {
  if (pendingError_) {
    std::exception_ptr error = pendingError_;
    pendingError_ = nullptr;
    std::rethrow_exception(error);
  }
  if (!pendingEnd_) return;
  const ProgramEnd end = *pendingEnd_;
  pendingEnd_.reset();
  throw end;
}

void Win32Backend::checkTermination() {
  if (!platform::takeTerminationRequest()) return;
  if (openBoxWayOut_ != 0) {
    // A request while a message box waits is answered as the box's own way
    // out (No, or OK): the handler that asked goes on from there, as it
    // does for a user who chose it.
    answerOpenBox();
    return;
  }
  if (app_) app_->terminationRequested();
}

void Win32Backend::answerOpenBox() {
  if (openBoxWayOut_ != 0) EnumThreadWindows(GetCurrentThreadId(), answerBox, openBoxWayOut_);
}

void Win32Backend::backendMessage(unsigned message, uintptr_t wParam) {
  if (message == WM_TIMER && wParam == kTerminationTimer) deliver([this] { checkTermination(); });
}

intptr_t Win32Backend::formMessage(void* window, unsigned message, uintptr_t wParam, intptr_t lParam,
                                   bool& handled) {
  HWND hwnd = hwndOf(window);
  try {
    switch (message) {
      case WM_COMMAND: {
        if (HIWORD(wParam) != BN_CLICKED || lParam == 0) break;
        void* from = reinterpret_cast<void*>(lParam);
        auto it = controls_.find(from);
        if (it == controls_.end() || syncing_ > 0) break;
        Control* c = it->second;
        handled = true;
        if (c->kind() == Kind::Button) {
          deliver([c] { static_cast<Button*>(c)->userClick(); });
        } else if (c->kind() == Kind::CheckBox) {
          deliver([c] { static_cast<CheckBox*>(c)->userClick(); });
          // The box shows what the model holds, whatever the click was.
          auto again = controls_.find(from);
          if (again != controls_.end()) syncValue(*again->second);
        }
        return 0;
      }
      case WM_HSCROLL: {
        void* from = reinterpret_cast<void*>(lParam);
        auto it = controls_.find(from);
        if (it == controls_.end() || it->second->kind() != Kind::Slider || syncing_ > 0) break;
        auto* slider = static_cast<Slider*>(it->second);
        handled = true;
        const auto position = static_cast<int32_t>(SendMessageA(hwndOf(from), TBM_GETPOS, 0, 0));
        if (position != slider->value()) deliver([slider, position] { slider->userScroll(position); });
        // The slider shows what the model holds (a coupled pair may have
        // pushed it back).
        auto again = controls_.find(from);
        if (again != controls_.end()) syncValue(*again->second);
        return 0;
      }
      case WM_CTLCOLORSTATIC:
      case WM_CTLCOLORBTN: {
        Form* form = formOf(hwnd);
        auto it = form ? windows_.find(form) : windows_.end();
        if (it == windows_.end()) break;
        handled = true;
        SetBkColor(reinterpret_cast<HDC>(wParam), colourOf(form->design().backColor));
        return reinterpret_cast<intptr_t>(it->second.background);
      }
      default:
        break;
    }

    // The form's own window from here on.
    auto self = controls_.find(hwnd);
    if (self == controls_.end() || self->second->kind() != Kind::Form) return 0;
    Form* form = static_cast<Form*>(self->second);
    switch (message) {
      case WM_ERASEBKGND: {
        auto it = windows_.find(form);
        if (it == windows_.end()) break;
        RECT client;
        GetClientRect(hwnd, &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client, static_cast<HBRUSH>(it->second.background));
        handled = true;
        return 1;
      }
      case WM_LBUTTONDOWN:
      case WM_RBUTTONDOWN:
      case WM_MBUTTONDOWN: {
        // Presses on a control go to that control's own window, never here.
        const int button = message == WM_LBUTTONDOWN ? 1 : message == WM_RBUTTONDOWN ? 2 : 4;
        const int shift = ((wParam & MK_SHIFT) ? 1 : 0) | ((wParam & MK_CONTROL) ? 2 : 0) |
                          (GetKeyState(VK_MENU) < 0 ? 4 : 0);
        const auto x = static_cast<float>(GET_X_LPARAM(lParam) * twipsPerPixel_);
        const auto y = static_cast<float>(GET_Y_LPARAM(lParam) * twipsPerPixel_);
        handled = true;
        deliver([form, button, shift, x, y] { form->userMouseDown(button, shift, x, y); });
        return 0;
      }
      case WM_CLOSE:
        // The model decides whether the window goes (its unload handler
        // may keep it); it unloads the form itself when it does.
        handled = true;
        deliver([form] { form->userClose(); });
        return 0;
      case WM_SIZE: {
        if (syncing_ > 0) break;
        WindowState state;
        if (wParam == SIZE_MINIMIZED) {
          state = WindowState::Minimized;
        } else if (wParam == SIZE_MAXIMIZED) {
          state = WindowState::Maximized;
        } else if (wParam == SIZE_RESTORED) {
          state = WindowState::Normal;
        } else {
          break;
        }
        if (state != form->windowState() && IsWindowVisible(hwnd)) {
          // The user or the window manager did it: the model takes the
          // state as it is, without applying it back.
          Counter quiet(syncing_);
          deliver([form, state] { form->userSetWindowState(state); });
        }
        if (state == WindowState::Normal) windowPlaced(*form);
        break;
      }
      case WM_MOVE:
        if (syncing_ == 0) windowPlaced(*form);
        break;
      case WM_TIMER: {
        auto it = timerIds_.find(wParam);
        if (it == timerIds_.end()) break;
        Timer* timer = it->second;
        handled = true;
        deliver([timer] { timer->fire(); });
        return 0;
      }
      case WM_QUERYENDSESSION:
        handled = true;
        return TRUE;
      case WM_ENDSESSION:
        // The session ends: close down as the user closing the window does,
        // before the system ends the process.
        if (wParam) deliver([this] {
            if (app_) app_->terminationRequested();
          });
        handled = true;
        return 0;
      default:
        break;
    }
  } catch (...) {
    if (!pendingError_) pendingError_ = std::current_exception();
    handled = true;
  }
  return 0;
}

// ---------------------------------------------------------------- windows

int32_t Win32Backend::createWindow(Form& form) {
  const FormDesign& design = form.design();
  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  DWORD exStyle = WS_EX_CONTROLPARENT;
  if (design.border == BorderStyle::SizableToolWindow) {
    // A thin caption, a border to size it by, no minimise or maximise
    // button, and no place in the taskbar.
    style |= WS_THICKFRAME;
    exStyle |= WS_EX_TOOLWINDOW;
  } else {
    style |= WS_MINIMIZEBOX;
  }
  if (!design.showInTaskbar) exStyle |= WS_EX_TOOLWINDOW;

  // The designed client area with this system's frame around it.
  RECT outer{0, 0, toPixels(design.clientWidth), toPixels(design.clientHeight)};
  AdjustWindowRectEx(&outer, style, FALSE, exStyle);
  const int32_t width = toTwips(outer.right - outer.left), height = toTwips(outer.bottom - outer.top);
  const Rect designed = form.designRect();
  const Rect now = form.rect();
  if (design.defaultPlacement) {
    // The work area of the screen the main window is on (the primary one
    // before it has a window).
    const Form* main = app_ ? app_->mainForm() : nullptr;
    auto mainWindow = main ? windows_.find(main) : windows_.end();
    HMONITOR monitor = mainWindow != windows_.end()
                           ? MonitorFromWindow(hwndOf(mainWindow->second.hwnd), MONITOR_DEFAULTTOPRIMARY)
                           : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    RECT work{};
    if (monitor && GetMonitorInfoA(monitor, &info)) {
      work = info.rcWork;
    } else {
      SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    }
    const Rect area{toTwips(work.left), toTwips(work.top), toTwips(work.right) - toTwips(work.left),
                    toTwips(work.bottom) - toTwips(work.top)};
    const Rect place = firstPlacement(form, main, area, width, height, placed_);
    if (!main || main == &form || !main->loaded()) ++placed_;
    form.placeAt(place.left, place.top, place.width, place.height);
  } else if (now.left == designed.left && now.top == designed.top && now.width == designed.width &&
             now.height == designed.height) {
    form.placeAt(now.left, now.top, width, height);
  }

  Window& window = windows_[&form];
  window = Window{};
  window.background = CreateSolidBrush(colourOf(design.backColor));
  HWND hwnd = CreateWindowExA(exStyle, kFormClass, form.caption().c_str(), style, toPixels(form.left()),
                              toPixels(form.top()), toPixels(form.width()), toPixels(form.height()), nullptr,
                              nullptr, static_cast<HINSTANCE>(instance_), this);
  window.hwnd = hwnd;
  handles_[&form] = hwnd;
  controls_[hwnd] = &form;
  makeControls(form, hwnd);
  if (form.windowState() != WindowState::Normal) applyFormVisibility(form);
  return handleValue(hwnd);
}

void Win32Backend::destroyWindow(Form& form) {
  auto it = windows_.find(&form);
  if (it == windows_.end()) return;
  HWND hwnd = hwndOf(it->second.hwnd);
  // The form's controls may be gone already (a form object being
  // destroyed): they are found through their windows, never touched.
  for (auto c = handles_.begin(); c != handles_.end();) {
    HWND h = hwndOf(c->second);
    if (h == hwnd || IsChild(hwnd, h)) {
      controls_.erase(c->second);
      c = handles_.erase(c);
    } else {
      ++c;
    }
  }
  HGDIOBJ background = static_cast<HGDIOBJ>(it->second.background);
  windows_.erase(it);
  {
    // A handler of this very window may be running further up: the system
    // lets a window procedure outlive its window.
    Counter quiet(syncing_);
    DestroyWindow(hwnd);
  }
  DeleteObject(background);
}

void Win32Backend::makeControls(Container& container, void* parent) {
  for (Control* child : container.children()) makeControl(*child, parent);
  // Labels are drawn on their container, beneath every other control: where
  // the design lets a label run under a slider, the slider stays whole.
  // (A new child window goes below its elder siblings, so this comes last.)
  for (Control* child : container.children()) {
    auto it = handles_.find(child);
    if (child->kind() != Kind::Label || it == handles_.end()) continue;
    SetWindowPos(hwndOf(it->second), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
}

void Win32Backend::makeControl(Control& control, void* parent) {
  const char* windowClass = nullptr;
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  DWORD exStyle = 0;
  switch (control.kind()) {
    case Kind::Frame:
      windowClass = WC_BUTTONA;
      style |= BS_GROUPBOX | WS_CLIPCHILDREN;
      exStyle |= WS_EX_CONTROLPARENT;
      break;
    case Kind::Label:
      windowClass = WC_STATICA;
      style |= SS_LEFT | SS_NOPREFIX;
      break;
    case Kind::Button:
      windowClass = WC_BUTTONA;
      style |= BS_PUSHBUTTON | WS_TABSTOP;
      break;
    case Kind::CheckBox:
      // Not an automatic box: the model decides its state.
      windowClass = WC_BUTTONA;
      style |= BS_CHECKBOX | WS_TABSTOP;
      break;
    case Kind::Slider:
      windowClass = TRACKBAR_CLASSA;
      style |= TBS_HORZ | TBS_BOTTOM | TBS_AUTOTICKS | WS_TABSTOP;
      break;
    case Kind::Form:
      return;  // forms are windows, made by createWindow
  }
  if (control.visible()) style |= WS_VISIBLE;
  if (!control.enabled()) style |= WS_DISABLED;
  HWND hwnd = CreateWindowExA(exStyle, windowClass, control.caption().c_str(), style, 0, 0, 0, 0, hwndOf(parent),
                              reinterpret_cast<HMENU>(static_cast<intptr_t>(nextControlId_++)),
                              static_cast<HINSTANCE>(instance_), nullptr);
  if (!hwnd) return;
  SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  handles_[&control] = hwnd;
  controls_[hwnd] = &control;
  Counter quiet(syncing_);
  applyControlGeometry(control);
  if (control.kind() == Kind::Slider) applyRange(control);
  syncValue(control);
  if (control.kind() == Kind::Frame) {
    SetWindowSubclass(hwnd, frameProc, kFrameSubclass, reinterpret_cast<DWORD_PTR>(this));
    makeControls(static_cast<Container&>(control), hwnd);
  }
}

void Win32Backend::applyControlGeometry(Control& control) {
  auto it = handles_.find(&control);
  if (it == handles_.end()) return;
  HWND hwnd = hwndOf(it->second);
  int32_t needWidth = 0, needHeight = 0;
  if (!control.caption().empty()) {
    const SIZE text = textSize(hwnd, static_cast<HFONT>(font_), control.caption());
    needWidth = text.cx;
    needHeight = text.cy;
    if (control.kind() == Kind::CheckBox) {
      needWidth += GetSystemMetrics(SM_CXMENUCHECK) + GetSystemMetrics(SM_CXEDGE) * 2;
    } else if (control.kind() == Kind::Button) {
      needWidth += 2 * GetSystemMetrics(SM_CXEDGE) + 8;
      needHeight += 2 * GetSystemMetrics(SM_CYEDGE) + 4;
    }
  }
  const Rect r = controlPixels(control, needWidth, needHeight, twipsPerPixel_);
  SetWindowPos(hwnd, nullptr, r.left, r.top, r.width, r.height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Backend::applyRange(Control& control) {
  auto it = handles_.find(&control);
  if (it == handles_.end() || control.kind() != Kind::Slider) return;
  HWND hwnd = hwndOf(it->second);
  const Slider& s = static_cast<const Slider&>(control);
  Counter quiet(syncing_);
  SendMessageA(hwnd, TBM_SETRANGEMIN, FALSE, s.min());
  SendMessageA(hwnd, TBM_SETRANGEMAX, FALSE, s.max());
  SendMessageA(hwnd, TBM_SETLINESIZE, 0, s.smallChange());
  SendMessageA(hwnd, TBM_SETPAGESIZE, 0, s.largeChange());
  SendMessageA(hwnd, TBM_SETTICFREQ, tickInterval(s.min(), s.max(), s.largeChange(), toPixels(s.width())), 0);
  InvalidateRect(hwnd, nullptr, TRUE);
}

void Win32Backend::syncValue(Control& control) {
  auto it = handles_.find(&control);
  if (it == handles_.end()) return;
  HWND hwnd = hwndOf(it->second);
  Counter quiet(syncing_);
  if (control.kind() == Kind::CheckBox) {
    SendMessageA(hwnd, BM_SETCHECK, static_cast<CheckBox&>(control).value() != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
  } else if (control.kind() == Kind::Slider) {
    SendMessageA(hwnd, TBM_SETPOS, TRUE, static_cast<Slider&>(control).value());
  }
}

void Win32Backend::applyFormGeometry(Form& form) {
  auto it = windows_.find(&form);
  if (it == windows_.end()) return;
  HWND hwnd = hwndOf(it->second.hwnd);
  const RECT place{toPixels(form.left()), toPixels(form.top()), toPixels(form.left()) + toPixels(form.width()),
                   toPixels(form.top()) + toPixels(form.height())};
  Counter quiet(syncing_);
  if (IsIconic(hwnd) || IsZoomed(hwnd)) {
    // The place it takes again when restored.
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    GetWindowPlacement(hwnd, &placement);
    placement.rcNormalPosition = place;
    placement.showCmd = IsIconic(hwnd) ? SW_SHOWMINNOACTIVE : SW_SHOWMAXIMIZED;
    if (!IsWindowVisible(hwnd)) placement.showCmd = SW_HIDE;
    SetWindowPlacement(hwnd, &placement);
    return;
  }
  SetWindowPos(hwnd, nullptr, place.left, place.top, place.right - place.left, place.bottom - place.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Backend::applyFormVisibility(Form& form) {
  auto it = windows_.find(&form);
  if (it == windows_.end()) return;
  HWND hwnd = hwndOf(it->second.hwnd);
  Counter quiet(syncing_);
  if (!form.visible()) {
    ShowWindow(hwnd, SW_HIDE);
    return;
  }
  switch (form.windowState()) {
    case WindowState::Minimized:
      ShowWindow(hwnd, SW_SHOWMINIMIZED);
      break;
    case WindowState::Maximized:
      ShowWindow(hwnd, SW_SHOWMAXIMIZED);
      break;
    default:
      ShowWindow(hwnd, IsIconic(hwnd) || IsZoomed(hwnd) ? SW_RESTORE : SW_SHOW);
      break;
  }
}

void Win32Backend::windowPlaced(Form& form) {
  auto it = windows_.find(&form);
  if (it == windows_.end()) return;
  HWND hwnd = hwndOf(it->second.hwnd);
  if (!IsWindowVisible(hwnd) || IsIconic(hwnd) || IsZoomed(hwnd)) return;
  RECT outer;
  if (!GetWindowRect(hwnd, &outer)) return;
  if (outer.left == toPixels(form.left()) && outer.top == toPixels(form.top()) &&
      outer.right - outer.left == toPixels(form.width()) && outer.bottom - outer.top == toPixels(form.height())) {
    return;
  }
  const Rect moved{toTwips(outer.left), toTwips(outer.top), toTwips(outer.right - outer.left),
                   toTwips(outer.bottom - outer.top)};
  Counter quiet(syncing_);
  deliver([&form, moved] { form.userMoveResize(moved); });
}

// ------------------------------------------------------------ model changes

void Win32Backend::changed(Control& control, Property what) {
  auto it = handles_.find(&control);
  if (it == handles_.end()) return;
  HWND hwnd = hwndOf(it->second);
  if (control.kind() == Kind::Form) {
    Form& form = static_cast<Form&>(control);
    switch (what) {
      case Property::Geometry:
        if (syncing_ == 0) applyFormGeometry(form);
        break;
      case Property::Caption:
        SetWindowTextA(hwnd, form.caption().c_str());
        break;
      case Property::Visible:
        applyFormVisibility(form);
        break;
      case Property::Enabled:
        EnableWindow(hwnd, form.enabled());
        break;
      case Property::WindowState:
        // A hidden form takes its state when it is shown.
        if (syncing_ == 0 && form.visible()) applyFormVisibility(form);
        break;
      case Property::Value:
      case Property::Range:
        break;
    }
    return;
  }
  switch (what) {
    case Property::Caption:
      SetWindowTextA(hwnd, control.caption().c_str());
      applyControlGeometry(control);
      break;
    case Property::Geometry:
      applyControlGeometry(control);
      if (control.kind() == Kind::Slider) applyRange(control);
      break;
    case Property::Visible:
      ShowWindow(hwnd, control.visible() ? SW_SHOWNA : SW_HIDE);
      break;
    case Property::Enabled:
      EnableWindow(hwnd, control.enabled());
      break;
    case Property::Range:
      applyRange(control);
      syncValue(control);
      break;
    case Property::Value:
      syncValue(control);
      break;
    case Property::WindowState:
      break;
  }
}

void Win32Backend::repaint(Form& form) {
  auto it = windows_.find(&form);
  if (it == windows_.end()) return;
  RedrawWindow(hwndOf(it->second.hwnd), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  GdiFlush();
}

void Win32Backend::focus(Form& form) {
  auto it = windows_.find(&form);
  if (it == windows_.end()) return;
  HWND hwnd = hwndOf(it->second.hwnd);
  if (!IsWindowVisible(hwnd)) return;
  SetForegroundWindow(hwnd);
  SetFocus(hwnd);
}

// ------------------------------------------------------------------ timers

void Win32Backend::timerChanged(Timer& timer, bool alive) {
  auto it = timers_.find(&timer);
  auto window = windows_.find(&timer.form());
  HWND hwnd = window == windows_.end() ? nullptr : hwndOf(window->second.hwnd);
  if (!alive) {
    if (it == timers_.end()) return;
    if (hwnd) KillTimer(hwnd, it->second);
    timerIds_.erase(it->second);
    timers_.erase(it);
    return;
  }
  uintptr_t id = 0;
  if (it == timers_.end()) {
    id = nextTimerId_++;
    timers_[&timer] = id;
    timerIds_[id] = &timer;
  } else {
    id = it->second;
  }
  if (!hwnd) return;
  // A new interval or a new start counts from now. The system's shortest
  // interval is 10 ms.
  if (timer.armed()) {
    SetTimer(hwnd, id, std::max<UINT>(timer.interval(), USER_TIMER_MINIMUM), nullptr);
  } else {
    KillTimer(hwnd, id);
  }
}

// ------------------------------------------------------- boxes and events

MessageBoxResult Win32Backend::messageBox(const std::string& text, const std::string& title,
                                          MessageBoxButtons buttons) {
  const bool yesNo = buttons == MessageBoxButtons::YesNo;
  HWND owner = nullptr;
  if (Form* main = app_ ? app_->mainForm() : nullptr) {
    auto it = windows_.find(main);
    if (it != windows_.end() && IsWindowVisible(hwndOf(it->second.hwnd))) owner = hwndOf(it->second.hwnd);
  }
  const UINT flags = (yesNo ? MB_YESNO | MB_ICONQUESTION : MB_OK | MB_ICONEXCLAMATION) | MB_SETFOREGROUND;
  const int outerWayOut = openBoxWayOut_;
  openBoxWayOut_ = yesNo ? IDNO : IDOK;
  const int answer = MessageBoxA(owner, text.c_str(), title.c_str(), flags);
  openBoxWayOut_ = outerWayOut;
  raisePending();
  if (!yesNo) return MessageBoxResult::Ok;
  return answer == IDYES ? MessageBoxResult::Yes : MessageBoxResult::No;
}

void Win32Backend::dispatchMessage(void* message) {
  MSG* msg = static_cast<MSG*>(message);
  // Tab, the arrow keys and the space bar work in a form as in a dialogue.
  if (msg->hwnd && msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST) {
    HWND root = GetAncestor(msg->hwnd, GA_ROOT);
    if (controls_.count(root) && IsDialogMessageA(root, msg)) return;
  }
  TranslateMessage(msg);
  DispatchMessageA(msg);
}

void Win32Backend::doEvents() {
  // A termination request is an event like the others: a long handler that
  // lets events run closes down inside.
  checkTermination();
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    dispatchMessage(&msg);
    if (pendingEnd_ || pendingError_) break;
  }
  raisePending();
}

void Win32Backend::sleep(uint32_t ms) { Sleep(ms); }

void Win32Backend::run() {
  quit_ = false;
  MSG msg;
  while (!quit_ && !(app_ && app_->ended())) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got <= 0) break;  // WM_QUIT, or no queue to read
    dispatchMessage(&msg);
    // Out here no handler waits for an end: the program has ended.
    pendingEnd_.reset();
    raisePending();
  }
}

void Win32Backend::quit() {
  quit_ = true;
  // A message box still on screen goes with the program.
  answerOpenBox();
  if (messageWindow_) PostMessageA(hwndOf(messageWindow_), kWake, 0, 0);
}

bool Win32Backend::runUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
  const uint32_t start = platform::tickMs();
  for (;;) {
    if (done()) return true;
    if ((app_ && app_->ended()) || platform::tickMs() - start >= timeoutMs) return done();
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) break;
      dispatchMessage(&msg);
    }
    pendingEnd_.reset();
    raisePending();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

}  // namespace ui
