#pragma once

namespace ostrel::engine { inline namespace platform {

// Switches off the ALSA library's own error printing, once per process. Without a sound
// card or a sequencer it prints lines to stderr that our own messages already say better.
void silenceAlsaErrors();

} }  // namespace ostrel::engine::platform
