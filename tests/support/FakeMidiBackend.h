#pragma once

// A MIDI driver behind the real interface whose inputs, refusals and open callback a test
// controls; shared by the application and QML suites.

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/MidiBackend.h"

namespace ostrel::test {

// The MIDI inputs a test plugs in and out, and the messages it plays.
struct FakeMidiPorts {
    std::vector<std::string> inputs;
    std::string refusal;  // when set, every open fails with this reason
    std::string driverName = "Fake MIDI";
    int opens = 0;
    std::string openId;
    engine::MidiInputCallback callback = nullptr;
    void* user = nullptr;
};

// A MIDI back-end behind the real interface; playFromDriverThread plays into it.
class FakeMidiBackend final : public engine::IMidiBackend {
public:
    explicit FakeMidiBackend(std::shared_ptr<FakeMidiPorts> ports) : ports_(std::move(ports)) {}
    ~FakeMidiBackend() override { close(); }
    std::string name() override { return ports_->driverName; }
    std::vector<engine::MidiInputInfo> listInputs() override {
        std::vector<engine::MidiInputInfo> list;
        for (const std::string& input : ports_->inputs) list.push_back({input, input});
        return list;
    }
    bool open(const std::string& id, engine::MidiInputCallback callback, void* user, std::string* error) override {
        close();
        if (!ports_->refusal.empty()) {
            if (error != nullptr) *error = ports_->refusal;
            return false;
        }
        if (std::find(ports_->inputs.begin(), ports_->inputs.end(), id) == ports_->inputs.end()) {
            if (error != nullptr) *error = "that MIDI device is not plugged in";
            return false;
        }
        ++ports_->opens;
        ports_->openId = id;
        ports_->callback = callback;
        ports_->user = user;
        return true;
    }
    void close() override {
        ports_->openId.clear();
        ports_->callback = nullptr;
        ports_->user = nullptr;
    }
    bool isOpen() override { return ports_->callback != nullptr; }

private:
    std::shared_ptr<FakeMidiPorts> ports_;
};

}  // namespace ostrel::test
