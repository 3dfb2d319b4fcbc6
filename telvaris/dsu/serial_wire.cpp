#include "dsu/serial_wire.h"

#include <array>
#include <mutex>

#include "dsu/link_settings.h"
#include "serial/comports.h"

namespace dsu::wire {
namespace {

enum Use : uint8_t { kNotOurs = 0, kLeftOpen = 1, kHeld = 2 };

struct Wire {
  std::mutex mutex;  // one call into the serial layer at a time
  std::array<Use, comports::kPortCount> use {};
};

Wire& wire() {
  static Wire w;
  return w;
}

bool inRange(int32_t port) { return port >= 0 && port < comports::kPortCount; }

template <typename Call>
int32_t locked(Call call) {
  std::lock_guard lock(wire().mutex);
  return call();
}

}  // namespace

int32_t open(int32_t port) {
  Wire& w = wire();
  std::lock_guard lock(w.mutex);
  if (inRange(port)) {
    Use& use = w.use[static_cast<size_t>(port)];
    if (use == kHeld) return comports::kAlreadyOpen;
    if (use == kLeftOpen) {
      comports::PortClose(port);
      use = kNotOurs;
    }
  }
  const int32_t result = comports::PortOpen(port, kReceiveQueueSize, kTransmitQueueSize);
  if (result >= 0 && inRange(port)) w.use[static_cast<size_t>(port)] = kLeftOpen;
  return result;
}

int32_t close(int32_t port) {
  Wire& w = wire();
  std::lock_guard lock(w.mutex);
  if (inRange(port)) w.use[static_cast<size_t>(port)] = kNotOurs;
  return comports::PortClose(port);
}

void hold(int32_t port) {
  Wire& w = wire();
  std::lock_guard lock(w.mutex);
  if (inRange(port) && w.use[static_cast<size_t>(port)] != kNotOurs) w.use[static_cast<size_t>(port)] = kHeld;
}

bool held(int32_t port) {
  Wire& w = wire();
  std::lock_guard lock(w.mutex);
  return inRange(port) && w.use[static_cast<size_t>(port)] == kHeld;
}

bool isOpen(int32_t port) {
  Wire& w = wire();
  std::lock_guard lock(w.mutex);
  return inRange(port) && w.use[static_cast<size_t>(port)] != kNotOurs;
}

int32_t setTimeOuts(int32_t port, uint32_t readInterval, uint32_t readMultiplier, uint32_t readConstant,
                    uint32_t writeMultiplier, uint32_t writeConstant) {
  return locked([&] {
    return comports::PortSetTimeOuts(port, readInterval, readMultiplier, readConstant, writeMultiplier, writeConstant);
  });
}

int32_t parms(int32_t port, int32_t parity, int32_t stopBits, int32_t dataBits) {
  return locked([&] { return comports::PortParms(port, parity, stopBits, dataBits); });
}

int32_t baud(int32_t port, int32_t rate) {
  return locked([&] { return comports::PortBaud(port, rate); });
}
int32_t dtr(int32_t port, int32_t command) {
  return locked([&] { return comports::PortDTR(port, command); });
}
int32_t rts(int32_t port, int32_t command) {
  return locked([&] { return comports::PortRTS(port, command); });
}

int32_t send(int32_t port, const void* bytes, int32_t count) {
  return locked([&] { return comports::PortSendBytes(port, bytes, count); });
}

int32_t gets(int32_t port, void* buffer, int32_t size) {
  return locked([&] { return comports::PortGets(port, buffer, size); });
}

int32_t readByte(int32_t port) {
  return locked([&] { return comports::PortReadByte(port); });
}
int32_t flushRx(int32_t port) {
  return locked([&] { return comports::PortFlushRx(port); });
}
int32_t flushTx(int32_t port) {
  return locked([&] { return comports::PortFlushTx(port); });
}

}  // namespace dsu::wire
