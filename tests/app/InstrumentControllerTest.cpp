#include "app/InstrumentController.h"

#include "LiveTestSupport.h"

#include <gtest/gtest.h>

#include <QMetaMethod>
#include <QMetaObject>
#include <QMetaProperty>
#include <QSignalSpy>

#include <map>
#include <span>

namespace ostrel::app {
namespace {

using test::ints;

engine::Event midiEvent(engine::EventType type, int note, int velocity) {
    engine::Event event;
    event.type = type;
    event.note = static_cast<std::uint8_t>(note);
    event.velocity = static_cast<std::uint8_t>(velocity);
    return event;
}

// What a take being recorded would see: every noteOn opens a note, every noteOff closes
// one of that pitch.
class OpenNotes {
public:
    explicit OpenNotes(InstrumentController& instrument) {
        QObject::connect(&instrument, &InstrumentController::noteOn, [this](int pitch, int) { ++open_[pitch]; });
        QObject::connect(&instrument, &InstrumentController::noteOff, [this](int pitch) {
            if (open_[pitch] > 0) --open_[pitch];
        });
    }
    int count() const {
        int total = 0;
        for (const auto& [pitch, n] : open_) total += n;
        return total;
    }

private:
    std::map<int, int> open_;
};

class InstrumentPlaying : public ::testing::Test {
protected:
    void SetUp() override { rig.startInstrument(); }

    InstrumentController& instrument() { return *rig.instrument; }

    // The note events the instrument has queued for the audio thread, taken out.
    std::vector<engine::Event> queuedNotes() {
        engine::AudioEngine& engine = rig.audio->engine();
        const std::span<const engine::Event> due = engine.events().drain(static_cast<std::int64_t>(engine.clock()), 1);
        std::vector<engine::Event> notes;
        for (const engine::Event& e : due) {
            if (e.type == engine::EventType::NoteOn || e.type == engine::EventType::NoteOff) notes.push_back(e);
        }
        return notes;
    }

    test::LiveRig rig;
};

TEST_F(InstrumentPlaying, StartsWithTheCardClosedAndAnInvitation) {
    EXPECT_EQ(instrument().message(), "Press a key to start. The sound card opens when you play.");
    EXPECT_FALSE(instrument().problem());
    EXPECT_EQ(instrument().octave(), 4);
    EXPECT_EQ(rig.card->opens, 0);
    EXPECT_TRUE(instrument().pressedKeys().isEmpty());
}

TEST_F(InstrumentPlaying, SemitoneZeroAtOctaveFourIsMiddleCAtVelocity100AndOpensTheCard) {
    QSignalSpy on(&instrument(), &InstrumentController::noteOn);
    QSignalSpy off(&instrument(), &InstrumentController::noteOff);
    QSignalSpy pressed(&instrument(), &InstrumentController::pressedChanged);
    instrument().keyDown(0);
    ASSERT_EQ(on.count(), 1);
    EXPECT_EQ(on.at(0).at(0).toInt(), 60);
    EXPECT_EQ(on.at(0).at(1).toInt(), 100);
    EXPECT_EQ(pressed.count(), 1);
    EXPECT_EQ(rig.card->opens, 1);
    EXPECT_TRUE(instrument().liveInstrument().isReady());
    EXPECT_EQ(instrument().message(), "Playing Modular Lead");
    EXPECT_FALSE(instrument().problem());
    const std::vector<engine::Event> started = queuedNotes();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].type, engine::EventType::NoteOn);
    EXPECT_EQ(started[0].note, 60);

    instrument().keyUp(0);
    ASSERT_EQ(off.count(), 1);
    EXPECT_EQ(off.at(0).at(0).toInt(), 60);
    EXPECT_EQ(pressed.count(), 2);
    const std::vector<engine::Event> ended = queuedNotes();
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].type, engine::EventType::NoteOff);
    EXPECT_EQ(ended[0].note, 60);
}

TEST_F(InstrumentPlaying, KeysOutsideTheirRangesAndPitchesAbove127AreIgnored) {
    QSignalSpy on(&instrument(), &InstrumentController::noteOn);
    QSignalSpy message(&instrument(), &InstrumentController::messageChanged);
    instrument().keyDown(-1);
    instrument().keyDown(37);
    instrument().padDown(-1);
    instrument().padDown(128);
    for (int i = 0; i < 3; ++i) instrument().shiftOctave(1);
    ASSERT_EQ(instrument().octave(), 7);
    instrument().keyDown(36);  // pitch 132
    instrument().keyDown(32);  // pitch 128
    EXPECT_EQ(on.count(), 0);
    EXPECT_EQ(message.count(), 0);
    EXPECT_EQ(rig.card->opens, 0) << "an ignored key opens nothing";
    EXPECT_TRUE(instrument().pressedKeys().isEmpty());

    instrument().keyDown(31);  // pitch 127, the highest
    instrument().padDown(127);
    instrument().padDown(0);
    ASSERT_EQ(on.count(), 3);
    EXPECT_EQ(on.at(0).at(0).toInt(), 127);
    EXPECT_EQ(on.at(1).at(0).toInt(), 127);
    EXPECT_EQ(on.at(2).at(0).toInt(), 0);
}

TEST_F(InstrumentPlaying, OctaveStaysBetweenOneAndSevenAndSignalsOnlyAChange) {
    QSignalSpy changed(&instrument(), &InstrumentController::octaveChanged);
    for (int i = 0; i < 6; ++i) instrument().shiftOctave(-3);
    EXPECT_EQ(instrument().octave(), 1);
    EXPECT_EQ(changed.count(), 3);
    instrument().shiftOctave(0);  // zero counts as up
    EXPECT_EQ(instrument().octave(), 2);
    for (int i = 0; i < 9; ++i) instrument().shiftOctave(5);
    EXPECT_EQ(instrument().octave(), 7);
    EXPECT_EQ(changed.count(), 9);

    instrument().keyDown(0);
    QSignalSpy on(&instrument(), &InstrumentController::noteOn);
    instrument().keyUp(0);
    instrument().shiftOctave(-1);
    instrument().shiftOctave(-1);
    instrument().shiftOctave(-1);
    instrument().keyDown(0);  // octave 4 again
    ASSERT_EQ(on.count(), 1);
    EXPECT_EQ(on.at(0).at(0).toInt(), 60);
}

TEST_F(InstrumentPlaying, ASecondPressOfAHeldKeyStartsNothing) {
    instrument().keyDown(4);
    QSignalSpy on(&instrument(), &InstrumentController::noteOn);
    QSignalSpy pressed(&instrument(), &InstrumentController::pressedChanged);
    queuedNotes();
    instrument().keyDown(4);
    EXPECT_EQ(on.count(), 0);
    EXPECT_EQ(pressed.count(), 0);
    EXPECT_TRUE(queuedNotes().empty());
    instrument().keyUp(9);  // not held: nothing
    EXPECT_EQ(pressed.count(), 0);
}

TEST_F(InstrumentPlaying, KeysPadsAndMidiNotesShowAsHeldKeysAndActiveNotes) {
    instrument().keyDown(0);
    instrument().padDown(60);
    EXPECT_EQ(ints(instrument().pressedKeys()), (std::vector<int>{0, 1060}));
    EXPECT_EQ(ints(instrument().activeNotes()), (std::vector<int>{60, 60}));
    instrument().handleMidiMessage(midiEvent(engine::EventType::NoteOn, 64, 90));
    EXPECT_EQ(ints(instrument().pressedKeys()), (std::vector<int>{0, 1060})) << "the piano follows keys only";
    EXPECT_EQ(ints(instrument().activeNotes()), (std::vector<int>{60, 60, 64}));
    instrument().padUp(60);
    EXPECT_EQ(ints(instrument().pressedKeys()), (std::vector<int>{0}));
    EXPECT_EQ(ints(instrument().activeNotes()), (std::vector<int>{60, 64}));
}

TEST_F(InstrumentPlaying, AHeldKeyEndsOnThePitchItStartedWithAfterAnOctaveShift) {
    QSignalSpy off(&instrument(), &InstrumentController::noteOff);
    instrument().keyDown(2);  // 62
    instrument().shiftOctave(1);
    instrument().keyUp(2);
    ASSERT_EQ(off.count(), 1);
    EXPECT_EQ(off.at(0).at(0).toInt(), 62);
}

TEST_F(InstrumentPlaying, ACardThatWillNotOpenShowsTheAudioStatusAndHoldsNothing) {
    rig.card->openError = "could not open the sound card: the test refuses";
    QSignalSpy on(&instrument(), &InstrumentController::noteOn);
    instrument().keyDown(0);
    EXPECT_TRUE(instrument().pressedKeys().isEmpty());
    EXPECT_EQ(on.count(), 0);
    EXPECT_TRUE(instrument().problem());
    EXPECT_EQ(instrument().message(), rig.audio->status());
    EXPECT_TRUE(instrument().message().startsWith("Could not start audio: ")) << instrument().message().toStdString();

    rig.card->openError.clear();
    instrument().keyDown(0);
    EXPECT_EQ(on.count(), 1);
    EXPECT_EQ(instrument().message(), "Playing Modular Lead");
    EXPECT_FALSE(instrument().problem());
}

TEST_F(InstrumentPlaying, ANoteSwitchesTheTestToneOff) {
    rig.audio->setTestTone(true);
    ASSERT_TRUE(rig.audio->testToneOn());
    instrument().padDown(48);
    EXPECT_FALSE(rig.audio->testToneOn());
    EXPECT_TRUE(instrument().liveInstrument().isReady());
}

TEST_F(InstrumentPlaying, ANewStreamAfterTheFirstNoteRebuildsTheInstrumentAtOnce) {
    ASSERT_TRUE(rig.audio->openOutput());  // a stream before any note builds nothing
    EXPECT_FALSE(instrument().liveInstrument().isReady());
    instrument().keyDown(0);
    instrument().keyUp(0);
    ASSERT_TRUE(rig.audio->openOutput());  // as after a device change
    EXPECT_TRUE(instrument().liveInstrument().isReady());
}

// Regression: releasing everything at once told the engine but not the listeners, so a
// take being recorded kept those notes open.
TEST_F(InstrumentPlaying, ReleaseAllEndsEveryHeldKeyForListenersButLeavesMidiNotes) {
    OpenNotes take(instrument());
    QSignalSpy pressed(&instrument(), &InstrumentController::pressedChanged);
    QSignalSpy off(&instrument(), &InstrumentController::noteOff);
    instrument().releaseAll();
    EXPECT_EQ(pressed.count(), 0) << "nothing held, nothing said";

    instrument().padDown(70);
    instrument().keyDown(0);
    instrument().keyDown(7);
    instrument().handleMidiMessage(midiEvent(engine::EventType::NoteOn, 40, 100));
    queuedNotes();
    pressed.clear();
    instrument().releaseAll();
    EXPECT_EQ(pressed.count(), 1);
    ASSERT_EQ(off.count(), 3);
    EXPECT_EQ(off.at(0).at(0).toInt(), 60);  // ascending key id: 0, 7, 1070
    EXPECT_EQ(off.at(1).at(0).toInt(), 67);
    EXPECT_EQ(off.at(2).at(0).toInt(), 70);
    EXPECT_EQ(queuedNotes().size(), 3u);
    EXPECT_EQ(ints(instrument().activeNotes()), (std::vector<int>{40}));
    EXPECT_EQ(take.count(), 1) << "only the MIDI note is still open";
}

// Regression: a new stream forgot the held notes without telling the listeners.
TEST_F(InstrumentPlaying, ANewStreamEndsHeldKeysAndMidiNotesForListeners) {
    OpenNotes take(instrument());
    instrument().keyDown(0);
    instrument().handleMidiMessage(midiEvent(engine::EventType::NoteOn, 40, 100));
    QSignalSpy pressed(&instrument(), &InstrumentController::pressedChanged);
    ASSERT_TRUE(rig.audio->openOutput());
    EXPECT_EQ(pressed.count(), 1);
    EXPECT_TRUE(instrument().activeNotes().isEmpty());
    EXPECT_EQ(take.count(), 0);
}

TEST_F(InstrumentPlaying, ANewStreamWithOnlyMidiNotesHeldStillSignalsTheChange) {
    OpenNotes take(instrument());
    instrument().handleMidiMessage(midiEvent(engine::EventType::NoteOn, 50, 100));
    QSignalSpy pressed(&instrument(), &InstrumentController::pressedChanged);
    QSignalSpy off(&instrument(), &InstrumentController::noteOff);
    ASSERT_TRUE(rig.audio->openOutput());
    EXPECT_EQ(pressed.count(), 1);
    ASSERT_EQ(off.count(), 1);
    EXPECT_EQ(off.at(0).at(0).toInt(), 50);
    EXPECT_EQ(take.count(), 0);
}

// Regression: dropping MIDI notes (the input closed) left them open in a take.
TEST_F(InstrumentPlaying, ReleasingMidiNotesEndsThemForListenersAndTheEngine) {
    OpenNotes take(instrument());
    instrument().handleMidiMessage(midiEvent(engine::EventType::NoteOn, 50, 100));
    instrument().handleMidiMessage(midiEvent(engine::EventType::NoteOn, 45, 100));
    instrument().keyDown(0);
    queuedNotes();
    QSignalSpy pressed(&instrument(), &InstrumentController::pressedChanged);
    QSignalSpy off(&instrument(), &InstrumentController::noteOff);
    instrument().releaseMidiNotes();
    EXPECT_EQ(pressed.count(), 1);
    ASSERT_EQ(off.count(), 2);
    EXPECT_EQ(off.at(0).at(0).toInt(), 45);
    EXPECT_EQ(off.at(1).at(0).toInt(), 50);
    EXPECT_EQ(queuedNotes().size(), 2u);
    EXPECT_EQ(take.count(), 1) << "the computer key still sounds";
    instrument().releaseMidiNotes();
    EXPECT_EQ(pressed.count(), 1) << "nothing left, nothing said";
}

TEST(InstrumentInterface, TheQmlSeesItsMembersInTheirPublishedOrder) {
    const QMetaObject& meta = InstrumentController::staticMetaObject;
    QStringList methods;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) methods.append(meta.method(i).methodSignature());
    EXPECT_EQ(methods,
              (QStringList{"patchChanged()", "effectsChanged()", "chordsChanged()", "soundChanged()",
                           "learningChanged()", "controllerMapChanged()", "patchListChanged()",
                           "patchFilesMessageChanged()", "levelChanged()", "octaveChanged()", "pressedChanged()",
                           "messageChanged()", "noteOn(int,int)", "noteOff(int)", "refreshPatches()",
                           "saveCurrentPatchAs(QString)", "removeUserPatch(QString)", "openPatchesFolder()",
                           "commitLevel()", "useTrackInstrument(QString,QString,QString)", "selectPatch(QString)",
                           "setEffects(bool)", "setChords(bool)", "learnControl(QString)", "cancelLearn()",
                           "clearControl(QString)", "resetControllers()", "resetSound()", "setLevel(double)",
                           "shiftOctave(int)", "keyDown(int)", "keyUp(int)", "padDown(int)", "padUp(int)",
                           "releaseAll()"}));
    QStringList properties;
    QStringList writable;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
        properties.append(meta.property(i).name());
        if (meta.property(i).isWritable()) writable.append(meta.property(i).name());
    }
    EXPECT_EQ(properties, (QStringList{"patchNames", "userPatchNames", "patchesDirectory", "patchFilesMessage",
                                       "patchFilesProblem", "patchName", "effects", "chords", "level", "brightness",
                                       "resonance", "attack", "release", "learning", "controllerMap", "octave",
                                       "pressedKeys", "activeNotes", "patchCategory", "padLabels", "patchCategories",
                                       "message", "problem"}));
    EXPECT_EQ(writable, (QStringList{"effects", "chords", "level", "brightness", "resonance", "attack", "release"}));
}

// The audio controller's 250 ms tick and the 5 s keep-alive, run on a hand-moved clock.
class KeepAlive : public InstrumentPlaying {
protected:
    // Runs both timers from now to `untilMs`; false as soon as the card has closed.
    bool runUntil(std::int64_t untilMs) {
        while (rig.nowMs < untilMs) {
            rig.nowMs += 250;
            if (rig.nowMs % InstrumentController::kKeepAliveMs == 0) instrument().keepAliveTick();
            rig.audio->onTick();
            if (!rig.audio->engineRunning()) return false;
        }
        return true;
    }
};

TEST_F(KeepAlive, AHeldKeyKeepsTheCardOpenLongPastTheIdleMinute) {
    instrument().keyDown(0);
    EXPECT_TRUE(runUntil(300000));
    instrument().keyUp(0);  // activity: the minute counts from here
    const std::int64_t released = rig.nowMs;
    EXPECT_TRUE(runUntil(released + 59750));
    EXPECT_FALSE(runUntil(released + 60250));
}

TEST_F(KeepAlive, AHeldMidiNoteKeepsTheCardOpenToo) {
    instrument().handleMidiMessage(midiEvent(engine::EventType::NoteOn, 60, 100));
    EXPECT_TRUE(runUntil(180000));
    instrument().releaseMidiNotes();  // the input closed: no activity of its own
    const std::int64_t dropped = rig.nowMs;
    EXPECT_FALSE(runUntil(dropped + 60000));
}

TEST_F(KeepAlive, WithNothingHeldTheCardClosesAMinuteAfterTheLastNote) {
    instrument().padDown(36);
    instrument().padUp(36);
    EXPECT_TRUE(runUntil(59750));
    EXPECT_FALSE(runUntil(60250));
    EXPECT_EQ(rig.audio->status(), "Stopped");
}

}  // namespace
}  // namespace ostrel::app
