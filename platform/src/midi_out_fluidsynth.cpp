// The MIDI mapper's counterpart here: FluidSynth with the system's General
// MIDI sound font, playing to the default sound server (or, for a port
// named by the caller, the ALSA sequencer).
//
// Loading the sound font and connecting to the sound server is the slow
// part, so it happens at the first open of an object and lasts as long as
// the object; later opens of the same object cost nothing. An object that
// could not load stays closed for its whole life: the next object tries
// again.
//
// FluidSynth itself is loaded at the first open, not linked: a host that
// never plays a note does not load the synthesizer and its OpenMP runtime
// (whose unloading leaks, and which a host that unloads this library would
// otherwise unload with it), and the library still loads on a machine
// without FluidSynth, where notes are skipped as without a sound font.
// Once loaded it stays for the rest of the process.
#include <fluidsynth.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "midi_out_alsa_seq.h"
#include "platform/dynlib.h"
#include "platform/midi_out.h"
#include "platform/paths.h"

namespace platform {
namespace {

// Where Debian's General MIDI sound fonts live: the alternative that the
// installed fonts register first, then the fonts by name.
constexpr const char* kSoundFonts[] = {
    "/usr/share/sounds/sf2/default-GM.sf2",
    "/usr/share/sounds/sf2/TimGM6mb.sf2",
    "/usr/share/sounds/sf2/FluidR3_GM.sf2",
    "/usr/share/soundfonts/default.sf2",
};

// Long enough for the release of a sustained instrument to fade.
constexpr int kReleaseMs = 1000;

// The FluidSynth functions used here, bound by name with the header's
// signatures.
#define TL_FLUID_FUNCTIONS(X)                                                                                 \
  X(new_fluid_settings)                                                                                     \
  X(delete_fluid_settings)                                                                                  \
  X(fluid_settings_setnum)                                                                                  \
  X(fluid_settings_setstr)                                                                                  \
  X(fluid_settings_dupstr)                                                                                  \
  X(fluid_free)                                                                                             \
  X(new_fluid_synth)                                                                                        \
  X(delete_fluid_synth)                                                                                     \
  X(fluid_synth_sfload)                                                                                     \
  X(new_fluid_audio_driver)                                                                                 \
  X(delete_fluid_audio_driver)                                                                              \
  X(fluid_synth_noteon)                                                                                     \
  X(fluid_synth_noteoff)                                                                                    \
  X(fluid_synth_cc)                                                                                         \
  X(fluid_synth_program_change)                                                                             \
  X(fluid_synth_channel_pressure)                                                                           \
  X(fluid_synth_pitch_bend)                                                                                 \
  X(fluid_synth_write_float)

struct Fluid {
#define TL_FLUID_MEMBER(name) decltype(&::name) name = nullptr;
  TL_FLUID_FUNCTIONS(TL_FLUID_MEMBER)
#undef TL_FLUID_MEMBER
};

// The bound functions, or nullptr where FluidSynth or one of them is
// missing. Loaded once, by the first caller.
const Fluid* fluid() {
  static const Fluid* const loaded = []() -> const Fluid* {
    static DynamicLibrary library;
    static Fluid functions;
    for (const char* file : {"libfluidsynth.so.3", "libfluidsynth.so"})
      if (library.open(file)) break;
    if (!library.isOpen()) return nullptr;
    library.keepLoaded();
    bool complete = true;
#define TL_FLUID_BIND(name)                                           \
  functions.name = library.function<decltype(&::name)>(#name); \
  complete = complete && functions.name;
    TL_FLUID_FUNCTIONS(TL_FLUID_BIND)
#undef TL_FLUID_BIND
    return complete ? &functions : nullptr;
  }();
  return loaded;
}

std::string soundFont(const Fluid& f, fluid_settings_t* settings) {
  char* configured = nullptr;
  if (f.fluid_settings_dupstr(settings, "synth.default-soundfont", &configured) == FLUID_OK && configured) {
    std::string path = configured;
    f.fluid_free(configured);
    if (fileExists(path)) return path;
  }
  for (const char* path : kSoundFonts)
    if (fileExists(path)) return path;
  return {};
}

class Synth {
 public:
  // `f` must be loaded.
  Synth(const Fluid& f, int sampleRate) : f_(f), sampleRate_(sampleRate) {}
  ~Synth() {
    // The driver first: its thread renders from the synthesizer.
    if (driver_) f_.delete_fluid_audio_driver(driver_);
    if (synth_) f_.delete_fluid_synth(synth_);
    if (settings_) f_.delete_fluid_settings(settings_);
  }
  Synth(const Synth&) = delete;
  Synth& operator=(const Synth&) = delete;

  // Loads the synthesizer, and with `toServer` its audio driver.
  bool load(bool toServer) {
    settings_ = f_.new_fluid_settings();
    if (!settings_) return false;
    f_.fluid_settings_setnum(settings_, "synth.sample-rate", sampleRate_);
    f_.fluid_settings_setnum(settings_, "synth.gain", 0.5);
    f_.fluid_settings_setstr(settings_, "audio.driver", "pulseaudio");
    const std::string font = soundFont(f_, settings_);
    if (font.empty()) return false;
    synth_ = f_.new_fluid_synth(settings_);
    if (!synth_ || f_.fluid_synth_sfload(synth_, font.c_str(), 1) == FLUID_FAILED) return false;
    if (toServer) driver_ = f_.new_fluid_audio_driver(settings_, synth_);
    return !toServer || driver_;
  }

  void shortMessage(uint32_t message) {
    const int status = message & 0xF0;
    const int channel = message & 0x0F;
    const int data1 = (message >> 8) & 0x7F;
    const int data2 = (message >> 16) & 0x7F;
    switch (status) {
      case 0x80:
        f_.fluid_synth_noteoff(synth_, channel, data1);
        break;
      case 0x90:
        f_.fluid_synth_noteon(synth_, channel, data1, data2);
        break;  // velocity 0 ends the note
      case 0xB0:
        f_.fluid_synth_cc(synth_, channel, data1, data2);
        break;
      case 0xC0:
        f_.fluid_synth_program_change(synth_, channel, data1);
        break;
      case 0xD0:
        f_.fluid_synth_channel_pressure(synth_, channel, data1);
        break;
      case 0xE0:
        f_.fluid_synth_pitch_bend(synth_, channel, data1 | data2 << 7);
        break;
      default:
        break;  // system messages: nothing the voice sends
    }
  }

  // Renders `frames` frames, the two channels mixed into one.
  void render(std::vector<float>& out, int64_t frames) {
    float left[1024], right[1024];
    while (frames > 0) {
      const int n = static_cast<int>(std::min<int64_t>(frames, 1024));
      f_.fluid_synth_write_float(synth_, n, left, 0, 1, right, 0, 1);
      for (int i = 0; i < n; ++i) out.push_back(0.5f * (left[i] + right[i]));
      frames -= n;
    }
  }

 private:
  const Fluid& f_;
  int sampleRate_;
  fluid_settings_t* settings_ = nullptr;
  fluid_synth_t* synth_ = nullptr;
  fluid_audio_driver_t* driver_ = nullptr;
};

class SynthOut : public MidiOut {
 public:
  bool open() override {
    if (!tried_) {
      tried_ = true;
      if (const Fluid* f = fluid()) {
        auto synth = std::make_unique<Synth>(*f, 44100);
        if (synth->load(true)) synth_ = std::move(synth);
      }
    }
    open_ = synth_ != nullptr;
    return open_;
  }
  void shortMessage(uint32_t message) override {
    if (open_) synth_->shortMessage(message);
  }
  void close() override { open_ = false; }
  int keepMs() const override { return synth_ ? kReleaseMs : 0; }

 private:
  std::unique_ptr<Synth> synth_;
  bool tried_ = false;
  bool open_ = false;
};

class Renderer : public MidiRenderer {
 public:
  explicit Renderer(int sampleRate) : rate_(sampleRate) {}

  bool open() override {
    if (!tried_) {
      tried_ = true;
      if (const Fluid* f = fluid()) {
        auto synth = std::make_unique<Synth>(*f, rate_);
        if (synth->load(false)) {
          synth_ = std::move(synth);
          start_ = std::chrono::steady_clock::now();
        }
      }
    }
    open_ = synth_ != nullptr;
    return open_;
  }
  void shortMessage(uint32_t message) override {
    if (!open_) return;
    catchUp();
    synth_->shortMessage(message);
  }
  void close() override { open_ = false; }
  int keepMs() const override { return synth_ ? kReleaseMs : 0; }

  std::vector<float> samples() override {
    if (synth_) catchUp();
    return samples_;
  }
  int sampleRate() const override { return rate_; }

 private:
  // Renders up to the present, so a message takes effect at its time.
  void catchUp() {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const auto due = static_cast<int64_t>(seconds * rate_);
    if (due > static_cast<int64_t>(samples_.size()))
      synth_->render(samples_, due - static_cast<int64_t>(samples_.size()));
  }

  int rate_;
  std::unique_ptr<Synth> synth_;
  std::chrono::steady_clock::time_point start_;
  std::vector<float> samples_;
  bool tried_ = false;
  bool open_ = false;
};

}  // namespace

std::unique_ptr<MidiOut> makeMidiOut(const std::string& port) {
  if (!port.empty()) return makeAlsaSeqMidiOut(port);
  return std::make_unique<SynthOut>();
}

std::unique_ptr<MidiRenderer> makeMidiRenderer(int sampleRate) { return std::make_unique<Renderer>(sampleRate); }

}  // namespace platform
