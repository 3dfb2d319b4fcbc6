#include <windows.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "platform/files.h"

namespace platform {

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '\\' || folder.back() == '/') return folder + name;
  return folder + "\\" + name;
}

std::optional<std::string> readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream out;
  out << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return out.str();
}

bool replaceFileAtomically(const std::string& path, std::string_view contents) {
  // A file the user made read-only stays as it is.
  const DWORD old = GetFileAttributesA(path.c_str());
  if (old != INVALID_FILE_ATTRIBUTES && (old & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) return false;

  std::string temp;
  HANDLE h = INVALID_HANDLE_VALUE;
  for (unsigned attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
    temp = path + ".tmp" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount() + attempt);
    h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  while (ok && !contents.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(contents.size(), 1u << 30));
    ok = WriteFile(h, contents.data(), chunk, &written, nullptr) && written > 0;
    contents.remove_prefix(written);
  }
  ok = ok && FlushFileBuffers(h);
  if (!CloseHandle(h)) ok = false;
  // The new file takes the old one's name in one step, and that reaches the disk.
  if (ok && !MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) ok = false;
  if (!ok) DeleteFileA(temp.c_str());
  return ok;
}

bool removeFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

}  // namespace platform
