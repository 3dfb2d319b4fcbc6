// A host for the serial probe: serial_unload_host PROBE PORT loads PROBE,
// starts a watcher on PORT, unloads PROBE and waits until the file
// $TELVARIS_ROOT/sent appears (the test has then written a byte to the wire,
// which would wake a watcher left behind in code that is gone). Exit status
// 0 when all went well; a watcher that ends the host shows as a signal.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/dynlib.h"
#include "platform/paths.h"

extern "C" int32_t serial_probe_watch(int32_t port);  // bound at run time only

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  {
    platform::DynamicLibrary probe;
    if (!probe.open(argv[1])) {
      std::printf("cannot load: %s\n", probe.error().c_str());
      return 2;
    }
    auto watch = reinterpret_cast<decltype(&::serial_probe_watch)>(probe.symbol("serial_probe_watch"));
    const int32_t rc = watch ? watch(std::atoi(argv[2])) : -1;
    std::printf("watcher: %d\n", rc);
    if (rc != 0) return 3;
    probe.close();
  }
  if (dlopen(argv[1], RTLD_NOW | RTLD_NOLOAD)) {
    std::printf("still loaded\n");
    return 4;
  }
  std::printf("unloaded\n");
  std::fflush(stdout);
  const std::string sent = platform::telvarisRoot() + "/sent";
  for (int i = 0; i < 1000 && access(sent.c_str(), F_OK) != 0; ++i) usleep(10000);
  usleep(100000);  // time for a stray watcher to wake
  return 0;
}
