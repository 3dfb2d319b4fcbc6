// Whole-file reads and writes for the user's files.
//
// A user file is never left half written: the new contents go to a
// temporary file beside the old one, reach the disk, and then take its
// name in one step. A failure leaves the old file as it was.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// `folder` and `name` joined the platform's way.
std::string joinPath(const std::string& folder, const std::string& name);

// The whole file, or nothing when it cannot be read.
std::optional<std::string> readWholeFile(const std::string& path);

// Replaces (or creates) `path` with `contents` atomically. False when the
// folder or the file cannot be written; the old file is then untouched and
// no temporary file is left behind.
bool replaceFileAtomically(const std::string& path, std::string_view contents);

// Deletes a file; false when it was not there or cannot be deleted.
bool removeFile(const std::string& path);

}  // namespace platform
