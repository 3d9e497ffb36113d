#include "app/live/InstrumentController.h"

#include "LiveTestSupport.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

namespace ostrel::app {
namespace {

using engine::EventType;
using test::controlChange;
using test::midiEvent;

QVariantMap mapOf(std::initializer_list<std::pair<const char*, int>> entries) {
    QVariantMap map;
    for (const auto& [target, controller] : entries) map.insert(target, controller);
    return map;
}

// The lowest controller of each target in the default map.
const QVariantMap kDefaultMap =
    mapOf({{"volume", 7}, {"brightness", 1}, {"resonance", 71}, {"attack", 73}, {"release", 72}});

class MidiMap : public ::testing::Test {
protected:
    void SetUp() override { rig.startInstrument(); }
    InstrumentController& instrument() { return *rig.instrument; }
    QJsonObject savedMap() const {
        return QJsonDocument::fromJson(rig.setting("instrument.midi_map").toUtf8()).object();
    }

    test::LiveRig rig;
};

TEST_F(MidiMap, EachMappedControllerMovesItsKnobAcrossItsWholeRange) {
    using Getter = double (InstrumentController::*)() const;
    const std::pair<int, Getter> knobs[] = {{7, &InstrumentController::level},
                                            {1, &InstrumentController::brightness},
                                            {74, &InstrumentController::brightness},
                                            {71, &InstrumentController::resonance},
                                            {73, &InstrumentController::attack},
                                            {72, &InstrumentController::release}};
    for (const auto& [controller, get] : knobs) {
        for (const auto& [value, expected] : {std::pair{127, 1.0}, {0, 0.0}, {64, 64.0 / 127.0}}) {
            instrument().handleMidiMessage(controlChange(controller, value));
            EXPECT_NEAR((instrument().*get)(), expected, 1e-6) << "controller " << controller << " at " << value;
        }
    }
    EXPECT_DOUBLE_EQ(rig.settings->value("instrument.level").toDouble(), 0.7) << "a controller's level is not saved";
}

TEST_F(MidiMap, LearningAssignsTheNextControllerAndTakesItFromItsOldTarget) {
    QSignalSpy learning(&instrument(), &InstrumentController::learningChanged);
    QSignalSpy map(&instrument(), &InstrumentController::controllerMapChanged);
    instrument().learnControl("volume");
    EXPECT_EQ(instrument().learning(), "volume");
    EXPECT_EQ(instrument().message(), "Move a knob or wheel on your MIDI keyboard to assign it to volume.");

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

    rig.instrument.reset();
    rig.startInstrument();
    EXPECT_EQ(instrument().controllerMap().value("volume").toInt(), 1) << "the saved map comes back";
}

TEST_F(MidiMap, ThePedalWorksWhileLearningAndDoesNotEndIt) {
    instrument().handleMidiMessage(midiEvent(EventType::NoteOn, 60));
    instrument().learnControl("release");
    instrument().handleMidiMessage(controlChange(64, 127));
    EXPECT_EQ(instrument().learning(), "release");
    EXPECT_FALSE(instrument().controllerMap().contains("sustain"));
    // The pedal holds the released note: the engine gets no note off until it comes up.
    rig.takeEvents();
    instrument().handleMidiMessage(midiEvent(EventType::NoteOff, 60));
    EXPECT_TRUE(rig.takeEvents().empty());
    instrument().handleMidiMessage(controlChange(64, 0));
    EXPECT_EQ(rig.takeEvents().size(), 1u);
}

TEST_F(MidiMap, ASecondClickCancelsAndUnknownTargetsAreIgnored) {
    QSignalSpy learning(&instrument(), &InstrumentController::learningChanged);
    instrument().learnControl("volume");
    instrument().learnControl("volume");
    EXPECT_EQ(instrument().learning(), "");
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
    const QJsonObject saved = savedMap();
    EXPECT_FALSE(saved.contains("1"));
    EXPECT_FALSE(saved.contains("74"));
    const QString setting = rig.setting("instrument.midi_map");
    instrument().clearControl("brightness");
    instrument().clearControl("nothing");
    EXPECT_EQ(map.count(), 1);
    EXPECT_EQ(rig.setting("instrument.midi_map"), setting);
}

// Controllers for unmapped knobs and pitch bend go to the instrument itself, which only
// exists after the first note.
TEST_F(MidiMap, UnmappedControllersAndPitchBendReachTheInstrumentOnceItIsBuilt) {
    instrument().clearControl("brightness");
    const double before = instrument().brightness();
    engine::Event bend;
    bend.type = EventType::PitchBend;
    bend.value = 0.5f;
    instrument().handleMidiMessage(controlChange(74, 127));
    instrument().handleMidiMessage(bend);
    EXPECT_DOUBLE_EQ(instrument().brightness(), before) << "an unmapped controller moves no knob";
    EXPECT_TRUE(rig.takeEvents().empty()) << "dropped: the instrument is not built yet";

    instrument().padDown(40);
    instrument().padUp(40);
    rig.takeEvents();
    instrument().handleMidiMessage(controlChange(74, 127));
    instrument().handleMidiMessage(bend);
    const std::vector<engine::Event> events = rig.takeEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].type, EventType::ControlChange);
    EXPECT_EQ(events[0].note, 74);
    EXPECT_EQ(events[1].type, EventType::PitchBend);
    EXPECT_FLOAT_EQ(events[1].value, 0.5f);
}

TEST_F(MidiMap, ResetBringsBackTheDefaultsClearsTheSettingAndEndsLearning) {
    instrument().learnControl("volume");
    instrument().handleMidiMessage(controlChange(30, 1));
    instrument().learnControl("attack");
    QSignalSpy learning(&instrument(), &InstrumentController::learningChanged);
    QSignalSpy map(&instrument(), &InstrumentController::controllerMapChanged);
    instrument().resetControllers();
    EXPECT_EQ(instrument().learning(), "");
    EXPECT_EQ(instrument().controllerMap(), kDefaultMap);
    EXPECT_EQ(rig.setting("instrument.midi_map"), "");
    EXPECT_EQ(learning.count(), 1);
    EXPECT_EQ(map.count(), 1);
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
        EXPECT_EQ(rig.instrument->controllerMap(), kDefaultMap) << text;
    }
}

}  // namespace
}  // namespace ostrel::app
