#include "platform/RtMidiBackend.h"

#include <exception>
#include <string_view>

#include <RtMidi.h>
#include <alsa/asoundlib.h>

#include <stdexcept>

#include "platform/AlsaQuiet.h"
#include "core/Failure.h"
#include "platform/MidiInput.h"

namespace ostrel::engine { inline namespace platform {

namespace {

constexpr const char* kClientName = "Ostrel";

void recordError(RtMidiError::Type type, const std::string& text, void* record) {
    if (type == RtMidiError::WARNING || type == RtMidiError::DEBUG_WARNING) {
        // A port that vanished while being named is only a warning; it still means failure.
        if (text.find("getPortName") == std::string::npos) return;
    }
    auto& errors = *static_cast<RtMidiBackend::ErrorRecord*>(record);
    std::lock_guard lock(errors.mutex);
    errors.failed = true;
    errors.threadFailed = type == RtMidiError::THREAD_ERROR;
    errors.message = text;
}

// RtMidi prefixes its texts with the class and method ("MidiInAlsa::openPort: ..."),
// which means nothing to the user.
std::string systemReason(std::string_view text) {
    const std::size_t scope = text.find("::");
    const std::size_t colon = text.find(": ");
    if (scope != std::string_view::npos && colon != std::string_view::npos && scope < colon)
        text.remove_prefix(colon + 2);
    while (!text.empty() && (text.back() == '.' || text.back() == '!' || text.back() == ' ')) text.remove_suffix(1);
    return std::string(text);
}

// RtMidi prints to stderr before it throws when there is no sequencer (a server, CI):
// ask ALSA quietly first.
bool sequencerPresent() {
    silenceAlsaErrors();
    snd_seq_t* sequencer = nullptr;
    if (snd_seq_open(&sequencer, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK) < 0) return false;
    snd_seq_close(sequencer);
    return true;
}

// A new sequencer client with its errors routed to record instead of thrown.
std::unique_ptr<RtMidiIn> makeClient(RtMidiBackend::ErrorRecord& record) {
    if (!sequencerPresent()) throw std::runtime_error("no ALSA sequencer");
    auto client = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, kClientName);
    client->setErrorCallback(&recordError, &record);
    return client;
}

void clearErrors(RtMidiBackend::ErrorRecord& record) {
    std::lock_guard lock(record.mutex);
    record.failed = false;
    record.threadFailed = false;
    record.message.clear();
}

// Names of the client's inputs, and beside each the port number to open it by: a port
// whose name cannot be read is left out, so positions and port numbers may differ.
void readPorts(RtMidiIn& client, RtMidiBackend::ErrorRecord& record, std::vector<std::string>& names,
               std::vector<unsigned int>& ports) {
    clearErrors(record);
    const unsigned int count = client.getPortCount();
    for (unsigned int port = 0; port < count; ++port) {
        clearErrors(record);
        std::string portName = client.getPortName(port);
        std::lock_guard lock(record.mutex);
        if (record.failed) continue;
        names.push_back(withoutAlsaAddress(portName));
        ports.push_back(port);
    }
}

}  // namespace

RtMidiBackend::RtMidiBackend() = default;

RtMidiBackend::~RtMidiBackend() { close(); }

std::string RtMidiBackend::name() {
    try {
        return RtMidi::getApiDisplayName(RtMidi::LINUX_ALSA);
    } catch (...) {
        return "ALSA";
    }
}

std::vector<MidiInputInfo> RtMidiBackend::listInputs() {
    try {
        ErrorRecord record;
        const std::unique_ptr<RtMidiIn> client = makeClient(record);
        std::vector<std::string> names;
        std::vector<unsigned int> ports;
        readPorts(*client, record, names, ports);
        return nameMidiInputs(names);
    } catch (...) {
        return {};  // no sequencer on this machine
    }
}

bool RtMidiBackend::open(const std::string& id, MidiInputCallback callback, void* user, std::string* error) {
    close();
    const auto refuse = [&](std::string message) {
        input_.reset();  // joins RtMidi's thread, if it got as far as starting one
        callback_ = nullptr;
        user_ = nullptr;
        return core::fail(error, std::move(message));
    };

    unsigned int port = 0;
    try {
        input_ = makeClient(errors_);
        std::vector<std::string> names;
        std::vector<unsigned int> ports;
        readPorts(*input_, errors_, names, ports);
        const std::vector<MidiInputInfo> inputs = nameMidiInputs(names);
        std::size_t position = 0;
        while (position < inputs.size() && inputs[position].id != id) ++position;
        if (position == inputs.size()) return refuse(kMidiNotPluggedIn);
        port = ports[position];
    } catch (...) {
        return refuse(kMidiNotPluggedIn);  // no sequencer, so nothing is plugged in
    }

    callback_ = callback;
    user_ = user;
    try {
        input_->setCallback(&RtMidiBackend::onMessage, this);
        input_->ignoreTypes(true, false, false);  // system exclusive never reaches us; the rest we filter
        clearErrors(errors_);
        input_->openPort(port, "Ostrel input");
    } catch (const RtMidiError& e) {
        if (e.getType() == RtMidiError::THREAD_ERROR) return refuse(kMidiCannotStart);
        return refuse(midiOpenFailureMessage(systemReason(e.getMessage())));
    } catch (const std::exception& e) {
        return refuse(midiOpenFailureMessage(systemReason(e.what())));
    } catch (...) {
        return refuse(midiOpenFailureMessage("unknown error"));
    }

    std::string reason;
    bool threadFailed = false;
    {
        std::lock_guard lock(errors_.mutex);
        if (errors_.failed) {
            reason = errors_.message;
            threadFailed = errors_.threadFailed;
        }
    }
    if (threadFailed) return refuse(kMidiCannotStart);
    if (!reason.empty() || !input_->isPortOpen()) {
        if (reason.empty()) reason = "the port did not open";
        return refuse(midiOpenFailureMessage(systemReason(reason)));
    }
    return true;
}

void RtMidiBackend::close() {
    if (input_) {
        try {
            input_->closePort();  // stops and joins the input thread
        } catch (...) {
        }
        input_.reset();
    }
    callback_ = nullptr;
    user_ = nullptr;
}

bool RtMidiBackend::isOpen() { return input_ != nullptr; }

void RtMidiBackend::onMessage(double, std::vector<unsigned char>* message, void* self) {
    if (message == nullptr || message->empty()) return;
    const auto* backend = static_cast<const RtMidiBackend*>(self);
    deliverMidiMessage(message->data(), message->size(), backend->callback_, backend->user_);
}


} }  // namespace ostrel::engine::platform
