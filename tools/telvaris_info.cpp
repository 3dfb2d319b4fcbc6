// telvaris-info: loads libtelvaris the way a host application does (by file
// name, binding exports by name) and reports what it offers on this machine:
// its version, the serial ports present and where its fixed files live.
#include <cstdio>
#include <string>

#include "platform/dynlib.h"
#include "platform/paths.h"
#include "platform/serial_device.h"
#include "telvaris.h"

namespace {

void usage() {
  std::puts(
      "usage: telvaris-info [--library PATH]\n"
      "Loads libtelvaris (the one beside the program, else the system's) and prints its version, the COM ports present and the\n"
      "folder that stands for drive C: (TELVARIS_ROOT).");
}

}  // namespace

int main(int argc, char** argv) {
  // The library beside the program first (a build tree), then the system's
  // search path (an installed program).
  std::string library = platform::programFolder() + "/" + platform::libraryFileName("telvaris");
  if (!platform::fileExists(library)) library = platform::libraryFileName("telvaris");
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--library" && i + 1 < argc) {
      library = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      usage();
      return 0;
    } else {
      std::fprintf(stderr, "telvaris-info: unknown argument '%s'\n", arg.c_str());
      usage();
      return 2;
    }
  }

  platform::DynamicLibrary lib;
  if (!lib.open(library)) {
    std::fprintf(stderr, "telvaris-info: cannot load %s: %s\n", library.c_str(), lib.error().c_str());
    return 1;
  }
  auto reportVersion = lib.function<decltype(&::ReportVersion)>("ReportVersion");
  if (!reportVersion) {
    std::fprintf(stderr, "telvaris-info: %s has no export ReportVersion\n", library.c_str());
    return 1;
  }
  int32_t major = 0, minor = 0, build = 0;
  reportVersion(&major, &minor, &build);
  std::printf("telvaris library %s\n", library.c_str());
  std::printf("version %d.%d.%d\n", major, minor, build);
  std::printf("drive C: is %s\n", platform::telvarisRoot().c_str());

  const auto ports = platform::listComPorts();
  if (ports.empty()) {
    std::printf("serial ports: none\n");
  } else {
    std::printf("serial ports:");
    for (int com : ports) std::printf(" COM%d", com);
    std::printf("\n");
  }
  return 0;
}
