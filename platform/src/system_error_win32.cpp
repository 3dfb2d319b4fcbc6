#include <windows.h>

#include <cstdio>

#include "platform/system_error.h"

namespace platform {

int lastSystemError() { return static_cast<int>(GetLastError()); }

int fileNotFoundError() { return ERROR_FILE_NOT_FOUND; }

std::string systemErrorText(int error) {
  // Callers look for this wording of a missing device whatever the
  // system's language (and wine words it differently).
  if (error == ERROR_FILE_NOT_FOUND) return "The system cannot find the file specified.\r\n";
  char* text = nullptr;
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, static_cast<DWORD>(error), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                 reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result;
  if (n && text) {
    result.assign(text, n);
  } else {
    char fallback[64];
    std::snprintf(fallback, sizeof fallback, "Unknown error %d.\r\n", error);
    result = fallback;
  }
  if (text) LocalFree(text);
  return result;
}

void showMessage(const std::string& text, const std::string& title) {
  MessageBoxA(nullptr, text.c_str(), title.c_str(), MB_OK);
}

}  // namespace platform
