// What the library says to the DSU: framed text commands, the start and
// stop signals on each road, reprogramming (programDSU, SetDSUProtocol),
// the 512 Hz request of a session's start, and the identification report.
//
// Serial commands are framed by the sending mode:
//  - single-step: 0x02, each command byte, 0x0A, each a write of its own
//    followed by 5 ms; once a write fails the remaining command bytes are
//    skipped (their pauses kept) and the closing 0x0A is still written;
//  - burst: 0x01, the whole command in one write, 0x0A; no pauses, every
//    write attempted.
// Every failing write goes to the error report of the debug log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "dsu/stop_token.h"

namespace dsu {

// The command's `length` bytes (ending early at a zero byte) on `port` with
// the current framing. Serial and TCP/IP roads log "Telvaris command '%s'
// issued"; only the serial road sends; the MQTT roads log that they ignore
// it. TLV_DSU_OK; TLV_DSU_PORT_FAILED when a write failed (the rest of the
// frame is still handled as above); TLV_DSU_BAD_ARGUMENT for no command or a
// negative length.
int32_t sendCommand(int32_t port, const char* command, int32_t length, StopToken& stop);

// The stop ('NO CARRIER') and start ('RING') signals by the current road:
// serial: six bytes, one a write, 5 ms after each (the stop signal first
// empties the port's transmit and receive queues); the first byte is 0x0A
// instead of 0x02 for an early version 3 unit. MQTT roads: the road's stop
// or start payload published to its publish topic (5 ms after a start).
// TCP/IP: nothing is sent. TLV_DSU_OK; TLV_DSU_PORT_FAILED when a write or
// the publish failed; TLV_DSU_NO_MEMORY when the road's texts could not be
// copied.
int32_t sendStopSignal(int32_t port, StopToken& stop);
int32_t sendStartSignal(int32_t port, StopToken& stop);
// The serial form whatever the road: the port test speaks to a port.
int32_t sendSerialStopSignal(int32_t port, StopToken& stop);
int32_t sendSerialStartSignal(int32_t port, StopToken& stop);

// Opens `port` (closing it first if the DSU code left it open), sets the
// framing (8N1), the baud and raises DTR and RTS, stopping at the first
// failure, which goes to the error report. 0, or the failing step's code;
// on failure a port that was opened is closed again.
int32_t openAndSetUp(int32_t port);

// programDSU and SetDSUProtocol (telvaris.h lists their results).
int32_t programDsu(int32_t command, int32_t value, int32_t persist);
int32_t setDsuProtocol(int32_t protocol);

// A session's 512 Hz request: 6 active channels ("W97102") and 512 samples
// a second ("W9A004"), each logged and followed by 5 ms.
void switchTo512Hz(int32_t port, StopToken& stop);

// Where the identification report's replies come from: `receive` fills the
// buffer and returns the byte count (negative: an error); without it (the
// MQTT roads) the buffer is examined as it stands.
struct ReplyReader {
  uint8_t* buffer = nullptr;
  size_t capacity = 0;
  std::function<int32_t(uint8_t* buffer, size_t capacity)> receive;
};
// Everything queued on the serial port, one read.
ReplyReader serialReplies(int32_t port, uint8_t* buffer, size_t capacity);

// Only while logging is on: the stop signal, then queries of the protocol,
// the packet length, the sample rate and the identification text, each
// answer logged. A reply counts only when it is at least 7 bytes long. Ends
// early, logging nothing more, when `stop` is requested.
void identificationReport(int32_t port, ReplyReader& replies, StopToken& stop);

}  // namespace dsu
