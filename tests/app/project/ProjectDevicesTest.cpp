#include "app/project/ProjectController.h"

#include "ProjectTestSupport.h"
#include "devices/instruments/BuiltinInstruments.h"
#include "devices/instruments/InstrumentConfig.h"
#include "playback/render/SongRenderer.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

using namespace ostrel;
using namespace ostrel::app;
using namespace ostrel::test;
using nlohmann::json;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

model::Device device(const std::string& typeId, const std::string& name, std::map<std::string, double> knobs = {}) {
    model::Device d;
    d.id = model::Uuid::generate();
    d.typeId = typeId;
    d.name = name;
    d.parameters = std::move(knobs);
    return d;
}

json pad(int note, const std::string& sample) {
    return {{"note", note}, {"sample", sample}, {"gain", 1.0}, {"tune_cents", 0.0}, {"release_ms", 80.0}};
}

// A song of six tracks: FM Bass with a chain of three effects (EQ, Delay, Reverb; the EQ's
// low gain set to 6, the Reverb bypassed), an audio track, a Sampler on "kick.wav", a Drum
// Rack with two pads of note 40 and one of 41, a MIDI track with no instrument, and one
// playing a modular patch.
struct Song {
    Song() {
        rig.writeSample("kick.wav", 4800);
        rig.writeSample("snare.wav", 4800);
        std::ofstream(rig.samples() / "broken.wav") << "not a sound";

        model::Track bass = track("Bass", "FM Bass");
        bass.devices = {device("ostrel.eq", "EQ", {{"low_gain", 6.0}}), device("ostrel.delay", "Delay"),
                        device("ostrel.reverb", "Reverb")};
        bass.devices[2].enabled = false;
        model::Track audio = track("Audio 1", "");
        audio.kind = model::kAudioTrackKind;
        json sampler = engine::defaultInstrumentConfig("Sampler");
        sampler["sample"] = "kick.wav";
        model::Track sampled = track("Sampled", "Sampler", sampler);
        model::Track drums =
            track("Drums", "Drum Rack", {{"pads", {pad(40, "kick.wav"), pad(41, "snare.wav"), pad(40, "snare.wav")}}});
        model::Track bare = track("Bare", "");
        model::Track lead = track("Lead", "Modular Lead");
        bassId = id(bass.id);
        audioId = id(audio.id);
        samplerId = id(sampled.id);
        drumsId = id(drums.id);
        bareId = id(bare.id);
        leadId = id(lead.id);
        eqId = id(bass.devices[0].id);
        delayId = id(bass.devices[1].id);
        reverbId = id(bass.devices[2].id);

        rig.writeProject("song.ostproj", model::makeProject(model::Uuid::generate(), "Song", 120.0,
                                                            {bass, audio, sampled, drums, bare, lead}, {}));
        EXPECT_TRUE(rig.project.openProject("song.ostproj"));
    }

    ProjectController& project() { return rig.project; }
    const model::Project& doc() const { return rig.project.document(); }
    const model::Track& at(int index) const { return doc().tracks()[static_cast<std::size_t>(index)]; }
    const model::Track& bass() const { return at(0); }
    const json& config(int index) const { return at(index).instrumentConfig.get(); }
    const json& drums() const { return config(3); }

    ProjectRig rig;
    QString bassId, audioId, samplerId, drumsId, bareId, leadId, eqId, delayId, reverbId;
};

enum Row { Bass = 0, Audio = 1, Sampled = 2, Drums = 3, Bare = 4, Lead = 5 };

// ---- Every edit is one named step that undoes and redoes to equal documents ---------------

std::vector<std::string> chain(const model::Track& t) {
    std::vector<std::string> names;
    for (const model::Device& d : t.devices) names.push_back(d.name);
    return names;
}

const std::vector<StepCase<Song>> kDeviceSteps = {
    {"add a plain reverb", [](Song& s) { return s.project().addDevice(s.bassId, "ostrel.reverb", ""); }, "Add device",
     [](const Song& s, const QString& r) {
         ASSERT_EQ(s.bass().devices.size(), 4u);
         const model::Device& d = s.bass().devices[3];
         EXPECT_EQ(id(d.id), r);
         EXPECT_EQ(d.typeId, "ostrel.reverb");
         EXPECT_EQ(d.name, "Reverb");
         EXPECT_TRUE(d.parameters.empty()) << "every knob at its default";
         EXPECT_TRUE(d.enabled);
     }},
    {"add a preset", [](Song& s) { return s.project().addDevice(s.audioId, "ostrel.reverb", "Big Hall"); },
     "Add device",
     [](const Song& s, const QString& r) {
         ASSERT_EQ(s.at(Audio).devices.size(), 1u);
         const model::Device& d = s.at(Audio).devices[0];
         EXPECT_EQ(id(d.id), r);
         EXPECT_EQ(d.name, "Reverb - Big Hall");
         const std::map<std::string, double> hall{
             {"room_size", 0.8}, {"damping", 0.45}, {"width", 1}, {"mix", 0.3}, {"predelay_ms", 25}};
         EXPECT_EQ(d.parameters, hall);
     }},
    {"a preset of another effect leaves the plain device",
     [](Song& s) { return s.project().addDevice(s.bassId, "ostrel.delay", "Big Hall"); }, "Add device",
     [](const Song& s, const QString&) {
         EXPECT_EQ(s.bass().devices[3].name, "Delay");
         EXPECT_TRUE(s.bass().devices[3].parameters.empty());
     }},
    {"remove", [](Song& s) { return s.project().removeDevice(s.bassId, s.delayId), QString(); }, "Remove device",
     [](const Song& s, const QString&) {
         EXPECT_EQ(chain(s.bass()), (std::vector<std::string>{"EQ", "Reverb"}));
     }},
    {"move past the end", [](Song& s) { return s.project().moveDevice(s.bassId, s.eqId, 99), QString(); },
     "Move device",
     [](const Song& s, const QString&) {
         EXPECT_EQ(chain(s.bass()), (std::vector<std::string>{"Delay", "Reverb", "EQ"}));
     }},
    {"move before the start", [](Song& s) { return s.project().moveDevice(s.bassId, s.reverbId, -5), QString(); },
     "Move device",
     [](const Song& s, const QString&) {
         EXPECT_EQ(chain(s.bass()), (std::vector<std::string>{"Reverb", "EQ", "Delay"}));
     }},
    {"bypass", [](Song& s) { return s.project().setDeviceEnabled(s.bassId, s.delayId, false), QString(); },
     "Bypass device", [](const Song& s, const QString&) { EXPECT_FALSE(s.bass().devices[1].enabled); }},
    {"switch on", [](Song& s) { return s.project().setDeviceEnabled(s.bassId, s.reverbId, true), QString(); },
     "Switch device on", [](const Song& s, const QString&) { EXPECT_TRUE(s.bass().devices[2].enabled); }},
    {"knob", [](Song& s) { return s.project().setDeviceParameter(s.bassId, s.eqId, "low_freq", 200.0), QString(); },
     "Set low_freq",
     [](const Song& s, const QString&) { EXPECT_EQ(s.bass().devices[0].parameters.at("low_freq"), 200.0); }},
    {"knob held at its maximum",
     [](Song& s) { return s.project().setDeviceParameter(s.bassId, s.eqId, "low_gain", 50.0), QString(); },
     "Set low_gain",
     [](const Song& s, const QString&) { EXPECT_EQ(s.bass().devices[0].parameters.at("low_gain"), 18.0); }},
    {"knob held at its minimum",
     [](Song& s) { return s.project().setDeviceParameter(s.bassId, s.eqId, "low_freq", -1.0), QString(); },
     "Set low_freq",
     [](const Song& s, const QString&) { EXPECT_EQ(s.bass().devices[0].parameters.at("low_freq"), 20.0); }},
};

const std::vector<StepCase<Song>> kInstrumentSteps = {
    {"a Sampler on a bare track",
     [](Song& s) { return s.project().setTrackInstrument(s.bareId, "Sampler"), QString(); }, "Set instrument",
     [](const Song& s, const QString&) {
         EXPECT_EQ(s.at(Bare).instrumentPatch, "Sampler");
         EXPECT_EQ(s.config(Bare), engine::defaultInstrumentConfig("Sampler"));
     }},
    {"a Drum Rack replaces the Sampler's settings",
     [](Song& s) { return s.project().setTrackInstrument(s.samplerId, "Drum Rack"), QString(); }, "Set instrument",
     [](const Song& s, const QString&) {
         EXPECT_EQ(s.at(Sampled).instrumentPatch, "Drum Rack");
         EXPECT_EQ(s.config(Sampled), (json{{"pads", json::array()}}));
     }},
    {"an FM instrument starts from no settings",
     [](Song& s) { return s.project().setTrackInstrument(s.samplerId, "FM Bell"), QString(); }, "Set instrument",
     [](const Song& s, const QString&) {
         EXPECT_EQ(s.at(Sampled).instrumentPatch, "FM Bell");
         EXPECT_EQ(s.config(Sampled), engine::defaultInstrumentConfig("FM Bell"));
     }},
    {"no instrument", [](Song& s) { return s.project().setTrackInstrument(s.drumsId, ""), QString(); },
     "Set instrument",
     [](const Song& s, const QString&) {
         EXPECT_EQ(s.at(Drums).instrumentPatch, "");
         EXPECT_EQ(s.drums(), engine::defaultInstrumentConfig(""));
     }},
    {"cycle from none", [](Song& s) { return s.project().cycleTrackInstrument(s.bareId), QString(); }, "Set instrument",
     [](const Song& s, const QString&) {
         EXPECT_EQ(s.at(Bare).instrumentPatch, engine::builtinPatches().front().name);
     }},
    {"cycle from a Drum Rack", [](Song& s) { return s.project().cycleTrackInstrument(s.drumsId), QString(); },
     "Set instrument",
     [](const Song& s, const QString&) {
         EXPECT_EQ(s.at(Drums).instrumentPatch, engine::builtinPatches().front().name);
     }},
    {"cycle to the next built-in", [](Song& s) { return s.project().cycleTrackInstrument(s.leadId), QString(); },
     "Set instrument",
     [](const Song& s, const QString&) { EXPECT_EQ(s.at(Lead).instrumentPatch, engine::builtinPatches()[1].name); }},
    {"an FM knob on no settings",
     [](Song& s) { return s.project().setInstrumentParameter(s.bassId, "feedback", 0.5), QString(); },
     "Set instrument settings",
     [](const Song& s, const QString&) {
         EXPECT_EQ(s.config(Bass), (json{{"params", {{"feedback", 0.5}}}}));
     }},
    {"an FM knob held in its range",
     [](Song& s) { return s.project().setInstrumentParameter(s.bassId, "release_ms", 1e9), QString(); },
     "Set instrument settings",
     [](const Song& s, const QString&) { EXPECT_EQ(s.config(Bass)["params"]["release_ms"], 5000.0); }},
};

const std::vector<StepCase<Song>> kSamplerSteps = {
    {"another sample", [](Song& s) { return s.project().setSamplerSample(s.samplerId, "snare.wav"), QString(); },
     "Set instrument settings",
     [](const Song& s, const QString&) {
         json expected = engine::defaultInstrumentConfig("Sampler");
         expected["sample"] = "snare.wav";
         EXPECT_EQ(s.config(Sampled), expected);
     }},
    {"no sample, unchecked", [](Song& s) { return s.project().setSamplerSample(s.samplerId, ""), QString(); },
     "Set instrument settings", [](const Song& s, const QString&) { EXPECT_EQ(s.config(Sampled)["sample"], ""); }},
    {"root note rounded to a whole number",
     [](Song& s) { return s.project().setSamplerParameter(s.samplerId, "root_note", 61.5), QString(); },
     "Set instrument settings",
     [](const Song& s, const QString&) {
         EXPECT_TRUE(s.config(Sampled)["root_note"].is_number_integer());
         EXPECT_EQ(s.config(Sampled)["root_note"], 62);
     }},
    {"loop on at 0.6", [](Song& s) { return s.project().setSamplerParameter(s.samplerId, "loop", 0.6), QString(); },
     "Set instrument settings", [](const Song& s, const QString&) { EXPECT_EQ(s.config(Sampled)["loop"], true); }},
    {"gain held at 2", [](Song& s) { return s.project().setSamplerParameter(s.samplerId, "gain", 5.0), QString(); },
     "Set instrument settings", [](const Song& s, const QString&) { EXPECT_EQ(s.config(Sampled)["gain"], 2.0); }},
    {"attack", [](Song& s) { return s.project().setSamplerParameter(s.samplerId, "attack_ms", 10.0), QString(); },
     "Set instrument settings", [](const Song& s, const QString&) { EXPECT_EQ(s.config(Sampled)["attack_ms"], 10.0); }},
};

const std::vector<StepCase<Song>> kPadSteps = {
    {"a new pad", [](Song& s) { return s.project().setPad(s.drumsId, 42, "kick.wav"), QString(); },
     "Set instrument settings",
     [](const Song& s, const QString&) {
         ASSERT_EQ(s.drums()["pads"].size(), 4u);
         EXPECT_EQ(s.drums()["pads"][3], pad(42, "kick.wav"));
     }},
    {"a pad's sound changes alone", [](Song& s) { return s.project().setPad(s.drumsId, 41, "kick.wav"), QString(); },
     "Set instrument settings",
     [](const Song& s, const QString&) {
         EXPECT_EQ(s.drums()["pads"][1], pad(41, "kick.wav"));
         EXPECT_EQ(s.drums()["pads"][2], pad(40, "snare.wav"));
     }},
    {"only the first pad of a note", [](Song& s) { return s.project().setPad(s.drumsId, 40, "snare.wav"), QString(); },
     "Set instrument settings",
     [](const Song& s, const QString&) {
         EXPECT_EQ(s.drums()["pads"][0], pad(40, "snare.wav"));
         EXPECT_EQ(s.drums()["pads"].size(), 3u);
     }},
    {"pad tuning held at -100",
     [](Song& s) { return s.project().setPadParameter(s.drumsId, 41, "tune_cents", -300.0), QString(); },
     "Set instrument settings",
     [](const Song& s, const QString&) { EXPECT_EQ(s.drums()["pads"][1]["tune_cents"], -100.0); }},
    {"pad release", [](Song& s) { return s.project().setPadParameter(s.drumsId, 40, "release_ms", 300.0), QString(); },
     "Set instrument settings",
     [](const Song& s, const QString&) {
         EXPECT_EQ(s.drums()["pads"][0]["release_ms"], 300.0);
         EXPECT_EQ(s.drums()["pads"][2]["release_ms"], 80.0);
     }},
    {"clear every pad of a note", [](Song& s) { return s.project().clearPad(s.drumsId, 40), QString(); },
     "Set instrument settings",
     [](const Song& s, const QString&) { EXPECT_EQ(s.drums()["pads"], json::array({pad(41, "snare.wav")})); }},
};

TEST(ProjectDevicesChain, EachEditIsOneNamedStepThatUndoesAndRedoesToEqualDocuments) { expectOneStep(kDeviceSteps); }

TEST(ProjectDevicesInstrument, EachEditIsOneNamedStepThatUndoesAndRedoesToEqualDocuments) {
    expectOneStep(kInstrumentSteps);
}

TEST(ProjectDevicesSampler, EachEditIsOneNamedStepThatUndoesAndRedoesToEqualDocuments) { expectOneStep(kSamplerSteps); }

TEST(ProjectDevicesDrumRack, EachEditIsOneNamedStepThatUndoesAndRedoesToEqualDocuments) { expectOneStep(kPadSteps); }

// ---- Silent refusals --------------------------------------------------------------------

const QString kUnknown = id(model::Uuid::generate());
const QString kGarbage = QStringLiteral("not-an-id");

using SilentCase = std::pair<const char*, std::function<void(Song&)>>;

const std::vector<SilentCase> kSilentChain = {
    {"add to unknown track",
     [](Song& s) { EXPECT_TRUE(s.project().addDevice(kUnknown, "ostrel.delay", "").isEmpty()); }},
    {"add a module", [](Song& s) { EXPECT_TRUE(s.project().addDevice(s.bassId, "ostrel.mod.vco", "").isEmpty()); }},
    {"add an unknown type",
     [](Song& s) { EXPECT_TRUE(s.project().addDevice(s.bassId, "ostrel.Delay", "").isEmpty()); }},
    {"remove unknown device", [](Song& s) { s.project().removeDevice(s.bassId, kUnknown); }},
    {"remove a device of another track", [](Song& s) { s.project().removeDevice(s.audioId, s.eqId); }},
    {"remove with unparseable track", [](Song& s) { s.project().removeDevice(kGarbage, s.eqId); }},
    {"move the first to the front", [](Song& s) { s.project().moveDevice(s.bassId, s.eqId, 0); }},
    {"move the last past the end", [](Song& s) { s.project().moveDevice(s.bassId, s.reverbId, 7); }},
    {"move unknown device", [](Song& s) { s.project().moveDevice(s.bassId, kGarbage, 1); }},
    {"switch on a device that is on", [](Song& s) { s.project().setDeviceEnabled(s.bassId, s.delayId, true); }},
    {"bypass a bypassed device", [](Song& s) { s.project().setDeviceEnabled(s.bassId, s.reverbId, false); }},
    {"bypass unknown device", [](Song& s) { s.project().setDeviceEnabled(s.bassId, kUnknown, false); }},
    {"a knob the device has not", [](Song& s) { s.project().setDeviceParameter(s.bassId, s.eqId, "time_ms", 1.0); }},
    {"a knob of unknown device", [](Song& s) { s.project().setDeviceParameter(s.bassId, kUnknown, "low_freq", 1.0); }},
    // Regression: a click on a knob recorded a step that changed nothing.
    {"a knob at its default", [](Song& s) { s.project().setDeviceParameter(s.bassId, s.eqId, "low_freq", 80.0); }},
    {"a knob at the default the view shows",
     [](Song& s) { s.project().setDeviceParameter(s.bassId, s.eqId, "low_q", static_cast<double>(0.7f)); }},
    {"a knob at its stored value", [](Song& s) { s.project().setDeviceParameter(s.bassId, s.eqId, "low_gain", 6.0); }},
    // Regression: values that are no number arrived through the OSC door.
    {"a knob at no number", [](Song& s) { s.project().setDeviceParameter(s.bassId, s.eqId, "low_freq", kNaN); }},
    {"a knob at infinity", [](Song& s) { s.project().setDeviceParameter(s.bassId, s.eqId, "low_freq", kInf); }},
};

const std::vector<SilentCase> kSilentInstrument = {
    {"instrument of unknown track", [](Song& s) { s.project().setTrackInstrument(kUnknown, "Sampler"); }},
    {"instrument of an audio track", [](Song& s) { s.project().setTrackInstrument(s.audioId, "Sampler"); }},
    {"the current instrument", [](Song& s) { s.project().setTrackInstrument(s.drumsId, "Drum Rack"); }},
    {"no instrument on a bare track", [](Song& s) { s.project().setTrackInstrument(s.bareId, ""); }},
    {"cycle unknown track", [](Song& s) { s.project().cycleTrackInstrument(kGarbage); }},
    {"cycle an audio track", [](Song& s) { s.project().cycleTrackInstrument(s.audioId); }},
    {"FM knob on a modular instrument", [](Song& s) { s.project().setInstrumentParameter(s.leadId, "feedback", 0.5); }},
    {"FM knob on a Sampler", [](Song& s) { s.project().setInstrumentParameter(s.samplerId, "feedback", 0.5); }},
    {"FM knob on no instrument", [](Song& s) { s.project().setInstrumentParameter(s.bareId, "feedback", 0.5); }},
    {"FM knob on an audio track", [](Song& s) { s.project().setInstrumentParameter(s.audioId, "feedback", 0.5); }},
    {"FM knob of unknown track", [](Song& s) { s.project().setInstrumentParameter(kUnknown, "feedback", 0.5); }},
    {"unknown FM knob", [](Song& s) { s.project().setInstrumentParameter(s.bassId, "cutoff", 0.5); }},
    {"FM knob at the instrument's own value",
     [](Song& s) { s.project().setInstrumentParameter(s.bassId, "release_ms", 120.0); }},
    {"FM knob at its default", [](Song& s) { s.project().setInstrumentParameter(s.bassId, "tune_cents", 0.0); }},
    {"FM knob at no number", [](Song& s) { s.project().setInstrumentParameter(s.bassId, "feedback", kNaN); }},
};

const std::vector<SilentCase> kSilentSampler = {
    {"sample on a Drum Rack", [](Song& s) { s.project().setSamplerSample(s.drumsId, "kick.wav"); }},
    {"sample of unknown track", [](Song& s) { s.project().setSamplerSample(kUnknown, "kick.wav"); }},
    {"the same sample", [](Song& s) { s.project().setSamplerSample(s.samplerId, "kick.wav"); }},
    {"unknown Sampler knob", [](Song& s) { s.project().setSamplerParameter(s.samplerId, "cutoff", 1.0); }},
    {"Sampler knob on a bare track", [](Song& s) { s.project().setSamplerParameter(s.bareId, "gain", 0.5); }},
    {"loop off at 0.4", [](Song& s) { s.project().setSamplerParameter(s.samplerId, "loop", 0.4); }},
    {"root note that rounds to the current",
     [](Song& s) { s.project().setSamplerParameter(s.samplerId, "root_note", 60.4); }},
    {"gain at the current", [](Song& s) { s.project().setSamplerParameter(s.samplerId, "gain", 1.0); }},
    {"gain at no number", [](Song& s) { s.project().setSamplerParameter(s.samplerId, "gain", kNaN); }},
    {"release at infinity", [](Song& s) { s.project().setSamplerParameter(s.samplerId, "release_ms", -kInf); }},
};

const std::vector<SilentCase> kSilentPads = {
    {"pad above the rack", [](Song& s) { s.project().setPad(s.drumsId, 52, "kick.wav"); }},
    {"pad below the rack", [](Song& s) { s.project().setPad(s.drumsId, 35, "kick.wav"); }},
    {"pad on a Sampler", [](Song& s) { s.project().setPad(s.samplerId, 40, "kick.wav"); }},
    {"pad of unknown track", [](Song& s) { s.project().setPad(kGarbage, 40, "kick.wav"); }},
    // Regression: the same file set again recorded a step that changed nothing.
    {"the pad's own sound again", [](Song& s) { s.project().setPad(s.drumsId, 40, "kick.wav"); }},
    {"knob of a pad that is not there", [](Song& s) { s.project().setPadParameter(s.drumsId, 42, "gain", 0.5); }},
    {"unknown pad knob", [](Song& s) { s.project().setPadParameter(s.drumsId, 40, "sample", 0.5); }},
    {"pad knob at the current", [](Song& s) { s.project().setPadParameter(s.drumsId, 40, "release_ms", 80.0); }},
    {"pad knob at no number", [](Song& s) { s.project().setPadParameter(s.drumsId, 40, "gain", kNaN); }},
    {"pad knob on a Sampler", [](Song& s) { s.project().setPadParameter(s.samplerId, 40, "gain", 0.5); }},
    {"clear a pad that is not there", [](Song& s) { s.project().clearPad(s.drumsId, 42); }},
    {"clear on a Sampler", [](Song& s) { s.project().clearPad(s.samplerId, 40); }},
    {"clear on unknown track", [](Song& s) { s.project().clearPad(kUnknown, 40); }},
};

void expectSilence(const std::vector<SilentCase>& cases) {
    for (const auto& [label, edit] : cases) {
        SCOPED_TRACE(label);
        Song s;
        const model::Project before = s.doc();
        QSignalSpy messages(&s.rig.project, &ProjectController::messageChanged);
        QSignalSpy history(&s.rig.project, &ProjectController::historyChanged);
        edit(s);
        EXPECT_TRUE(s.doc() == before);
        EXPECT_FALSE(s.project().canUndo());
        EXPECT_EQ(messages.count(), 0);
        EXPECT_EQ(history.count(), 0);
    }
}

TEST(ProjectDevicesChain, UnknownIdsRefusedValuesAndNoOpsRecordNothingAndSayNothing) { expectSilence(kSilentChain); }

TEST(ProjectDevicesInstrument, UnknownIdsRefusedValuesAndNoOpsRecordNothingAndSayNothing) {
    expectSilence(kSilentInstrument);
}

TEST(ProjectDevicesSampler, UnknownIdsRefusedValuesAndNoOpsRecordNothingAndSayNothing) {
    expectSilence(kSilentSampler);
}

TEST(ProjectDevicesDrumRack, UnknownIdsRefusedValuesAndNoOpsRecordNothingAndSayNothing) { expectSilence(kSilentPads); }

// ---- Refusals that say why ----------------------------------------------------------------

struct ProblemCase {
    const char* label;
    std::function<void(Song&)> edit;
    QString message;
};

const std::vector<ProblemCase> kProblems = {
    // Regression: a patch of the user's own was refused without a word while the keyboard
    // went on playing it, so the track looked as if it had taken it.
    {"a patch of the user's own", [](Song& s) { s.project().setTrackInstrument(s.bareId, "My Patch"); },
     "My Patch cannot go on a track: tracks play the built-in instruments, the Sampler and the Drum Rack."},
    {"unreadable Sampler sound", [](Song& s) { s.project().setSamplerSample(s.samplerId, "broken.wav"); },
     "The sound file broken.wav could not be read: "},
    {"a path for the Sampler", [](Song& s) { s.project().setSamplerSample(s.samplerId, "../kick.wav"); },
     "../kick.wav is not a plain file name."},
    {"missing pad sound", [](Song& s) { s.project().setPad(s.drumsId, 44, "gone.wav"); },
     "The sound file gone.wav could not be read"},
};

TEST(ProjectDevicesProblems, UnusableSoundsAndTheUsersOwnPatchesSayWhyAndRecordNothing) {
    for (const ProblemCase& problem : kProblems) {
        SCOPED_TRACE(problem.label);
        Song s;
        const model::Project before = s.doc();
        QSignalSpy messages(&s.rig.project, &ProjectController::messageChanged);
        problem.edit(s);
        EXPECT_TRUE(s.project().message().startsWith(problem.message)) << s.project().message().toStdString();
        EXPECT_TRUE(s.project().problem());
        EXPECT_EQ(messages.count(), 1);
        EXPECT_TRUE(s.doc() == before);
        EXPECT_FALSE(s.project().canUndo());
    }
}

// ---- Knob drags and the instrument cycle --------------------------------------------------

TEST(ProjectDevicesChain, TenMovesOfOneKnobAreOneStep) {
    Song s;
    const model::Project before = s.doc();
    for (int i = 1; i <= 10; ++i) {
        s.project().setDeviceParameter(s.bassId, s.delayId, "mix", i / 20.0);
    }
    EXPECT_EQ(s.bass().devices[1].parameters.at("mix"), 0.5);
    s.project().undo();
    EXPECT_TRUE(s.doc() == before) << "the knob had no value and has none again";
    EXPECT_FALSE(s.project().canUndo());
}

TEST(ProjectDevicesChain, KnobsOfTwoDevicesAreTwoSteps) {
    Song s;
    s.project().setDeviceParameter(s.bassId, s.eqId, "low_gain", 3.0);
    s.project().setDeviceParameter(s.bassId, s.delayId, "mix", 0.5);
    s.project().undo();
    EXPECT_EQ(s.bass().devices[0].parameters.at("low_gain"), 3.0);
    EXPECT_TRUE(s.bass().devices[1].parameters.empty());
}

TEST(ProjectDevicesInstrument, TheCycleRunsThroughTheBuiltInsAndBackToNone) {
    Song s;
    const std::vector<engine::Patch> builtins = engine::builtinPatches();
    std::vector<std::string> seen;
    for (std::size_t i = 0; i <= builtins.size(); ++i) {
        s.project().cycleTrackInstrument(s.bareId);
        seen.push_back(s.at(Bare).instrumentPatch);
    }
    ASSERT_EQ(seen.size(), builtins.size() + 1);
    for (std::size_t i = 0; i < builtins.size(); ++i) {
        EXPECT_EQ(seen[i], builtins[i].name);
    }
    EXPECT_EQ(seen.back(), "") << "after the last built-in instrument comes none";
}

TEST(ProjectDevicesInstrument, AnFmKnobKeepsTheOtherSettingsAndOnlyTheChangedKnobs) {
    Song s;
    s.project().setInstrumentParameter(s.bassId, "feedback", 0.5);
    s.project().setInstrumentParameter(s.bassId, "gain", 1.5);
    EXPECT_EQ(s.config(Bass), (json{{"params", {{"feedback", 0.5}, {"gain", 1.5}}}}));
    s.project().setInstrumentParameter(s.bassId, "feedback", 0.5);
    s.project().undo();
    EXPECT_EQ(s.config(Bass), (json{{"params", {{"feedback", 0.5}}}})) << "each settings edit is a step of its own";
}

TEST(ProjectDevicesInstrument, AUsersPatchLeavesTheTracksInstrumentAlone) {
    Song s;
    s.project().setTrackInstrument(s.bassId, "My Patch");
    EXPECT_EQ(s.bass().instrumentPatch, "FM Bass");
    EXPECT_TRUE(s.project().problem());
    s.project().setTrackInstrument(s.bassId, "FM Bell");
    EXPECT_EQ(s.bass().instrumentPatch, "FM Bell");
}

// ---- Pads ------------------------------------------------------------------------------

TEST(ProjectDevicesDrumRack, AnEmptyRackTakesOnePadWithItsDefaults) {
    Song s;
    s.project().setTrackInstrument(s.bareId, "Drum Rack");
    s.project().setPad(s.bareId, 40, "kick.wav");
    EXPECT_EQ(s.config(Bare), (json{{"pads", {pad(40, "kick.wav")}}}));
    s.project().setPadParameter(s.bareId, 40, "gain", 1.5);
    s.project().setPad(s.bareId, 40, "snare.wav");
    json expected = pad(40, "snare.wav");
    expected["gain"] = 1.5;
    EXPECT_EQ(s.config(Bare), (json{{"pads", {expected}}})) << "a new sound keeps the pad's gain";
}

TEST(ProjectDevicesDrumRack, ARackWithoutPadsOrSettingsGetsThem) {
    Song s;
    model::Track odd = track("Odd", "Drum Rack", json(nullptr));
    model::Track listless = track("Listless", "Drum Rack", json{{"pads", "none"}, {"kit", "mine"}});
    const QString oddId = id(odd.id);
    const QString listlessId = id(listless.id);
    s.rig.writeProject("odd.ostproj", model::makeProject(model::Uuid::generate(), "Odd", 120.0, {odd, listless}, {}));
    ASSERT_TRUE(s.project().openProject("odd.ostproj"));
    s.project().setPad(oddId, 36, "kick.wav");
    s.project().setPad(listlessId, 36, "kick.wav");
    EXPECT_EQ(s.config(0), (json{{"pads", {pad(36, "kick.wav")}}}));
    EXPECT_EQ(s.config(1), (json{{"kit", "mine"}, {"pads", {pad(36, "kick.wav")}}})) << "other keys stay";
}

TEST(ProjectDevicesDrumRack, AnyNoteCanBeClearedAndOtherElementsStay) {
    Song s;
    model::Track odd = track("Odd", "Drum Rack", json{{"pads", {pad(90, "kick.wav"), "loose", json{{"note", 90.0}}}}});
    const QString oddId = id(odd.id);
    s.rig.writeProject("odd.ostproj", model::makeProject(model::Uuid::generate(), "Odd", 120.0, {odd}, {}));
    ASSERT_TRUE(s.project().openProject("odd.ostproj"));
    s.project().clearPad(oddId, 90);
    EXPECT_EQ(s.config(0), (json{{"pads", {"loose"}}}));
}

// ---- What plays follows ---------------------------------------------------------------------

std::vector<float> expectedStart(const ProjectRig& rig, const model::Project& song, std::uint32_t frames) {
    engine::RenderSettings settings;
    settings.samplesFolder = rig.samples();
    engine::RenderOutput output;
    std::string error;
    EXPECT_TRUE(engine::renderProject(song, settings, &output, &error)) << error;
    output.audio.samples.resize(std::size_t{frames} * 2, 0.0f);
    return output.audio.samples;
}

TEST(ProjectDevicesPlayback, EffectAndInstrumentEditsWhilePlayingAreHeard) {
    constexpr std::uint32_t kFrames = 2048;
    ProjectRig rig;
    model::Track keys = track("Keys", "FM E-Piano");
    model::Clip clip;
    clip.id = model::Uuid::generate();
    clip.lengthBeats = 2.0;
    model::Note note;
    note.id = model::Uuid::generate();
    note.pitch = 60;
    note.startBeats = 0.0;
    note.lengthBeats = 1.0;
    clip.notes.push_back(note);
    keys.clips.push_back(clip);
    const QString keysId = id(keys.id);
    rig.writeProject("keys.ostproj", model::makeProject(model::Uuid::generate(), "Keys", 120.0, {keys}, {}));
    ASSERT_TRUE(rig.project.openProject("keys.ostproj"));
    rig.transport.setMetronome(false);

    const std::vector<std::function<void()>> edits = {
        [&] { rig.project.setInstrumentParameter(keysId, "gain", 0.25); },
        [&] { rig.project.setTrackInstrument(keysId, "FM Bell"); },
        [&] { rig.project.addDevice(keysId, "ostrel.eq", "Telephone"); },
        [&] {
            rig.project.setDeviceParameter(keysId, id(rig.project.document().tracks()[0].devices[0].id), "mid1_gain",
                                           -12.0);
        },
        [&] { rig.project.setDeviceEnabled(keysId, id(rig.project.document().tracks()[0].devices[0].id), false); },
    };
    for (std::size_t i = 0; i < edits.size(); ++i) {
        SCOPED_TRACE(i);
        rig.transport.play();
        const std::vector<float> before = rig.pull(kFrames);
        rig.transport.stop();
        rig.transport.play();  // back to the start of the song
        edits[i]();
        const std::vector<float> after = rig.pull(kFrames);
        EXPECT_EQ(after, expectedStart(rig, rig.project.document(), kFrames));
        EXPECT_NE(after, before);
        rig.transport.stop();
    }
}

}  // namespace
