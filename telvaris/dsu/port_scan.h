// Finding the DSU: the candidate COM ports, the test that identifies a DSU
// on one port, and the scan the read thread runs before a serial session.
#pragma once

#include <cstdint>

#include "dsu/stop_token.h"

namespace dsu {

constexpr int32_t kMaxCandidates = 256;

// Appends the COM numbers of the serial layer's port listing to the
// candidate list and sorts it; repeated enumerations leave repeated
// numbers, which the scan tests once. A listing that no longer fits
// replaces the list. Logs "%d candidate COM ports identified". Returns the
// list's count. May throw std::bad_alloc (the listing), the list unchanged.
int32_t enumerateCandidates();
// A copy of the list (at most kMaxCandidates entries); its count.
int32_t candidates(int32_t* out);
void clearCandidates();
// Empties the list, enumerates, copies the numbers to `out` (256 entries):
// 0 when no port exists, else the count plus one (ListActiveCOMPorts).
int32_t listActiveComPorts(int32_t* out);

// Tests port index `port` for a DSU: set the port up, wait the settling
// time, stop and start the stream, and count what comes within the scan
// delay. More than packetLength bytes: a DSU; the stop signal is sent and
// the port left open; returns `port`. Otherwise -1 with the port closed
// (also when `stop` is requested during a wait).
int32_t testPort(int32_t port, StopToken& stop);

// The scan: the override (hintPort taken untested), else the hint, else
// every candidate in ascending order. Returns the DSU's port index, which
// becomes activeComPort and is held open for the session (wire::close
// releases it), or a negative value: -1 when no port answered or `stop` was
// requested, the failing step's code on the override path.
int32_t scanPorts(StopToken& stop);

}  // namespace dsu
