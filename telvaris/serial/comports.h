// Numbered serial ports: the module the DSU code and the Procyon relay use.
//
// Ports are numbered from 0 (index = COM number - 1), 256 of them. Every
// per-port operation checks the index (-1) and then that the port is open
// (-3) before it touches a device. Results are 0 or positive on success and
// one of the negative codes below on failure; PortErrorText gives each its
// text. All I/O is synchronous; with the time-outs PortOpen sets, reads
// return at once with whatever is queued.
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

// Port -1 sets the defaults of later opens: bit 0 of receiveSize the DTR
// state, bit 0 of transmitSize the RTS state. -2 when the port is already
// open; -103 when the device cannot be opened or set up.
int32_t PortOpen(int32_t port, int32_t receiveSize, int32_t transmitSize);
// Non-zero when the device closed.
int32_t PortClose(int32_t port);
// parity 0-4 (none, odd, even, mark, space), stop bits 0-2 (1, 1.5, 2),
// data bits 5-8, validated in that order before the port. Port -1 sets
// the defaults. 0 even when the device refuses.
int32_t PortParms(int32_t port, int32_t parity, int32_t stopBits, int32_t dataBits);
// Non-zero when applied, 0 when the device refused. Port -1 sets the
// default. A negative rate gives -12.
int32_t PortBaud(int32_t port, int32_t baud);
// 'S' raise, 'C' lower (the device's answer, 1 or 0), 'R' read the recorded
// state (DTR: 1 or 0, RTS: 2 or 0); any other command -111.
int32_t PortDTR(int32_t port, int32_t command);
int32_t PortRTS(int32_t port, int32_t command);
// Milliseconds, with the Windows meaning (0xFFFFFFFF interval and the rest
// 0: reads return at once). 1, or -103.
int32_t PortSetTimeOuts(int32_t port, uint32_t readInterval, uint32_t readMultiplier,
                        uint32_t readConstant, uint32_t writeMultiplier, uint32_t writeConstant);
// Bytes read (0 when nothing is queued); -109 no buffer, -110 negative size,
// -13 device error.
int32_t PortGets(int32_t port, void* buffer, int32_t size);
// The byte ANDed with the data mask; -100 when none is queued; -13.
int32_t PortReadByte(int32_t port);
// Polls for a byte for `milliseconds`; -107 on time-out, -12 at baud 0.
int32_t PortWaitByte(int32_t port, int32_t milliseconds);
// Bytes written; -109 no buffer, -110 count 0 or less, -13 device error.
int32_t PortSendBytes(int32_t port, const void* buffer, int32_t count);
int32_t PortFlushRx(int32_t port);
int32_t PortFlushTx(int32_t port);
// Writes the text of the last operating-system error (at most size - 1
// characters and a terminator; no buffer or size 0: nothing) and returns
// its number. A missing device reads
// "The system cannot find the port specified.\r\n".
int32_t PortSystemErrorText(char* buffer, int32_t size);
// Length of the text written for `code`; -109 no buffer; an unknown code
// gives an empty text and 0.
int32_t PortErrorText(int32_t code, char* buffer, int32_t size);

// ---- offered, not used elsewhere in the library ------------------------

// 1 when written; -13 device error.
int32_t PortPutByte(int32_t port, int32_t byte);
// Reads into buffer until `terminator` (stored; -1 for none) or `size` bytes
// or `milliseconds` pass. Bytes read; -107 when the time passed with none.
int32_t PortGetsUntil(int32_t port, void* buffer, int32_t size, int32_t terminator, int32_t milliseconds);
int32_t PortRxCount(int32_t port);
int32_t PortTxCount(int32_t port);
// Pending line-error bits (overrun 2, parity 4, framing 8, break 16, queue
// overflow 1) ANDed with mask; reading clears them.
int32_t PortLineError(int32_t port, int32_t mask);
// 'H' RTS/CTS, 'S' XON/XOFF, 'N' none: the device's answer, 1 or 0; -111.
int32_t PortFlow(int32_t port, int32_t mode);
// Modem lines: 1 or 0; -103 when the device has none.
int32_t PortCTS(int32_t port);
int32_t PortDSR(int32_t port);
int32_t PortRI(int32_t port);
int32_t PortDCD(int32_t port);
// 'A' assert, 'C' clear (1 or 0), 'D' detect (1 when a break came); -111.
int32_t PortBreak(int32_t port, int32_t command);
// Waits until `count` bytes are queued, sleeping the expected transfer time
// (1-250 ms) between looks. The queued count; -107 after `milliseconds`.
int32_t PortWaitRx(int32_t port, int32_t count, int32_t milliseconds);
// Waits for `quietMs` without data, emptying the receive queue whenever
// data comes. 0 after the quiet time; -107 after `totalMs`.
int32_t PortWaitQuiet(int32_t port, int32_t quietMs, int32_t totalMs);

// The event watcher: a thread that waits for one of the events in `mask`
// (EV_* bits: 1 received byte, 8 CTS, 16 DSR, 32 DCD, 64 break, 128 error,
// 256 ring), calls `notify(window, message, port)` once and ends. Mask 0
// wakes and ends a running watcher (1). A start while one runs gives 1;
// 0 when started; -106 when the thread cannot start.
using EventNotify = void (*)(void* window, uint32_t message, int32_t port);
int32_t PortWatch(int32_t port, EventNotify notify, void* window, uint32_t message, uint32_t mask);

// Option switches: 'M' message boxes on (1) or off (0). Returns the old value.
int32_t PortOption(int32_t option, int32_t value);
// Information: 'B' baud rate, 'D' data bits, 'P' parity, 'S' stop bits,
// 'O' 1 when open, 'R' last read count, 'W' last write count; -111.
int32_t PortInfo(int32_t port, int32_t what);

// "%02x " for each byte into out (at most outSize - 1 characters and a
// terminator). Characters written; -109 no buffer.
int32_t PortHexDump(const void* data, int32_t count, char* out, int32_t outSize);

// Checksums: the two's complement of the byte sum, CRC-16/XMODEM and CRC-32.
uint8_t Checksum8(const void* data, size_t count);
uint16_t Crc16Xmodem(const void* data, size_t count);
uint32_t Crc32(const void* data, size_t count);

// The number of closes the device refused (kept for diagnostics).
uint32_t closeFailures();

}  // namespace comports
