#include "app/live/InstrumentController.h"

#include "LiveTestSupport.h"

#include <gtest/gtest.h>

#include <QMetaMethod>
#include <QMetaObject>
#include <QMetaProperty>
#include <QSignalSpy>

#include <map>

namespace ostrel::app {
namespace {

using engine::EventType;
using test::ints;
using test::midiEvent;
using test::pitches;

// What a take being recorded sees: a noteOn opens a note, a noteOff closes one of that pitch.
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

    // The note events queued for the audio thread, as (type, note) pairs.
    std::vector<std::pair<EventType, int>> queuedNotes() {
        std::vector<std::pair<EventType, int>> notes;
        for (const engine::Event& e : rig.takeEvents()) {
            if (e.type == EventType::NoteOn || e.type == EventType::NoteOff) notes.emplace_back(e.type, e.note);
        }
        return notes;
    }

    test::LiveRig rig;
};

TEST_F(InstrumentPlaying, SemitoneZeroAtOctaveFourIsMiddleCAtVelocity100AndOpensTheCard) {
    EXPECT_EQ(instrument().message(), "Press a key to start. The sound card opens when you play.");
    EXPECT_EQ(rig.card->opens, 0);
    QSignalSpy on(&instrument(), &InstrumentController::noteOn);
    QSignalSpy off(&instrument(), &InstrumentController::noteOff);
    QSignalSpy pressed(&instrument(), &InstrumentController::pressedChanged);
    instrument().keyDown(0);
    ASSERT_EQ(on.count(), 1);
    EXPECT_EQ(on.at(0), (QVariantList{60, 100}));
    EXPECT_EQ(rig.card->opens, 1);
    EXPECT_TRUE(instrument().liveInstrument().isReady());
    EXPECT_EQ(instrument().message(), "Playing Modular Lead");
    EXPECT_FALSE(instrument().problem());
    EXPECT_EQ(queuedNotes(), (std::vector<std::pair<EventType, int>>{{EventType::NoteOn, 60}}));

    instrument().keyDown(0);  // a second press of a held key starts nothing
    EXPECT_EQ(on.count(), 1);
    EXPECT_TRUE(queuedNotes().empty());
    instrument().keyUp(9);  // not held: nothing
    EXPECT_EQ(pressed.count(), 1);

    instrument().keyUp(0);
    EXPECT_EQ(pitches(off), std::vector<int>{60});
    EXPECT_EQ(pressed.count(), 2);
    EXPECT_EQ(queuedNotes(), (std::vector<std::pair<EventType, int>>{{EventType::NoteOff, 60}}));
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
    EXPECT_EQ(pitches(on), (std::vector<int>{127, 127, 0}));
}

TEST_F(InstrumentPlaying, OctaveStaysBetweenOneAndSevenAndAHeldKeyEndsOnItsStartingPitch) {
    QSignalSpy changed(&instrument(), &InstrumentController::octaveChanged);
    for (int i = 0; i < 6; ++i) instrument().shiftOctave(-3);
    EXPECT_EQ(instrument().octave(), 1);
    EXPECT_EQ(changed.count(), 3) << "only a change signals";
    instrument().shiftOctave(0);  // zero counts as up
    EXPECT_EQ(instrument().octave(), 2);
    for (int i = 0; i < 9; ++i) instrument().shiftOctave(5);
    EXPECT_EQ(instrument().octave(), 7);
    EXPECT_EQ(changed.count(), 9);

    for (int i = 0; i < 3; ++i) instrument().shiftOctave(-1);
    QSignalSpy on(&instrument(), &InstrumentController::noteOn);
    QSignalSpy off(&instrument(), &InstrumentController::noteOff);
    instrument().keyDown(2);
    instrument().shiftOctave(1);
    instrument().keyUp(2);
    EXPECT_EQ(pitches(on), std::vector<int>{62});
    EXPECT_EQ(pitches(off), std::vector<int>{62});
}

TEST_F(InstrumentPlaying, KeysPadsAndMidiNotesShowAsHeldKeysAndActiveNotes) {
    QSignalSpy on(&instrument(), &InstrumentController::noteOn);
    QSignalSpy off(&instrument(), &InstrumentController::noteOff);
    instrument().keyDown(0);
    instrument().padDown(60);
    EXPECT_EQ(ints(instrument().pressedKeys()), (std::vector<int>{0, 1060}));
    EXPECT_EQ(ints(instrument().activeNotes()), (std::vector<int>{60, 60}));
    instrument().handleMidiMessage(midiEvent(EventType::NoteOn, 64, 33));
    EXPECT_EQ(on.last(), (QVariantList{64, 33})) << "a MIDI note plays at its own velocity";
    EXPECT_EQ(ints(instrument().pressedKeys()), (std::vector<int>{0, 1060})) << "the piano follows keys only";
    EXPECT_EQ(ints(instrument().activeNotes()), (std::vector<int>{60, 60, 64}));
    instrument().padUp(60);
    EXPECT_EQ(ints(instrument().pressedKeys()), (std::vector<int>{0}));
    instrument().handleMidiMessage(midiEvent(EventType::NoteOff, 64));
    instrument().handleMidiMessage(midiEvent(EventType::NoteOff, 90));  // never held: signals all the same
    EXPECT_EQ(ints(instrument().activeNotes()), (std::vector<int>{60}));
    EXPECT_EQ(pitches(off), (std::vector<int>{60, 64, 90}));
}

TEST_F(InstrumentPlaying, ACardThatWillNotOpenShowsTheAudioStatusAndHoldsNothing) {
    rig.card->openError = "could not open the sound card: the test refuses";
    QSignalSpy on(&instrument(), &InstrumentController::noteOn);
    instrument().keyDown(0);
    instrument().handleMidiMessage(midiEvent(EventType::NoteOn, 62));
    EXPECT_TRUE(instrument().activeNotes().isEmpty());
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
    instrument().handleMidiMessage(midiEvent(EventType::NoteOn, 40));
    queuedNotes();
    pressed.clear();
    instrument().releaseAll();
    EXPECT_EQ(pressed.count(), 1);
    EXPECT_EQ(pitches(off), (std::vector<int>{60, 67, 70})) << "by ascending key id: 0, 7, 1070";
    EXPECT_EQ(queuedNotes().size(), 3u);
    EXPECT_EQ(ints(instrument().activeNotes()), (std::vector<int>{40}));
    EXPECT_EQ(take.count(), 1) << "only the MIDI note is still open";
}

// Regression: a new stream forgot the held notes without telling the listeners, and said
// nothing when only MIDI notes were held.
TEST_F(InstrumentPlaying, ANewStreamEndsHeldKeysAndMidiNotesForListeners) {
    OpenNotes take(instrument());
    instrument().handleMidiMessage(midiEvent(EventType::NoteOn, 50));
    QSignalSpy pressed(&instrument(), &InstrumentController::pressedChanged);
    QSignalSpy off(&instrument(), &InstrumentController::noteOff);
    ASSERT_TRUE(rig.audio->openOutput());
    EXPECT_EQ(pressed.count(), 1);
    EXPECT_EQ(pitches(off), std::vector<int>{50});

    instrument().keyDown(0);
    instrument().handleMidiMessage(midiEvent(EventType::NoteOn, 40));
    ASSERT_TRUE(rig.audio->openOutput());
    EXPECT_EQ(pressed.count(), 4);
    EXPECT_TRUE(instrument().activeNotes().isEmpty());
    EXPECT_EQ(take.count(), 0);
}

// Regression: dropping MIDI notes (the input closed) left them open in a take.
TEST_F(InstrumentPlaying, ReleasingMidiNotesEndsThemForListenersAndTheEngine) {
    OpenNotes take(instrument());
    instrument().handleMidiMessage(midiEvent(EventType::NoteOn, 50));
    instrument().handleMidiMessage(midiEvent(EventType::NoteOn, 45));
    instrument().keyDown(0);
    queuedNotes();
    QSignalSpy pressed(&instrument(), &InstrumentController::pressedChanged);
    QSignalSpy off(&instrument(), &InstrumentController::noteOff);
    instrument().releaseMidiNotes();
    EXPECT_EQ(pressed.count(), 1);
    EXPECT_EQ(pitches(off), (std::vector<int>{45, 50}));
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

TEST_F(KeepAlive, AHeldKeyOrMidiNoteKeepsTheCardOpenUntilAMinuteAfterTheLastRelease) {
    instrument().keyDown(0);
    EXPECT_TRUE(runUntil(300000));
    instrument().keyUp(0);  // activity: the minute counts from here
    const std::int64_t released = rig.nowMs;
    EXPECT_TRUE(runUntil(released + 59750));
    EXPECT_FALSE(runUntil(released + 60250));
    EXPECT_EQ(rig.audio->status(), "Stopped");

    instrument().handleMidiMessage(midiEvent(EventType::NoteOn, 60));
    EXPECT_TRUE(runUntil(rig.nowMs + 180000));
    instrument().releaseMidiNotes();  // the input closed: no activity of its own
    EXPECT_FALSE(runUntil(rig.nowMs + 60000));
}

}  // namespace
}  // namespace ostrel::app
