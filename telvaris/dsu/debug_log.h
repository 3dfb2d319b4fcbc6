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

// The file whose presence switches logging on at session start.
constexpr const char* kAutoLogFile = "c:\\telvaris.log";

bool loggingOn();
int32_t debugLevel();

// A time-stamped message, printf-style. Nothing is written while logging is
// off; a message that cannot be written (no memory for its time stamp, a
// full disk) is dropped, as every write error of the log is.
void log(const char* format, ...) noexcept TL_PRINTF(1, 2);
// The rest of a line begun by log(), without a time stamp.
void logMore(const char* format, ...) noexcept TL_PRINTF(1, 2);

// mode 1: open `path` emptied; another non-zero mode: open it for appending;
// 0: close a file opened here and switch logging off. 0, or -1 when the file
// cannot be opened (logging unchanged). May throw std::bad_alloc.
int32_t setDebugMode(int32_t mode, const char* path);
void setDebugLevel(int32_t level);
// 0 when written, 1 when logging is off.
int32_t insertMessage(const char* tag, const char* message);
// The caller's version, for the log header.
void saveCallerVersion(int32_t major, int32_t minor, int32_t build);
// The library's version (the project's, given by the build).
void reportVersion(int32_t* major, int32_t* minor, int32_t* build);

// Session start: if kAutoLogFile exists, empty it, switch logging on and
// write the header.
void startLogIfPresent();

// The error report after a serial step: returns `code` unchanged; for a
// negative code, when logging is on, logs "Windows Error %d: %s\n" (-103:
// the system error and its text, at most 80 characters) or
// "Errorcheck code=%d\n".
int32_t reportError(int32_t code);

}  // namespace dsu
