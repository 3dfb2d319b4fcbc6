#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "platform/pseudo_terminal.h"

namespace platform {

PseudoTerminal::PseudoTerminal() {
  near_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128];
  if (near_ < 0 || grantpt(near_) != 0 || unlockpt(near_) != 0 || ptsname_r(near_, name, sizeof name) != 0) {
    hangUp();
    throw std::runtime_error("cannot make a pseudo-terminal");
  }
  farPath_ = name;
  farKeeper_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  if (farKeeper_ < 0 || tcgetattr(farKeeper_, &tio) != 0) {
    hangUp();
    throw std::runtime_error("cannot open " + farPath_);
  }
  cfmakeraw(&tio);
  tcsetattr(farKeeper_, TCSANOW, &tio);
  fcntl(near_, F_SETFL, fcntl(near_, F_GETFL) | O_NONBLOCK);
}

PseudoTerminal::~PseudoTerminal() { hangUp(); }

void PseudoTerminal::hangUp() {
  if (farKeeper_ >= 0) close(farKeeper_);
  if (near_ >= 0) close(near_);
  farKeeper_ = near_ = -1;
}

std::string comLinkPath(const std::string& root, int number) {
  return (std::filesystem::path(root) / "dosdevices" / ("com" + std::to_string(number))).string();
}

void PseudoTerminal::linkAsCom(const std::string& root, int number) const {
  const std::filesystem::path link = comLinkPath(root, number);
  std::filesystem::create_directories(link.parent_path());
  std::error_code ignored;
  std::filesystem::remove(link, ignored);
  std::filesystem::create_symlink(farPath_, link);
}

}  // namespace platform
