// On Windows the fixed files are where their names say: "c:\telvaris\MQTT.log"
// is that file on drive C:, and TELVARIS_ROOT means nothing.
#include <windows.h>

#include <cstdlib>

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

// Access rights alone do not tell (a protected folder may be virtualised),
// so a file is made there and deleted again.
bool folderWritable(const std::string& folder) {
  const std::string probe = folder + "\\~write-probe.tmp";
  HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

std::string userConfigFolder(const std::string& name) {
  const char* appData = std::getenv("APPDATA");
  const std::string folder = std::string(appData && *appData ? appData : "c:") + "\\" + name;
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

}  // namespace platform
