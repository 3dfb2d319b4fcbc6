#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/paths.h"

namespace platform {

std::string homeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

bool makeFolders(const std::string& path) {
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty()) continue;
    if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

std::string programFolder(std::string_view overrideFolder) {
  if (!overrideFolder.empty()) return std::string(overrideFolder);
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return ".";
  std::string exe(buffer, static_cast<size_t>(n));
  size_t slash = exe.rfind('/');
  return slash == 0 ? "/" : exe.substr(0, slash);
}

bool fileExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

bool folderWritable(const std::string& folder) { return access(folder.c_str(), W_OK | X_OK) == 0; }

std::string userConfigFolder(const std::string& name) {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  // A relative value is invalid and ignored, as the base directory rules say.
  const std::string base = config && config[0] == '/' ? config : homeFolder() + "/.config";
  const std::string folder = base + "/" + name;
  makeFolders(folder);
  return folder;
}

}  // namespace platform
