// The serial unload host for Windows: unload_host PROBE PORT TRIGGER loads
// the probe DLL, starts a watcher on PORT, unloads the probe, and waits for
// TRIGGER (the runner then has a byte sent on the wire, which would wake a
// watcher left behind in code that is gone). Exit status 0 when all went
// well; a host that deadlocks in the unload never says "unloaded".
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/dynlib.h"

extern "C" int32_t serial_probe_watch(int32_t port);  // bound at run time only

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  {
    platform::DynamicLibrary probe;
    if (!probe.open(argv[1])) {
      std::printf("cannot load: %s\n", probe.error().c_str());
      return 2;
    }
    auto watch = probe.function<decltype(&::serial_probe_watch)>("serial_probe_watch");
    const int32_t rc = watch ? watch(std::atoi(argv[2])) : -1;
    std::printf("watcher: %d\n", rc);
    std::fflush(stdout);
    if (rc != 0) return 3;
    probe.close();
  }
  if (GetModuleHandleA("serial_unload_probe.dll")) {
    std::printf("still loaded\n");
    return 4;
  }
  std::printf("unloaded\n");
  std::fflush(stdout);
  for (int i = 0; i < 3000 && GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(10);
  Sleep(200);  // time for a stray watcher to wake
  return 0;
}
