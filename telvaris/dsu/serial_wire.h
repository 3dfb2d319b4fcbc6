// The DSU code's use of the serial layer.
//
// The caller's thread (commands, pause and resume signals) and the read
// thread (reads, the scan) may use one port at the same time; the serial
// layer adds no ordering of its own, so every call the DSU code makes into
// it goes through here, one at a time. Reads never wait (the time-outs the
// DSU sets make them return with what is queued) and writes are short, so
// neither side holds the other up for long.
//
// It also knows which ports the DSU code has left open: a port left open by
// an earlier operation (SetDSUProtocol leaves its port open; a scan's port
// outlives a session that never took it) is closed before the DSU code
// opens it again, instead of failing as already open. The port a session
// holds is never taken away like that.
#pragma once

#include <cstdint>

namespace dsu::wire {

// PortOpen with the DSU's queue sizes. A port the DSU code left open is
// closed first; a port a session holds gives comports::kAlreadyOpen.
int32_t open(int32_t port);
// PortClose; the port is no longer the DSU code's, held or not.
int32_t close(int32_t port);
// The session's port (the scan's result): kept open until close().
void hold(int32_t port);
bool held(int32_t port);
// Whether the DSU code has the port open (held or left open).
bool isOpen(int32_t port);

// The serial layer's operations, one call at a time.
int32_t setTimeOuts(int32_t port, uint32_t readInterval, uint32_t readMultiplier, uint32_t readConstant,
                    uint32_t writeMultiplier, uint32_t writeConstant);
int32_t parms(int32_t port, int32_t parity, int32_t stopBits, int32_t dataBits);
int32_t baud(int32_t port, int32_t baud);
int32_t dtr(int32_t port, int32_t command);
int32_t rts(int32_t port, int32_t command);
int32_t send(int32_t port, const void* bytes, int32_t count);
int32_t gets(int32_t port, void* buffer, int32_t size);
int32_t readByte(int32_t port);
int32_t flushRx(int32_t port);
int32_t flushTx(int32_t port);

}  // namespace dsu::wire
