// LeakSanitizer suppressions built into the window tests (a suppressions
// file would need a second environment variable beside ASAN_OPTIONS, and
// the test properties carry one). libdbus keeps a buffer of its
// process-wide connection state that Qt's platform integration opens and
// never frees before the process ends.
// Visible to the sanitizer runtime, which looks the function up by name.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libdbus-1.so\n";
}
