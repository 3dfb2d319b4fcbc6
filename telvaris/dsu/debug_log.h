// The DSU side's diagnostic log.
//
// Off by default; switched on by the presence of "c:\telvaris.log" when a
// session starts, or by SetDebugMode. Every message is written with a UTC
// time stamp "[%Y-%m-%d %H:%M:%S] - " in front; a message may be finished
// on the same line by logMore (a fixed lead-in, then a value text).
#pragma once

#include <cstdint>

#if defined(__GNUC__)
#define TL_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TL_PRINTF(fmt, args)
#endif

namespace dsu {

constexpr int32_t kVersionMajor = 5;
constexpr int32_t kVersionMinor = 0;
constexpr int32_t kVersionBuild = 1;

// The file whose presence switches logging on at session start.
constexpr const char* kAutoLogFile = "c:\\telvaris.log";

bool loggingOn();
int32_t debugLevel();

// A time-stamped message, printf-style. Nothing is written while logging is off.
void log(const char* format, ...) TL_PRINTF(1, 2);
// The rest of a line begun by log(), without a time stamp.
void logMore(const char* format, ...) TL_PRINTF(1, 2);

// Session start: if kAutoLogFile exists, empty it, switch logging on and
// write the header.
void startLogIfPresent();

// The error report after a serial step: returns `code` unchanged; for a
// negative code, when logging is on, logs "Windows Error %d: %s\n" (-103:
// the system error and its text, at most 80 characters) or
// "Errorcheck code=%d\n".
int32_t reportError(int32_t code);

}  // namespace dsu
