// The DSU session: InitialiseDSU starts a read thread that opens the road
// (data_road.h), allocates main storage and the decoded packet store,
// brings the unit online and then reads, stores and decodes until
// TerminateDSU (or a road that is gone) ends it; TerminateDSU can save the
// received bytes as a session file. telvaris.h lists each export's results.
#pragma once

#include <cstdint>
#include <vector>

namespace dsu {

// InitialiseDSU: TLV_INIT_STARTED, or TLV_INIT_NOT_STARTED when the thread
// cannot be created or the last session's thread still runs (logged;
// nothing changes). A thread that has ended is joined first, storage an
// earlier session or load still holds is released, and the out-of-memory
// flag is cleared.
int32_t initialiseDsu();

// TerminateDSU: ends the read thread through the instruction word and the
// session's stop request, waiting for it at most seven times 200 ms (after
// 500 ms with the wine hack, then for its end as well); with `saveSession`
// 1 writes the received bytes to `sessionPath`. TLV_TERMINATE_OK, or
// TLV_TERMINATE_SAVE_FAILED with the storage kept for another try.
int32_t terminateDsu(int32_t saveSession, const char* sessionPath);

int32_t pauseRecording();
int32_t resumeRecording();
// 2 while the out-of-memory flag is set, else the session's status.
int32_t systemStatus();
int32_t bufferLength();
int32_t packetsInBuffer();
int32_t totalBytesRead();
int32_t batteryStatus();
int32_t setWineHack(int32_t flag);

// The text of a status code, as the log and the header name them.
const char* statusName(int32_t status);

// Every status the current session has gone through, in order, one entry
// per change from InitialiseDSU on (at most 64): a caller that polls may
// miss a short-lived one, this does not.
std::vector<int32_t> statusTrail();

}  // namespace dsu
