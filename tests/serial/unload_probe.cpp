// The serial layer inside a shared object of its own, for a host that loads
// it, starts a watcher and unloads it again. Only the entry below leaves it.
#include <cstdint>

#include "platform/serial_device.h"
#include "serial/comports.h"

// Opens `port` and starts a watcher waiting for a received byte; the
// watcher's result (0 when started) or the open's failure.
extern "C" __attribute__((visibility("default"))) int32_t serial_probe_watch(int32_t port) {
  if (int32_t rc = comports::PortOpen(port, 4096, 1024); rc != 0) return rc;
  return comports::PortWatch(port, nullptr, nullptr, 0, platform::kEventRxChar);
}
