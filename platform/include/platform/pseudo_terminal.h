// A pseudo-terminal as a serial wire: the library opens the far end as a
// COM port, a device stand-in or a test talks on the near end. Used by the
// stand-ins in tools/ and by the tests; a Windows build would use a
// virtual null-modem pair instead.
#pragma once

#include <string>

namespace platform {

class PseudoTerminal {
 public:
  // Makes the pair, the far end raw (nothing echoed or translated before
  // the serial layer sets the line up) and held open so that the line
  // survives the library's closes; the near end does not block. Throws
  // std::runtime_error when the system gives none.
  PseudoTerminal();
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  int nearFd() const { return near_; }
  const std::string& farPath() const { return farPath_; }

  // Makes COM `number` under `root` ($TELVARIS_ROOT: root/dosdevices/comN)
  // lead to the far end, replacing an older link. Throws
  // std::filesystem::filesystem_error when the link cannot be made.
  void linkAsCom(const std::string& root, int number) const;

  // Closes both ends: the wire is cut.
  void hangUp();

 private:
  int near_ = -1;
  int farKeeper_ = -1;
  std::string farPath_;
};

// The link linkAsCom makes for COM `number` under `root`.
std::string comLinkPath(const std::string& root, int number);

}  // namespace platform
