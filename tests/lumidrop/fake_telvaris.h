// The stand-in libtelvaris's own exports, beside the library's: the hooks
// through which a test scripts it and reads back the calls it got. Tests
// bind them at run time from the copy the link loaded, with
// decltype(&::name).
#pragma once

#include "telvaris.h"

#ifdef __cplusplus
extern "C" {
#endif

// Forgets the calls and the script, and ignores FAKE_TELVARIS_* from now on.
TLV_API void fakeTelvarisReset(void);
// What subscribeToMQTTConnection returns from now on.
TLV_API void fakeTelvarisSetSubscribeResult(int32_t rc);
// One more decision for tlMQTTRetrieveFeedbackInformation to hand out.
TLV_API void fakeTelvarisQueueFeedback(int32_t decision);
// Copies the call log (one call a line) into `buffer` of `size` bytes,
// cut and zero-terminated; returns its full length.
TLV_API int32_t fakeTelvarisCalls(char* buffer, int32_t size);

#ifdef __cplusplus
}
#endif
