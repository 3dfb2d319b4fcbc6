// Profile (INI) files with the Windows profile functions' semantics.
//
// A file is a list of lines, each ending in CR LF, LF or a lone CR. "[name]"
// opens a section; "key=value" lines inside it hold the values, and a line
// with a name but no '=' is that key without a value. Section and key names
// match without regard to case, the first match wins, and blanks around
// names and values do not count. A value enclosed in one pair of quotes
// (double or single) reads without them, so "x" and x read alike. Lines
// that are neither (comments starting with ';', blank lines, text before
// the first section) are kept as they are, and so is everything a write
// does not touch. Files are written with CR LF line ends and replaced
// atomically.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

class ProfileFile {
 public:
  // An empty profile that will be saved to `path`.
  explicit ProfileFile(std::string path);

  // Reads `path`; a missing or unreadable file gives an empty profile.
  static ProfileFile load(const std::string& path);

  // The value of `key` in `section`, or `defaultValue` without its trailing
  // blanks when either is missing or the key has no value; cut to
  // bufferSize - 1 characters the way a fixed buffer of `bufferSize`
  // characters holds it (bufferSize 0 gives an empty text).
  std::string get(std::string_view section, std::string_view key, std::string_view defaultValue,
                  size_t bufferSize) const;

  // Writes key=value into `section`, replacing the key's first line or
  // adding one after the section's last line; a missing section is added at
  // the end of the file. Names and value are written as given.
  void set(std::string_view section, std::string_view key, std::string_view value);

  // The file's text as it would be saved.
  std::string text() const;

  // Replaces the file atomically; false leaves the old file untouched.
  bool save() const;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::vector<std::string> lines_;
  bool byteOrderMark_ = false;
};

// One read through a file, as GetPrivateProfileStringA does it.
std::string getPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue, size_t bufferSize, const std::string& path);

// One write through a file, as WritePrivateProfileStringA does it: creates
// the file and the section when missing. False when the file cannot be
// written (it is then unchanged).
bool writePrivateProfileString(std::string_view section, std::string_view key, std::string_view value,
                               const std::string& path);

}  // namespace platform
