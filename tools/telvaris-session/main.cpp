// telvaris-session: records DSU sessions through libtelvaris and looks into
// session files (info, CSV export, a picture of chosen channels), for the
// people who record. It loads the library by file name from its own folder
// and binds its exports by name, as a host application does.
#include <signal.h>

#include <cstdio>
#include <string>

#include "command_line.h"
#include "commands.h"
#include "platform/paths.h"
#include "telvaris_library.h"

namespace {

void onSignal(int) { session_tool::g_stopRequested = true; }

}  // namespace

int main(int argc, char** argv) {
  using namespace session_tool;
  Options options;
  const std::string error = parseCommandLine(argc, argv, options);
  if (!error.empty()) {
    std::fprintf(stderr, "telvaris-session: %s\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(usageText(options.command), stdout);
    return 0;
  }

  TelvarisLibrary telvaris;
  std::string loadError;
  if (!telvaris.open(platform::programFolder() + "/" + platform::libraryFileName("telvaris"), loadError))
    return fail(loadError);

  struct sigaction action {};
  action.sa_handler = onSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  if (options.command == "record") return record(options, telvaris);
  if (options.command == "info") return info(options, telvaris);
  if (options.command == "export") return exportCsv(options, telvaris);
  return plot(options, telvaris);
}
