#include "app/InstrumentController.h"

#include "LiveTestSupport.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

namespace ostrel::app {
namespace {

engine::Event controlChange(int controller, int value) {
    engine::Event event;
    event.type = engine::EventType::ControlChange;
    event.note = static_cast<std::uint8_t>(controller);
    event.velocity = static_cast<std::uint8_t>(value);
    return event;
}

engine::Event note(engine::EventType type, int number, int velocity = 100) {
    engine::Event event;
    event.type = type;
    event.note = static_cast<std::uint8_t>(number);
    event.velocity = static_cast<std::uint8_t>(velocity);
    return event;
}

QVariantMap mapOf(std::initializer_list<std::pair<const char*, int>> entries) {
    QVariantMap map;
    for (const auto& [target, controller] : entries) map.insert(target, controller);
    return map;
}

class MidiMap : public ::testing::Test {
protected:
    void SetUp() override { rig.startInstrument(); }
    InstrumentController& instrument() { return *rig.instrument; }
    QJsonObject savedMap() const {
        return QJsonDocument::fromJson(rig.setting("instrument.midi_map").toUtf8()).object();
    }

    test::LiveRig rig;
};

TEST_F(MidiMap, TheDefaultMapShowsTheLowestControllerOfEachTarget) {
    EXPECT_EQ(instrument().controllerMap(), mapOf({{"volume", 7}, {"brightness", 1}, {"resonance", 71},
                                                   {"attack", 73}, {"release", 72}}));
}

TEST_F(MidiMap, AMappedControllerMovesItsKnobAcrossItsWholeRange) {
    QSignalSpy sound(&instrument(), &InstrumentController::soundChanged);
    instrument().handleMidiMessage(controlChange(74, 127));
    EXPECT_DOUBLE_EQ(instrument().brightness(), 1.0);
    instrument().handleMidiMessage(controlChange(74, 0));
    EXPECT_DOUBLE_EQ(instrument().brightness(), 0.0);
    instrument().handleMidiMessage(controlChange(74, 64));
    EXPECT_NEAR(instrument().brightness(), 64.0 / 127.0, 1e-6);
    EXPECT_EQ(sound.count(), 3);
    instrument().handleMidiMessage(controlChange(71, 127));
    instrument().handleMidiMessage(controlChange(73, 0));
    instrument().handleMidiMessage(controlChange(72, 127));
    EXPECT_DOUBLE_EQ(instrument().resonance(), 1.0);
    EXPECT_DOUBLE_EQ(instrument().attack(), 0.0);
    EXPECT_DOUBLE_EQ(instrument().release(), 1.0);

    QSignalSpy level(&instrument(), &InstrumentController::levelChanged);
    instrument().handleMidiMessage(controlChange(7, 0));
    EXPECT_DOUBLE_EQ(instrument().level(), 0.0);
    EXPECT_EQ(level.count(), 1);
    EXPECT_DOUBLE_EQ(rig.settings->value("instrument.level").toDouble(), 0.7) << "a controller's level is not saved";
}

TEST_F(MidiMap, LearningAssignsTheNextControllerAndTakesItFromItsOldTarget) {
    QSignalSpy learning(&instrument(), &InstrumentController::learningChanged);
    QSignalSpy map(&instrument(), &InstrumentController::controllerMapChanged);
    instrument().learnControl("volume");
    EXPECT_EQ(instrument().learning(), "volume");
    EXPECT_EQ(instrument().message(), "Move a knob or wheel on your MIDI keyboard to assign it to volume.");
    EXPECT_FALSE(instrument().problem());

    const double brightness = instrument().brightness();
    instrument().handleMidiMessage(controlChange(1, 100));
    EXPECT_EQ(instrument().learning(), "");
    EXPECT_EQ(learning.count(), 2);
    EXPECT_EQ(map.count(), 1);
    EXPECT_EQ(instrument().controllerMap(), mapOf({{"volume", 1}, {"brightness", 74}, {"resonance", 71},
                                                   {"attack", 73}, {"release", 72}}));
    EXPECT_EQ(instrument().message(), "Controller 1 now moves volume.");
    EXPECT_DOUBLE_EQ(instrument().brightness(), brightness) << "the learning move is not applied";
    EXPECT_NEAR(instrument().level(), 0.7, 1e-6);
    EXPECT_TRUE(rig.recordedStep("instrument: MIDI controller 1 assigned to volume"));

    const QJsonObject saved = savedMap();
    EXPECT_EQ(saved.value("1").toString(), "volume");
    EXPECT_FALSE(saved.contains("7"));
    EXPECT_EQ(saved.value("74").toString(), "brightness");
    EXPECT_EQ(saved.size(), 5);

    instrument().handleMidiMessage(controlChange(1, 127));
    EXPECT_DOUBLE_EQ(instrument().level(), 1.0);
    instrument().handleMidiMessage(controlChange(7, 0));
    EXPECT_DOUBLE_EQ(instrument().level(), 1.0) << "controller 7 no longer moves anything";
}

TEST_F(MidiMap, TheSavedMapComesBackWithTheNextController) {
    instrument().learnControl("attack");
    instrument().handleMidiMessage(controlChange(20, 5));
    rig.instrument.reset();
    rig.startInstrument();
    EXPECT_EQ(instrument().controllerMap(), mapOf({{"volume", 7}, {"brightness", 1}, {"resonance", 71},
                                                   {"attack", 20}, {"release", 72}}));
}

TEST_F(MidiMap, ThePedalWorksWhileLearningAndDoesNotEndIt) {
    instrument().handleMidiMessage(note(engine::EventType::NoteOn, 60));
    instrument().learnControl("release");
    instrument().handleMidiMessage(controlChange(64, 127));
    EXPECT_EQ(instrument().learning(), "release");
    EXPECT_FALSE(instrument().controllerMap().contains("sustain"));
    // The pedal holds the released note: the engine gets no note off until it comes up.
    engine::AudioEngine& engine = rig.audio->engine();
    engine.events().drain(static_cast<std::int64_t>(engine.clock()), 1);
    instrument().handleMidiMessage(note(engine::EventType::NoteOff, 60));
    EXPECT_TRUE(engine.events().drain(static_cast<std::int64_t>(engine.clock()), 1).empty());
    instrument().handleMidiMessage(controlChange(64, 0));
    EXPECT_EQ(engine.events().drain(static_cast<std::int64_t>(engine.clock()), 1).size(), 1u);
}

TEST_F(MidiMap, ASecondClickCancelsAndUnknownTargetsAreIgnored) {
    QSignalSpy learning(&instrument(), &InstrumentController::learningChanged);
    instrument().learnControl("volume");
    instrument().learnControl("volume");
    EXPECT_EQ(instrument().learning(), "");
    EXPECT_EQ(learning.count(), 2);
    instrument().learnControl("Volume");
    instrument().learnControl("sustain");
    EXPECT_EQ(learning.count(), 2);
    instrument().learnControl("attack");
    instrument().learnControl("release");  // another target takes over
    EXPECT_EQ(instrument().learning(), "release");
    instrument().cancelLearn();
    instrument().cancelLearn();
    EXPECT_EQ(instrument().learning(), "");
    EXPECT_EQ(learning.count(), 5);
}

TEST_F(MidiMap, ClearingATargetUnmapsAllItsControllersAndAnEmptyTargetChangesNothing) {
    QSignalSpy map(&instrument(), &InstrumentController::controllerMapChanged);
    instrument().clearControl("brightness");
    EXPECT_FALSE(instrument().controllerMap().contains("brightness"));
    EXPECT_EQ(map.count(), 1);
    const QJsonObject saved = savedMap();
    EXPECT_FALSE(saved.contains("1"));
    EXPECT_FALSE(saved.contains("74"));
    const QString setting = rig.setting("instrument.midi_map");
    instrument().clearControl("brightness");
    instrument().clearControl("nothing");
    EXPECT_EQ(map.count(), 1);
    EXPECT_EQ(rig.setting("instrument.midi_map"), setting);
}

TEST_F(MidiMap, AControllerArrivingForAnUnmappedKnobGoesToTheInstrumentOnceItIsBuilt) {
    instrument().clearControl("brightness");
    const double before = instrument().brightness();
    engine::AudioEngine& engine = rig.audio->engine();
    instrument().handleMidiMessage(controlChange(74, 127));
    EXPECT_DOUBLE_EQ(instrument().brightness(), before) << "an unmapped controller moves no knob";
    EXPECT_TRUE(engine.events().drain(static_cast<std::int64_t>(engine.clock()), 1).empty())
        << "dropped: the instrument is not built yet";

    instrument().padDown(40);
    instrument().padUp(40);
    engine.events().drain(static_cast<std::int64_t>(engine.clock()), 1);
    instrument().handleMidiMessage(controlChange(74, 127));
    const auto events = engine.events().drain(static_cast<std::int64_t>(engine.clock()), 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, engine::EventType::ControlChange);
    EXPECT_EQ(events[0].note, 74);
}

TEST_F(MidiMap, PitchBendBeforeTheFirstNoteIsDroppedAndAfterItReachesTheInstrument) {
    engine::AudioEngine& engine = rig.audio->engine();
    engine::Event bend;
    bend.type = engine::EventType::PitchBend;
    bend.value = 0.5f;
    instrument().handleMidiMessage(bend);
    EXPECT_TRUE(engine.events().drain(static_cast<std::int64_t>(engine.clock()), 1).empty());
    instrument().keyDown(0);
    engine.events().drain(static_cast<std::int64_t>(engine.clock()), 1);
    instrument().handleMidiMessage(bend);
    const auto events = engine.events().drain(static_cast<std::int64_t>(engine.clock()), 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, engine::EventType::PitchBend);
    EXPECT_FLOAT_EQ(events[0].value, 0.5f);
}

TEST_F(MidiMap, ResetBringsBackTheDefaultsClearsTheSettingAndEndsLearning) {
    instrument().learnControl("volume");
    instrument().handleMidiMessage(controlChange(30, 1));
    instrument().learnControl("attack");
    QSignalSpy learning(&instrument(), &InstrumentController::learningChanged);
    QSignalSpy map(&instrument(), &InstrumentController::controllerMapChanged);
    instrument().resetControllers();
    EXPECT_EQ(instrument().learning(), "");
    EXPECT_EQ(instrument().controllerMap().value("volume").toInt(), 7);
    EXPECT_EQ(rig.setting("instrument.midi_map"), "");
    EXPECT_EQ(learning.count(), 1);
    EXPECT_EQ(map.count(), 1);
    instrument().resetControllers();
    EXPECT_EQ(learning.count(), 2) << "always both signals";
    EXPECT_EQ(map.count(), 2);
}

TEST(MidiMapSetting, AHandEditedMapIsReadAsGivenAndBadTextLeavesTheDefaults) {
    {
        test::LiveRig rig;
        rig.preset("instrument.midi_map", std::string(R"({"10":"volume","11":"volume","x":"attack","12":5})"));
        rig.startInstrument();
        const QVariantMap map = rig.instrument->controllerMap();
        EXPECT_EQ(map.value("volume").toInt(), 10);
        EXPECT_EQ(map.value("attack").toInt(), 0) << "a key that is no number counts as 0";
        EXPECT_EQ(map.value("").toInt(), 12) << "a value that is no text is an empty target";
        EXPECT_FALSE(map.contains("brightness"));
        rig.instrument->handleMidiMessage(controlChange(12, 127));  // its empty target does nothing
        rig.instrument->handleMidiMessage(controlChange(11, 0));
        EXPECT_DOUBLE_EQ(rig.instrument->level(), 0.0);
    }
    for (const char* text : {"", "not json", "[1,2]", "{}"}) {
        test::LiveRig rig;
        rig.preset("instrument.midi_map", std::string(text));
        rig.startInstrument();
        EXPECT_EQ(rig.instrument->controllerMap().value("brightness").toInt(), 1) << text;
    }
}

TEST_F(MidiMap, MidiNotesPlayAtTheirVelocityAndANoteOffAlwaysSignals) {
    QSignalSpy on(&instrument(), &InstrumentController::noteOn);
    QSignalSpy off(&instrument(), &InstrumentController::noteOff);
    QSignalSpy pressed(&instrument(), &InstrumentController::pressedChanged);
    instrument().handleMidiMessage(note(engine::EventType::NoteOn, 62, 33));
    ASSERT_EQ(on.count(), 1);
    EXPECT_EQ(on.at(0).at(1).toInt(), 33);
    EXPECT_EQ(instrument().message(), "Playing Modular Lead");
    EXPECT_EQ(rig.card->opens, 1);
    instrument().handleMidiMessage(note(engine::EventType::NoteOff, 62));
    instrument().handleMidiMessage(note(engine::EventType::NoteOff, 90));  // never held
    EXPECT_EQ(off.count(), 2);
    EXPECT_EQ(pressed.count(), 3);
    EXPECT_TRUE(instrument().activeNotes().isEmpty());
}

TEST_F(MidiMap, AMidiNoteWithTheCardRefusingShowsTheAudioStatus) {
    rig.card->openError = "could not open the sound card: the test refuses";
    QSignalSpy on(&instrument(), &InstrumentController::noteOn);
    instrument().handleMidiMessage(note(engine::EventType::NoteOn, 62));
    EXPECT_EQ(on.count(), 0);
    EXPECT_TRUE(instrument().problem());
    EXPECT_EQ(instrument().message(), rig.audio->status());
    EXPECT_TRUE(instrument().activeNotes().isEmpty());
}

}  // namespace
}  // namespace ostrel::app
