// Keeping the library that holds some code loaded until the process ends.
//
// A library whose threads load further libraries (a synthesizer, a media
// framework and its plugins) cannot stop them at unload: unloading holds
// the loader's lock while it runs the library's destructors, and a thread
// that is loading a plugin waits for that same lock. Such a library pins
// itself before it starts those threads; they are then stopped when the
// process ends, where the lock is not held. Windows has the same rule for
// DllMain and the same way out (GetModuleHandleEx with ..._FLAG_PIN).
#pragma once

namespace platform {

// Pins the shared library that contains `address`; false when it cannot
// (nothing changes then). In a program linked statically there is nothing
// to pin, and nothing is needed.
bool keepLibraryLoaded(const void* address);

}  // namespace platform
