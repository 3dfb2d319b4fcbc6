// What the program needs of Windows before its first window.
#pragma once

namespace lumidrop {

// The window thread as a single-threaded COM apartment, for as long as the
// object lives: the endpoint volume is made and used on that thread.
class WindowsStart {
 public:
  WindowsStart();
  ~WindowsStart();
  WindowsStart(const WindowsStart&) = delete;
  WindowsStart& operator=(const WindowsStart&) = delete;

 private:
  bool comReady_ = false;
};

// A program of the windows subsystem has no console: when it was started
// from one (a command prompt), standard output and error go to that one, so
// that --help, --version and the overlay's log lines show there. Output
// that already goes somewhere (redirected to a file or a pipe) stays so.
void useStartingConsole();

}  // namespace lumidrop
