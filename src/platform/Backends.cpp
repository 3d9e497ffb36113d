#include "platform/Backends.h"

#include "platform/PortAudioBackend.h"
#include "platform/RtMidiBackend.h"

namespace ostrel::engine { inline namespace platform {

std::unique_ptr<IAudioBackend> createAudioBackend() { return std::make_unique<PortAudioBackend>(); }

std::unique_ptr<IMidiBackend> createMidiBackend() { return std::make_unique<RtMidiBackend>(); }

} }  // namespace ostrel::engine::platform
