#include "platform/profile.h"

#include <cctype>
#include <optional>

#include "platform/files.h"

namespace platform {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The section a line opens, if it is a section header.
std::optional<std::string_view> sectionName(std::string_view line) {
  line = trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  line.remove_prefix(1);
  const size_t close = line.find(']');
  if (close != std::string_view::npos) line = line.substr(0, close);
  return trim(line);
}

struct KeyLine {
  std::string_view key;
  std::optional<std::string_view> value;  // none: the line holds only the name
};

// A line inside a section names a key unless it is blank or a comment; a
// line without '=' names one without a value.
std::optional<KeyLine> keyLine(std::string_view line) {
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) {
    line = trim(line);
    if (line.empty() || line.front() == ';') return std::nullopt;
    return KeyLine{line, std::nullopt};
  }
  return KeyLine{trim(line.substr(0, eq)), trim(line.substr(eq + 1))};
}

std::string_view unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

// Index range [begin, end) of the lines inside the first section called
// `section` (the header excluded), or nothing.
struct Range {
  size_t header;
  size_t begin;
  size_t end;
};

std::optional<Range> findSection(const std::vector<std::string>& lines, std::string_view section) {
  section = trim(section);
  for (size_t i = 0; i < lines.size(); ++i) {
    auto name = sectionName(lines[i]);
    if (!name || !sameName(*name, section)) continue;
    size_t end = i + 1;
    while (end < lines.size() && !sectionName(lines[end])) ++end;
    return Range{i, i + 1, end};
  }
  return std::nullopt;
}

std::string line(std::string_view key, std::string_view value) {
  std::string s(key);
  s += '=';
  s += value;
  return s;
}

}  // namespace

ProfileFile::ProfileFile(std::string path) : path_(std::move(path)) {}

ProfileFile ProfileFile::load(const std::string& path) {
  ProfileFile profile(path);
  const auto text = readWholeFile(path);
  if (!text) return profile;
  size_t pos = 0;
  // An editor's byte-order mark is not part of the first line; it is
  // written back as it was.
  if (text->compare(0, 3, "\xEF\xBB\xBF") == 0) {
    profile.byteOrderMark_ = true;
    pos = 3;
  }
  // A line ends in CR LF, LF or a lone CR (as older editors wrote them).
  while (pos < text->size()) {
    size_t end = text->find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text->size();
    profile.lines_.push_back(text->substr(pos, end - pos));
    pos = end + 1;
    if (end < text->size() && (*text)[end] == '\r' && pos < text->size() && (*text)[pos] == '\n') ++pos;
  }
  return profile;
}

std::string ProfileFile::get(std::string_view section, std::string_view key, std::string_view defaultValue,
                             size_t bufferSize) const {
  std::optional<std::string_view> found;
  if (auto range = findSection(lines_, section)) {
    const std::string_view wanted = trim(key);
    for (size_t i = range->begin; i < range->end; ++i) {
      auto kv = keyLine(lines_[i]);
      if (kv && sameName(kv->key, wanted)) {
        if (kv->value) found = unquote(*kv->value);
        break;
      }
    }
  }
  if (bufferSize == 0) return {};
  std::string out(found.value_or(defaultValue).substr(0, bufferSize - 1));
  // The default loses its trailing blanks; a value found keeps what its
  // quotes hold.
  if (!found) {
    while (!out.empty() && isBlank(out.back())) out.pop_back();
  }
  return out;
}

void ProfileFile::set(std::string_view section, std::string_view key, std::string_view value) {
  auto range = findSection(lines_, section);
  if (!range) {
    lines_.push_back("[" + std::string(trim(section)) + "]");
    lines_.push_back(line(key, value));
    return;
  }
  const std::string_view wanted = trim(key);
  size_t lastFilled = range->header;
  for (size_t i = range->begin; i < range->end; ++i) {
    auto kv = keyLine(lines_[i]);
    if (kv && sameName(kv->key, wanted)) {
      lines_[i] = line(key, value);
      return;
    }
    if (!trim(lines_[i]).empty()) lastFilled = i;
  }
  // After the section's last line with text, before the blank lines that
  // separate it from the next one.
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(lastFilled + 1), line(key, value));
}

std::string ProfileFile::text() const {
  std::string out = byteOrderMark_ ? "\xEF\xBB\xBF" : "";
  for (const auto& l : lines_) {
    out += l;
    out += "\r\n";
  }
  return out;
}

bool ProfileFile::save() const { return replaceFileAtomically(path_, text()); }

std::string getPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue, size_t bufferSize, const std::string& path) {
  return ProfileFile::load(path).get(section, key, defaultValue, bufferSize);
}

bool writePrivateProfileString(std::string_view section, std::string_view key, std::string_view value,
                               const std::string& path) {
  ProfileFile profile = ProfileFile::load(path);
  profile.set(section, key, value);
  return profile.save();
}

}  // namespace platform
