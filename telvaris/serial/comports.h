// Numbered serial ports: the module the DSU code and the Procyon relay use.
//
// Ports are numbered from 0 (index = COM number - 1), 256 of them. Results
// are 0 or positive on success and one of the negative codes below on
// failure; PortErrorText gives each its text. Every per-port operation first
// checks the index (-1 kInvalidPort) and then that the port is open
// (-3 kCannotOpen), in that order and before anything else, so those two are
// left out of the lists below. Where a device call fails, the module keeps
// the operating-system error for PortSystemErrorText. All I/O is
// synchronous; with the time-outs PortOpen sets, reads return at once with
// whatever is queued.
//
// Threads: the module takes no locks. A port is set up, changed and closed
// (PortOpen, PortClose, PortParms, PortBaud, PortDTR, PortRTS, PortFlow,
// PortBreak, PortSetTimeOuts, PortWatch) by one thread at a time, the one
// that owns it. While it is open, one other thread may read from it
// (PortGets, PortReadByte, PortWaitByte, the counts and waits) as the DSU
// read thread does while the owner writes commands (PortSendBytes,
// PortPutByte). Defaults (port -1) and PortOption belong to whoever sets
// the ports up. The texts, the hex dump and the checksums may be called from
// any thread; the kept system error is the latest of any thread. The event
// watcher is the module's only thread: its notify runs there and may stop
// its own watcher or close its port (a start from there gives 1).
#pragma once
#include <cstddef>
#include <cstdint>

namespace comports {

constexpr int kPortCount = 256;

enum Result : int32_t {
  kInvalidPort = -1,
  kAlreadyOpen = -2,
  kCannotOpen = -3,  // also: the port is not open
  kNoMemory = -4,
  kBadDefaults = -5,
  kNoHardware = -10,
  kBadByteSize = -11,
  kBadBaud = -12,
  kEventIo = -13,
  kBusy = -100,  // also: a single-byte read found no data
  kOutOfRange = -101,
  kAborted = -102,
  kSystemError = -103,
  kNoBufferMemory = -105,
  kNoThread = -106,
  kTimedOut = -107,
  kBadBuffer = -109,
  kBadLength = -110,
  kNoSuchCommand = -111,
  kBadParity = -112,
  kBadStopBits = -113,
  kBadWordLength = -114,
};

// Baud codes 0..9 select 110, 300, 1200, 2400, 4800, 9600, 19200, 38400,
// 57600 and 115200; any value above 9 is a literal rate.
uint32_t baudFromCode(int32_t code);

// Opens COM port + 1 with the defaults and the read time-outs above.
// Port -1 sets the defaults of later opens instead: bit 0 of receiveSize
// the DTR state, bit 0 of transmitSize the RTS state.
// Returns 0 opened (or defaults set); -1; -2 kAlreadyOpen; -103 kSystemError
// the device cannot be opened or set up; -105 kNoBufferMemory the queue
// sizes were refused.
int32_t PortOpen(int32_t port, int32_t receiveSize, int32_t transmitSize);
// Stops the port's watcher (waiting for its thread), restores the time-outs
// found at open and closes the device.
// Returns 1 closed; 0 the close failed (still closed here; the failure is
// counted in closeFailures).
int32_t PortClose(int32_t port);
// parity 0-4 (none, odd, even, mark, space), stop bits 0-2 (1, 1.5, 2),
// data bits 5-8, validated in that order before the port. Port -1 sets the
// defaults. Re-applies the DTR and RTS lines.
// Returns 0, even when the device refuses; -112 kBadParity; -113
// kBadStopBits; -114 kBadWordLength.
int32_t PortParms(int32_t port, int32_t parity, int32_t stopBits, int32_t dataBits);
// Port -1 sets the default. Re-applies the DTR and RTS lines.
// Returns 1 applied (0 for port -1); 0 the device refused; -12 kBadBaud a
// negative rate.
int32_t PortBaud(int32_t port, int32_t baud);
// 'S' raise, 'C' lower, 'R' read the recorded state; the upper-case letters
// only. Returns for 'S' and 'C' 1 done, 0 the device refused (a port
// without modem lines); for 'R' DTR 1 or 0, RTS 2 or 0; -111 kNoSuchCommand
// any other command.
int32_t PortDTR(int32_t port, int32_t command);
int32_t PortRTS(int32_t port, int32_t command);
// Milliseconds, with the Windows meaning (0xFFFFFFFF interval and the rest
// 0: reads return at once). Returns 1; -103 kSystemError.
int32_t PortSetTimeOuts(int32_t port, uint32_t readInterval, uint32_t readMultiplier,
                        uint32_t readConstant, uint32_t writeMultiplier, uint32_t writeConstant);
// Clears pending line errors, then reads up to size bytes under the
// time-outs. Returns the bytes read (0 when nothing is queued); -109
// kBadBuffer no buffer; -110 kBadLength negative size; -13 kEventIo a
// device error.
int32_t PortGets(int32_t port, void* buffer, int32_t size);
// Returns the byte ANDed with the data mask; -100 kBusy none is queued;
// -13 kEventIo.
int32_t PortReadByte(int32_t port);
// Polls for a byte for `milliseconds`, pausing 10000 / baud ms (at least 1).
// Returns the byte; -107 kTimedOut; -12 kBadBaud at baud 0; -13 kEventIo.
int32_t PortWaitByte(int32_t port, int32_t milliseconds);
// Returns the bytes written; -109 kBadBuffer no buffer; -110 kBadLength a
// count of 0 or less; -13 kEventIo a device error.
int32_t PortSendBytes(int32_t port, const void* buffer, int32_t count);
// Empty the receive or the transmit queue. Return 0.
int32_t PortFlushRx(int32_t port);
int32_t PortFlushTx(int32_t port);
// Writes the text of the kept operating-system error (at most size - 1
// characters and a terminator; no buffer or size 0: nothing). A missing
// device reads "The system cannot find the port specified.\r\n".
// Returns the error number (0 when none was kept).
int32_t PortSystemErrorText(char* buffer, int32_t size);
// Writes the text of `code` (-103: the system text above), at most
// size - 1 characters and a terminator.
// Returns its length (0 for an unknown code: an empty text); -109
// kBadBuffer no buffer.
int32_t PortErrorText(int32_t code, char* buffer, int32_t size);

// ---- offered, not used elsewhere in the library ------------------------

// Returns 1 written; -13 kEventIo.
int32_t PortPutByte(int32_t port, int32_t byte);
// Reads into buffer until `terminator` (stored; -1 for none) or `size` bytes
// or `milliseconds` pass. Returns the bytes read; -107 kTimedOut the time
// passed with none; -109 kBadBuffer; -110 kBadLength size 0 or less; -13
// kEventIo.
int32_t PortGetsUntil(int32_t port, void* buffer, int32_t size, int32_t terminator, int32_t milliseconds);
// Return the bytes queued for reading or for sending.
int32_t PortRxCount(int32_t port);
int32_t PortTxCount(int32_t port);
// Returns the pending line-error bits (overrun 2, parity 4, framing 8,
// break 16, queue overflow 1) ANDed with mask; reading clears them.
int32_t PortLineError(int32_t port, int32_t mask);
// 'H' RTS/CTS, 'S' XON/XOFF, 'N' none; the upper-case letters only.
// Returns 1 applied; 0 the device refused; -111 kNoSuchCommand.
int32_t PortFlow(int32_t port, int32_t mode);
// Modem lines. Return 1 or 0; -103 kSystemError the device has none.
int32_t PortCTS(int32_t port);
int32_t PortDSR(int32_t port);
int32_t PortRI(int32_t port);
int32_t PortDCD(int32_t port);
// 'A' assert, 'C' clear, 'D' detect; the upper-case letters only.
// Returns for 'A' and 'C' 1 done, 0 the device refused; for 'D' 1 when a
// break came; -111 kNoSuchCommand.
int32_t PortBreak(int32_t port, int32_t command);
// Waits until `count` bytes are queued, sleeping the expected transfer time
// (1-250 ms) between looks. Returns the queued count; -107 kTimedOut after
// `milliseconds`.
int32_t PortWaitRx(int32_t port, int32_t count, int32_t milliseconds);
// Waits for `quietMs` without data, emptying the receive queue whenever
// data comes. Returns 0 after the quiet time; -107 kTimedOut after
// `totalMs`.
int32_t PortWaitQuiet(int32_t port, int32_t quietMs, int32_t totalMs);

// The event watcher: a thread that waits for one of the events in `mask`
// (EV_* bits: 1 received byte, 8 CTS, 16 DSR, 32 DCD, 64 break, 128 error,
// 256 ring), calls `notify(window, message, port)` once from that thread
// and ends. Mask 0 wakes a running watcher and waits for its end.
// PortClose and the library's unload stop it the same way.
// Returns 0 started; 1 stopped (mask 0) or one already runs; -106
// kNoThread the thread cannot start.
using EventNotify = void (*)(void* window, uint32_t message, int32_t port);
int32_t PortWatch(int32_t port, EventNotify notify, void* window, uint32_t message, uint32_t mask);

// Option switches, upper-case letters only: 'M' message boxes on (1) or off
// (0). Returns the old value; -111 kNoSuchCommand.
int32_t PortOption(int32_t option, int32_t value);
// Information, upper-case letters only: 'B' baud rate, 'D' data bits, 'P'
// parity, 'S' stop bits, 'O' 1 when open, 'R' last read count, 'W' last
// write count. Returns the value ('O' on a closed port: 0, not -3); -111
// kNoSuchCommand.
int32_t PortInfo(int32_t port, int32_t what);

// "%02x " for each byte into out (at most outSize - 1 characters and a
// terminator). Returns the characters written; -109 kBadBuffer.
int32_t PortHexDump(const void* data, int32_t count, char* out, int32_t outSize);

// Checksums: the two's complement of the byte sum, CRC-16/XMODEM and CRC-32.
uint8_t Checksum8(const void* data, size_t count);
uint16_t Crc16Xmodem(const void* data, size_t count);
uint32_t Crc32(const void* data, size_t count);

// The number of closes the device refused (kept for diagnostics).
uint32_t closeFailures();

}  // namespace comports
