#pragma once

#include <memory>

#include "engine/AudioBackend.h"
#include "engine/MidiBackend.h"

namespace ostrel::engine { inline namespace platform {

// The system's sound output: PortAudio (JACK when a server offers an output), with a
// silent steady-clock output as its last resort. Nothing is opened yet.
std::unique_ptr<IAudioBackend> createAudioBackend();

// The system's MIDI input (RtMidi on the ALSA sequencer), with nothing open.
std::unique_ptr<IMidiBackend> createMidiBackend();

} }  // namespace ostrel::engine::platform
