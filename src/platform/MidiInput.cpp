#include "platform/MidiInput.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>

namespace ostrel::engine { inline namespace platform {

std::vector<MidiInputInfo> nameMidiInputs(const std::vector<std::string>& deviceNames) {
    std::vector<MidiInputInfo> inputs;
    inputs.reserve(deviceNames.size());
    std::map<std::string, int> seen;
    for (const std::string& name : deviceNames) {
        const int count = ++seen[name];
        std::string text = count == 1 ? name : name + " #" + std::to_string(count);
        inputs.push_back({text, text});
    }
    return inputs;
}

std::string withoutAlsaAddress(std::string_view portName) {
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t end = portName.size();
    std::size_t i = end;
    while (i > 0 && isDigit(portName[i - 1])) --i;
    if (i == end || i == 0 || portName[i - 1] != ':') return std::string(portName);
    --i;
    const std::size_t portStart = i;
    while (i > 0 && isDigit(portName[i - 1])) --i;
    if (i == portStart || i == 0 || portName[i - 1] != ' ') return std::string(portName);
    return std::string(portName.substr(0, i - 1));
}

uint32_t midiMessageLength(uint8_t status) {
    if (status < 0x80 || status == 0xF0 || status >= 0xF8) return 0;
    if (status >= 0xC0 && status <= 0xDF) return 2;  // program change, channel pressure
    switch (status) {
    case 0xF1: return 2;  // time code quarter frame
    case 0xF3: return 2;  // song select
    case 0xF2: return 3;  // song position
    default: break;
    }
    if (status > 0xF0) return 1;  // the other system common statuses
    return 3;                     // note off and on, key pressure, control change, pitch bend
}

void deliverMidiMessage(const uint8_t* bytes, std::size_t count, MidiInputCallback callback, void* user) {
    if (callback == nullptr || bytes == nullptr || count == 0) return;
    const uint32_t length = midiMessageLength(bytes[0]);
    if (length == 0) return;
    std::array<uint8_t, 3> message{};
    std::copy_n(bytes, std::min<std::size_t>(count, length), message.begin());
    callback(user, message.data(), length);
}

std::string midiOpenFailureMessage(std::string_view systemReason) {
    std::string lower(systemReason);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    // ALSA says EBUSY ("Device or resource busy") when another client holds the port alone.
    if (lower.find("busy") != std::string::npos || lower.find("in use") != std::string::npos) return kMidiInUse;
    return "the system could not open the MIDI device (" + std::string(systemReason) + ")";
}

} }  // namespace ostrel::engine::platform
