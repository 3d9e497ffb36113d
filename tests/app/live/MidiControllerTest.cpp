#include "app/live/MidiController.h"

#include "LiveTestSupport.h"
#include "engine/MidiMessage.h"
#include "platform/Backends.h"
#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <QMetaMethod>
#include <QMetaObject>
#include <QMetaProperty>
#include <QSignalSpy>

#include <RtMidi.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace ostrel::app {
namespace {

using Bytes = std::vector<std::uint8_t>;

class MidiInput : public ::testing::Test {
protected:
    // A keyboard called "Keys" is plugged in before the controller starts.
    void SetUp() override { rig.midiPorts->inputs = {"Keys", "Pads"}; }

    void startWith(const std::string& chosen) {
        rig.preset("midi.input_device", chosen);
        rig.startMidi();
    }
    MidiController& midi() { return *rig.midi; }
    InstrumentController& instrument() { return *rig.instrument; }
    void play(const std::vector<Bytes>& messages) { test::playFromDriverThread(*rig.midiPorts, messages); }

    test::LiveRig rig;
};

TEST_F(MidiInput, WithNothingChosenTheInputsAreListedAndNothingOpens) {
    rig.startMidi();
    EXPECT_EQ(midi().driverName(), "Fake MIDI");
    ASSERT_EQ(midi().devices().size(), 2);
    EXPECT_EQ(midi().devices().at(0).toMap().value("id").toString(), "Keys");
    EXPECT_EQ(midi().devices().at(1).toMap().value("name").toString(), "Pads");
    EXPECT_EQ(midi().status(), "No MIDI keyboard selected.");
    EXPECT_FALSE(midi().problem());
    EXPECT_FALSE(midi().connected());
    EXPECT_EQ(rig.midiPorts->opens, 0);
}

TEST_F(MidiInput, AMessageFromTheDriversThreadIsCountedShownAndPlayed) {
    startWith("Keys");
    QSignalSpy activity(&midi(), &MidiController::activity);
    QSignalSpy on(&instrument(), &InstrumentController::noteOn);
    play({{0x90, 0x3C, 0x64}});
    EXPECT_EQ(on.count(), 0) << "nothing reaches the instrument before the drain";
    midi().pollMessages();
    EXPECT_EQ(midi().messageCount(), 1);
    EXPECT_EQ(midi().lastMessage(), "Note on C4 (60), velocity 100 (channel 1)");
    EXPECT_EQ(activity.count(), 1);
    ASSERT_EQ(on.count(), 1);
    EXPECT_EQ(on.at(0), (QVariantList{60, 100}));

    play({{0x90, 0x3C, 0x00}, {0xB1, 0x07, 0x7F}});
    midi().pollMessages();
    EXPECT_EQ(midi().messageCount(), 3);
    EXPECT_EQ(activity.count(), 2) << "one signal per drain";
    EXPECT_EQ(midi().lastMessage(), "Controller 7 = 127 (channel 2)");
    EXPECT_TRUE(instrument().activeNotes().isEmpty());
    EXPECT_DOUBLE_EQ(instrument().level(), 1.0);

    play({{0xC0, 0x05}, {0xD0, 0x40}, {0xA0, 0x3C, 0x10}});  // not played: neither counted nor shown
    midi().pollMessages();
    midi().pollMessages();  // an empty ring says nothing either
    EXPECT_EQ(midi().messageCount(), 3);
    EXPECT_EQ(midi().lastMessage(), "Controller 7 = 127 (channel 2)");
    EXPECT_EQ(activity.count(), 2);
}

TEST_F(MidiInput, ChoosingNoneClosesTheInputDropsWhatWaitsAndReleasesHeldNotes) {
    startWith("Keys");
    play({{0x90, 0x40, 0x50}});
    midi().pollMessages();
    play({{0x90, 0x41, 0x50}});  // still in the ring when the input closes
    QSignalSpy off(&instrument(), &InstrumentController::noteOff);
    QSignalSpy selection(&midi(), &MidiController::selectionChanged);
    QSignalSpy status(&midi(), &MidiController::statusChanged);
    midi().selectDevice("");
    EXPECT_FALSE(midi().connected());
    EXPECT_EQ(rig.setting("midi.input_device"), "");
    EXPECT_EQ(midi().selectedDeviceId(), "");
    EXPECT_EQ(midi().status(), "No MIDI keyboard selected.");
    EXPECT_EQ(selection.count(), 1);
    EXPECT_EQ(status.count(), 2) << "the change, then the closing signal every choice ends with";
    EXPECT_EQ(test::pitches(off), std::vector<int>{0x40});
    EXPECT_TRUE(instrument().activeNotes().isEmpty());
    EXPECT_TRUE(rig.recordedStep("midi: selected MIDI device (none)"));
    midi().pollMessages();
    EXPECT_EQ(midi().messageCount(), 1) << "the waiting message was dropped";
}

TEST_F(MidiInput, TheChosenInputOpensAtStartAndAnotherChoiceReplacesItAndIsRemembered) {
    startWith("Keys");
    EXPECT_TRUE(midi().connected());
    EXPECT_EQ(rig.midiPorts->openId, "Keys");
    EXPECT_EQ(midi().status(), "Listening to Keys. Play a key.");
    EXPECT_EQ(rig.logged(core::LogLevel::INFO, "midi", "listening to MIDI device Keys (Fake MIDI)"), 1);
    midi().selectDevice("Pads");
    EXPECT_EQ(rig.midiPorts->openId, "Pads");
    EXPECT_EQ(rig.midiPorts->opens, 2);
    EXPECT_EQ(rig.setting("midi.input_device"), "Pads");
    EXPECT_EQ(midi().status(), "Listening to Pads. Play a key.");
    EXPECT_TRUE(rig.recordedStep("midi: selected MIDI device Pads"));
}

// The 2 s watch: an input chosen while absent opens when it appears, and one unplugged
// while open is reopened when it comes back.
TEST_F(MidiInput, TheWatchOpensTheChosenInputWhenItAppearsAndReopensItWhenItComesBack) {
    rig.midiPorts->inputs = {"Pads"};
    startWith("Keys");
    EXPECT_FALSE(midi().connected());
    EXPECT_EQ(midi().status(), "\u201CKeys\u201D is not plugged in. Ostrel will connect when it appears.");
    EXPECT_FALSE(midi().problem());
    midi().watchDevice();
    EXPECT_FALSE(midi().connected());
    rig.midiPorts->inputs = {"Pads", "Keys"};
    QSignalSpy devices(&midi(), &MidiController::devicesChanged);
    midi().watchDevice();
    EXPECT_EQ(devices.count(), 1);
    EXPECT_TRUE(midi().connected());
    EXPECT_EQ(midi().status(), "Listening to Keys. Play a key.");

    play({{0x90, 0x30, 0x40}});
    midi().pollMessages();
    QSignalSpy off(&instrument(), &InstrumentController::noteOff);
    rig.midiPorts->inputs = {"Pads"};  // unplugged
    midi().watchDevice();
    EXPECT_FALSE(midi().connected());
    EXPECT_TRUE(midi().problem());
    EXPECT_EQ(midi().status(), "\u201CKeys\u201D was unplugged. Ostrel will reconnect when it is plugged in again.");
    EXPECT_EQ(test::pitches(off), std::vector<int>{0x30}) << "the held MIDI note is released";
    EXPECT_EQ(rig.logged(core::LogLevel::WARN, "midi", "the MIDI device disconnected: Keys"), 1);

    midi().watchDevice();
    EXPECT_FALSE(midi().connected());
    rig.midiPorts->inputs = {"Keys", "Pads"};  // plugged back in
    midi().watchDevice();
    EXPECT_TRUE(midi().connected());
    EXPECT_FALSE(midi().problem());
    EXPECT_EQ(midi().status(), "Listening to Keys. Play a key.");
    play({{0x90, 0x31, 0x40}});
    midi().pollMessages();
    EXPECT_EQ(test::ints(instrument().activeNotes()), std::vector<int>{0x31});
}

TEST_F(MidiInput, AnInputThatFailsForAnotherReasonShowsItAndIsNotRetried) {
    rig.midiPorts->refusal = "the MIDI device is in use by another program (close it and try again)";
    startWith("Keys");
    EXPECT_TRUE(midi().problem());
    EXPECT_EQ(midi().status(),
              "Could not open the MIDI keyboard: the MIDI device is in use by another program (close it and try again)");
    rig.midiPorts->refusal.clear();
    midi().watchDevice();
    EXPECT_FALSE(midi().connected()) << "only choosing again retries";
    midi().selectDevice("Keys");
    EXPECT_TRUE(midi().connected());
}

// 1030 messages without a drain: the callback never touches the heap, and a full ring
// keeps the first 1024 in order.
TEST_F(MidiInput, TheDriversCallbackNeverAllocatesAndAFullRingKeepsTheFirst1024InOrder) {
    startWith("Keys");
    std::vector<Bytes> messages;
    for (int i = 0; i < 1030; ++i) messages.push_back({0x80, static_cast<std::uint8_t>(i % 128), 0});
    std::size_t heap = 0;
    {
        test::AllocationCounter counter;
        for (const Bytes& m : messages) MidiController::onInputMessage(&midi(), m.data(), 3);
        heap = counter.allocations() + counter.frees();
    }
    EXPECT_EQ(heap, 0u);
    QSignalSpy off(&instrument(), &InstrumentController::noteOff);
    midi().pollMessages();
    EXPECT_EQ(midi().messageCount(), 1024);
    ASSERT_EQ(off.count(), 1024);
    int outOfOrder = 0;
    for (int i = 0; i < 1024; ++i) outOfOrder += off.at(i).at(0).toInt() != i % 128;
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_EQ(midi().lastMessage(), "Note off " + QString::fromStdString(engine::midiNoteName(1023 % 128)) + " (channel 1)");
}

TEST_F(MidiInput, ClosingTheControllerClosesTheInput) {
    startWith("Keys");
    rig.midi.reset();
    EXPECT_EQ(rig.midiPorts->callback, nullptr);
}

TEST(MidiInputInterface, TheQmlSeesItsMembersInTheirPublishedOrder) {
    const QMetaObject& meta = MidiController::staticMetaObject;
    QStringList methods;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) methods.append(meta.method(i).methodSignature());
    EXPECT_EQ(methods, (QStringList{"devicesChanged()", "selectionChanged()", "statusChanged()", "activity()",
                                    "refreshDevices()", "selectDevice(QString)"}));
    QStringList properties;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
        properties.append(meta.property(i).name());
        EXPECT_FALSE(meta.property(i).isWritable());
    }
    EXPECT_EQ(properties, (QStringList{"driverName", "devices", "selectedDeviceId", "connected", "status", "problem",
                                       "lastMessage", "messageCount"}));
}

// The real back-end: a virtual ALSA sequencer port of this test plays into the controller.
TEST(MidiInputOnTheSequencer, ARealPortPlaysIntoTheController) {
    if (!std::filesystem::exists("/dev/snd/seq")) {
        GTEST_SKIP() << "no ALSA sequencer (/dev/snd/seq) on this machine, so no real MIDI port can be opened";
    }
    std::unique_ptr<RtMidiOut> keyboard;
    try {
        keyboard = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, "Ostrel test keyboard");
        keyboard->openVirtualPort("Ostrel test keys");
    } catch (const RtMidiError& error) {
        GTEST_SKIP() << "the ALSA sequencer refused a virtual port: " << error.getMessage();
    }
    test::LiveRig rig;
    rig.startInstrument();
    rig.midi = std::make_unique<MidiController>(engine::createMidiBackend(), *rig.settings, *rig.instrument, rig.log.logger);
    QString id;
    for (const QVariant& device : rig.midi->devices()) {
        const QString candidate = device.toMap().value("id").toString();
        if (candidate.contains("Ostrel test keys")) id = candidate;
    }
    ASSERT_FALSE(id.isEmpty()) << "the virtual port is listed";
    rig.midi->selectDevice(id);
    ASSERT_TRUE(rig.midi->connected()) << rig.midi->status().toStdString();
    const std::vector<unsigned char> noteOn{0x90, 0x3C, 0x64};
    keyboard->sendMessage(&noteOn);
    // The sequencer delivers on its own thread; the bound only keeps a broken one from hanging the suite.
    for (int attempt = 0; attempt < 5000 && rig.midi->messageCount() == 0; ++attempt) {
        rig.midi->pollMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(rig.midi->messageCount(), 1);
    EXPECT_EQ(rig.midi->lastMessage(), "Note on C4 (60), velocity 100 (channel 1)");
}

}  // namespace
}  // namespace ostrel::app
