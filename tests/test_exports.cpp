// The library exports exactly what the public header declares, and the
// Windows export list names the same functions.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

std::set<std::string> headerExports() {
  std::ifstream in(TELVARIS_HEADER_PATH);
  std::stringstream text;
  text << in.rdbuf();
  const std::string s = text.str();
  std::set<std::string> names;
  std::regex decl(R"(TLV_API\s+[^;(]*?\bTLV_CALL\s+(\w+)\s*\()");
  for (std::sregex_iterator it(s.begin(), s.end(), decl), end; it != end; ++it) names.insert((*it)[1]);
  return names;
}

std::set<std::string> defExports() {
  std::ifstream in(TELVARIS_DEF_PATH);
  std::set<std::string> names;
  std::string line;
  bool inExports = false;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string word;
    if (!(words >> word) || word[0] == ';') continue;
    if (word == "EXPORTS") {
      inExports = true;
    } else if (inExports) {
      names.insert(word.substr(0, word.find('@')));
    }
  }
  return names;
}

std::set<std::string> libraryExports() {
  const std::string command = std::string("nm -D --defined-only ") + TELVARIS_LIBRARY_PATH;
  FILE* pipe = popen(command.c_str(), "r");
  std::set<std::string> names;
  if (!pipe) return names;
  char line[512];
  while (std::fgets(line, sizeof line, pipe)) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (fields >> address >> type >> name) names.insert(name.substr(0, name.find('@')));
  }
  pclose(pipe);
  return names;
}

}  // namespace

TEST(Exports, HeaderAndWindowsListAgree) {
  const auto header = headerExports();
  ASSERT_FALSE(header.empty());
  EXPECT_EQ(header, defExports());
}

TEST(Exports, SharedLibraryExportsExactlyTheHeader) {
  auto exported = libraryExports();
  // The version script's node name is not a function.
  exported.erase("");
  EXPECT_EQ(exported, headerExports());
}
