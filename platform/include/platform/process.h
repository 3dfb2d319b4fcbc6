// Facts about the running process and its system, and requests to end it.
#pragma once

namespace platform {

// What the Windows version query reports. `queried` is false when the query
// itself failed.
struct OsVersion {
  bool queried = false;
  int platformId = 0;  // 2: the NT family
  int major = 0;
  int minor = 0;
};

// On Windows the version query's answer. Elsewhere the system stands for the
// NT 6 family, whose per-device endpoint volume is what a desktop sound
// server offers, or for NT 5 when `olderSystem` asks for it (a program
// told to behave as on an older system); Windows ignores it.
OsVersion osVersion(bool olderSystem = false);

// From now on an interrupt (Ctrl+C) or a termination request does not end
// the process: it is remembered until takeTerminationRequest() collects it,
// so that the program can close down the way closing its window does.
void catchTerminationRequests();

// True once per request received since the last call.
bool takeTerminationRequest();

}  // namespace platform
