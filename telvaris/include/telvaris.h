/*
 * telvaris: device and feedback library.
 *
 * Flat C interface. Every export returns a 32-bit result (0 success,
 * negative failure unless said otherwise) and takes 32-bit integers,
 * zero-terminated 8-bit texts and pointers to element 0 of arrays whose
 * sizes are given below. The library keeps no pointer to a caller's buffer
 * after a call returns, and no export ends its host process.
 *
 * On Windows the exports use __stdcall with undecorated names (telvaris.def);
 * on Linux the C calling convention. Keep telvaris.def in step with every
 * TLV_API declaration here: the build checks that the two agree.
 */
#ifndef TELVARIS_H
#define TELVARIS_H

#include <stdint.h>

#if defined(_WIN32)
#define TLV_CALL __stdcall
#if defined(TELVARIS_BUILDING)
#define TLV_API __declspec(dllexport)
#else
#define TLV_API __declspec(dllimport)
#endif
#else
#define TLV_CALL
#define TLV_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------
 * Debug log and version
 *
 * The DSU side's diagnostic log. Every line starts with a UTC time stamp
 * "[YYYY-MM-DD hh:mm:ss] - ". Logging switches on when "c:\telvaris.log"
 * (on Linux $TELVARIS_ROOT/telvaris.log) exists as a session starts, or
 * through SetDebugMode.
 * ---------------------------------------------------------------------- */

/* mode 1: open `path` emptied; any other non-zero mode: open it for
 * appending; 0: close a file opened here and switch logging off. A second
 * open while one is open changes nothing. Returns 0, or -1 when the file
 * cannot be opened (or `path` is NULL); logging is then unchanged. */
TLV_API int32_t TLV_CALL SetDebugMode(int32_t reserved, int32_t mode, const char* path);

/* Level 1 (the default) logs each read of the DSU read thread. Returns 0. */
TLV_API int32_t TLV_CALL SetDebugLevel(int32_t reserved, int32_t level);

/* Writes "tag: message". Returns 0 when written, 1 when logging is off.
 * A NULL tag or message is written as an empty text. */
TLV_API int32_t TLV_CALL InsertLogMessage(const char* tag, const char* message);

/* Writes the library version 5.0.1. NULL pointers are skipped. Returns 0. */
TLV_API int32_t TLV_CALL ReportVersion(int32_t* major, int32_t* minor, int32_t* build);

/* Stores the caller's version for the log header. Returns 0. */
TLV_API int32_t TLV_CALL SaveVersionInfo(int32_t major, int32_t minor, int32_t build);

/* ------------------------------------------------------------------------
 * Shared feedback block (tlAPI)
 * ---------------------------------------------------------------------- */

/* (exports of the shared block go here) */

/* ------------------------------------------------------------------------
 * MQTT link
 * ---------------------------------------------------------------------- */

/* (exports of the MQTT link go here) */

/* ------------------------------------------------------------------------
 * Datagrams
 * ---------------------------------------------------------------------- */

/* (exports of the datagram sender go here) */

/* ------------------------------------------------------------------------
 * DSU acquisition
 * ---------------------------------------------------------------------- */

/* (exports of DSU acquisition go here) */

/* ------------------------------------------------------------------------
 * Signal processing
 * ---------------------------------------------------------------------- */

/* (exports of signal processing go here) */

/* ------------------------------------------------------------------------
 * Feedback outputs
 * ---------------------------------------------------------------------- */

/* (exports of the feedback outputs go here) */

#ifdef __cplusplus
}
#endif

#endif /* TELVARIS_H */
