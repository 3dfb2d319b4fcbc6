// The serial unload host for Windows: unload_host PROBE PORT MODE [TRIGGER]
// loads the probe DLL, starts a watcher on PORT and frees the probe.
//
//   wake TRIGGER  the free returns while the watcher still waits, and the
//                 probe stays loaded for it; the runner then sends a byte
//                 once TRIGGER is asked for, the watcher ends and the probe
//                 must leave the process with it.
//   exit          the host ends at once, its watcher still waiting: the
//                 process's end must not wait for it.
//
// Exit status 0 when all went well; a host that deadlocks in the free never
// says "freed".
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/dynlib.h"

extern "C" int32_t serial_probe_watch(int32_t port);  // bound at run time only

namespace {

bool probeLoaded() { return GetModuleHandleA("serial_unload_probe.dll") != nullptr; }

void say(const char* text) {
  std::printf("%s\n", text);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const bool wake = argc == 5 && std::strcmp(argv[3], "wake") == 0;
  if (!wake && !(argc == 4 && std::strcmp(argv[3], "exit") == 0)) return 2;
  {
    platform::DynamicLibrary probe;
    if (!probe.open(argv[1])) {
      std::printf("cannot load: %s\n", probe.error().c_str());
      return 2;
    }
    auto watch = probe.function<decltype(&::serial_probe_watch)>("serial_probe_watch");
    const int32_t rc = watch ? watch(std::atoi(argv[2])) : -1;
    std::printf("watcher: %d\n", rc);
    if (rc != 0) return 3;
    probe.close();
  }
  say("freed");
  if (!wake) return 0;
  if (!probeLoaded()) {
    say("unloaded under a waiting watcher");
    return 4;
  }
  // The runner sends its byte once the trigger file exists.
  const HANDLE trigger = CreateFileA(argv[4], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (trigger == INVALID_HANDLE_VALUE) return 2;
  CloseHandle(trigger);
  for (int i = 0; i < 1000 && probeLoaded(); ++i) Sleep(10);
  if (probeLoaded()) {
    say("still loaded after its watcher's event");
    return 5;
  }
  say("unloaded");
  return 0;
}
