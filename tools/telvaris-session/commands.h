// The four commands of telvaris-session. Each prints what it did on
// standard output and one line for a failure on standard error, and
// returns the exit status.
#pragma once

#include <atomic>
#include <string>

#include "command_line.h"
#include "telvaris_library.h"

namespace session_tool {

// Set by SIGINT or SIGTERM: a recording ends early and keeps what came.
extern std::atomic<bool> g_stopRequested;

int record(const Options& o, TelvarisLibrary& t);
int info(const Options& o, TelvarisLibrary& t);
int exportCsv(const Options& o, TelvarisLibrary& t);
int plot(const Options& o, TelvarisLibrary& t);

// "telvaris-session: <message>" on standard error; returns 1.
int fail(const std::string& message);

}  // namespace session_tool
