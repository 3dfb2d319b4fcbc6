// The few POSIX calls that the shared test sources make (temporary
// folders, the environment), for the Windows build of those sources.
// Force-included there; tests written for Windows do not use it.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif
char* mkdtemp(char* pattern);
int setenv(const char* name, const char* value, int overwrite);
int unsetenv(const char* name);
#ifdef __cplusplus
}
#endif
