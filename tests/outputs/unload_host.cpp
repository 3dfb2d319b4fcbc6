// A host that loads the library, starts both player threads, closes the
// library and ends while they run: outputs_unload_host LIBRARY. The MIDI
// player is inside a minute-long note (TELVARIS_MIDI_PORT names a port that
// does not exist, so it only waits), the MP3 player is starting the media
// framework. Prints what became of the library; exit status 0 when the
// process ended cleanly. A player left running into the process's end
// shows as a signal, an end that waited for the note as a minute.
#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/dynlib.h"
#include "telvaris.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  {
    platform::DynamicLibrary library;
    if (!library.open(argv[1])) {
      std::printf("cannot load: %s\n", library.error().c_str());
      return 2;
    }
    auto midiVoice = library.function<decltype(&::MidiVoice)>("MidiVoice");
    auto initialiseMp3 = library.function<decltype(&::InitialiseMP3)>("InitialiseMP3");
    if (!midiVoice || !initialiseMp3) return 3;
    if (midiVoice(60000, 100, 73, 58) != TLV_MIDI_OK || initialiseMp3("/nowhere/track.mp3") != TLV_MP3_OK) return 3;
    std::printf("players started\n");
    // Into the note, and into the media framework's start-up.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    library.close();
  }
  std::printf(dlopen(argv[1], RTLD_NOW | RTLD_NOLOAD) ? "kept loaded\n" : "unloaded\n");
  std::fflush(stdout);
  return 0;
}
