#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/MidiBackend.h"

class RtMidiIn;

namespace ostrel::engine { inline namespace platform {

// MIDI input through RtMidi on the ALSA sequencer. No RtMidi exception leaves it; a
// machine without a sequencer lists no inputs. GUI thread only, as IMidiBackend says.
class RtMidiBackend final : public IMidiBackend {
public:
    RtMidiBackend();
    ~RtMidiBackend() override;
    RtMidiBackend(const RtMidiBackend&) = delete;
    RtMidiBackend& operator=(const RtMidiBackend&) = delete;

    std::string name() override;  // RtMidi's name of its ALSA API: "ALSA"
    std::vector<MidiInputInfo> listInputs() override;
    [[nodiscard]] bool open(const std::string& id, MidiInputCallback callback, void* user, std::string* error) override;
    void close() override;
    bool isOpen() override;

    // What RtMidi reported last through its error callback. It may call from its own
    // thread, hence the lock; the audio thread is never involved.
    struct ErrorRecord {
        std::mutex mutex;
        bool failed = false;
        bool threadFailed = false;
        std::string message;
    };

private:
    ErrorRecord errors_;               // outlives input_, which reports into it
    std::unique_ptr<RtMidiIn> input_;  // the open port, or null
    // Set before the port opens and cleared only after its thread has been joined,
    // so the driver's thread never sees them change.
    MidiInputCallback callback_ = nullptr;
    void* user_ = nullptr;

    static void onMessage(double timeStamp, std::vector<unsigned char>* message, void* self);
};

} }  // namespace ostrel::engine::platform
