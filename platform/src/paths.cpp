#include "platform/paths.h"

#include <cctype>
#include <cstdlib>

namespace platform {

std::string homeFolder();          // per OS
bool makeFolders(const std::string& path);  // per OS: like mkdir -p

std::string telvarisRoot() {
  std::string root;
  if (const char* env = std::getenv("TELVARIS_ROOT"); env && *env) {
    root = env;
  } else {
    root = homeFolder() + "/.local/share/telvaris";
  }
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  makeFolders(root);
  return root;
}

std::string mapPath(std::string_view path) {
  const bool hasDrive =
      path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
  if (!hasDrive) return std::string(path);

  // Drive C: is the root itself; another drive gets a folder of its own so
  // that d:\x and c:\x stay apart.
  const char drive = static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
  std::string mapped = telvarisRoot();
  if (drive != 'c') {
    mapped += '/';
    mapped += drive;
  }
  std::string_view rest = path.substr(2);
  while (!rest.empty() && (rest.front() == '\\' || rest.front() == '/')) rest.remove_prefix(1);
  if (rest.empty()) return mapped;
  mapped += '/';
  for (char c : rest) mapped += (c == '\\') ? '/' : c;
  return mapped;
}

}  // namespace platform
