// On Windows the fixed files are where their names say: "c:\telvaris\MQTT.log"
// is that file on drive C:, and TELVARIS_ROOT means nothing.
#include <windows.h>

#include "platform/paths.h"

namespace platform {

std::string telvarisRoot() { return "c:\\"; }

std::string mapPath(std::string_view path) { return std::string(path); }

std::string programFolder(std::string_view overrideFolder) {
  if (!overrideFolder.empty()) return std::string(overrideFolder);
  char buffer[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return ".";
  std::string exe(buffer, n);
  const size_t slash = exe.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  // "c:\program.exe" lives in "c:\", not in "c:".
  return exe.substr(0, slash == 2 && exe[1] == ':' ? 3 : slash);
}

bool fileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace platform
