#include "app/live/InstrumentController.h"

#include "LiveTestSupport.h"
#include "devices/instruments/BuiltinInstruments.h"
#include "devices/patches/PatchFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include <filesystem>
#include <span>
#include <utility>

namespace ostrel::app {
namespace {

engine::Patch builtin(const std::string& name) {
    for (const engine::Patch& patch : engine::builtinPatches()) {
        if (patch.name == name) return patch;
    }
    throw std::runtime_error("no built-in patch " + name);
}

QString builtinNameRefusal(const QString& name) {
    return QStringLiteral("\"%1\" is the name of a built-in patch. Choose another name.").arg(name);
}

class InstrumentPatches : public ::testing::Test {
protected:
    void SetUp() override { rig.startInstrument(); }
    InstrumentController& instrument() { return *rig.instrument; }

    // A file in the patches folder holding a copy of built-in `from` named `name`.
    void writePatch(const std::string& file, const std::string& name, const std::string& from = "Soft Pluck") {
        std::filesystem::create_directories(rig.dir / "patches");
        engine::Patch patch = builtin(from);
        patch.name = name;
        std::string error;
        ASSERT_TRUE(engine::savePatchFile(rig.dir / "patches" / file, patch, &error)) << error;
    }
    void openFolder() { instrument().setPatchesDirectory(rig.patchesFolder()); }

    test::LiveRig rig;
};

TEST_F(InstrumentPatches, TheListOffersBuiltInsThenTheSampleInstrumentsWithTheirCategories) {
    const QStringList names = instrument().patchNames();
    ASSERT_EQ(names.size(), static_cast<qsizetype>(engine::builtinPatches().size()) + 2);
    EXPECT_EQ(names.front(), "Modular Lead");
    EXPECT_EQ(names.mid(names.size() - 2), (QStringList{"Sampler", "Drum Rack"}));
    const QVariantMap categories = instrument().patchCategories();
    EXPECT_EQ(categories.value("Sampler").toString(), "sampler");
    EXPECT_EQ(categories.value("Drum Rack").toString(), "drums");
    EXPECT_EQ(categories.value("Sub Bass").toString(), "bass");
    EXPECT_EQ(instrument().patchName(), "Modular Lead");
}

TEST_F(InstrumentPatches, SelectingABuiltInInstallsItRemembersItAndResetsTheKnobsAndUnknownNamesChangeNothing) {
    instrument().setBrightness(0.9);
    QSignalSpy patch(&instrument(), &InstrumentController::patchChanged);
    instrument().selectPatch("No Such Patch");
    instrument().selectPatch("");
    EXPECT_EQ(patch.count(), 0);
    EXPECT_EQ(instrument().patchName(), "Modular Lead");

    instrument().selectPatch("FM Bell");
    EXPECT_EQ(instrument().patchName(), "FM Bell");
    EXPECT_EQ(instrument().patchCategory(), "fm");
    EXPECT_EQ(patch.count(), 1);
    EXPECT_DOUBLE_EQ(instrument().brightness(), 0.5);
    EXPECT_EQ(rig.setting("instrument.patch"), "FM Bell");
    EXPECT_TRUE(rig.recordedStep("instrument: selected patch FM Bell"));
    EXPECT_TRUE(instrument().padLabels().isEmpty());
}

TEST_F(InstrumentPatches, TheSampleInstrumentsAndTheDrumKitLabelTheirPads) {
    instrument().selectPatch("Drum Rack");
    EXPECT_EQ(instrument().patchCategory(), "drums");
    const QVariantMap rack = instrument().padLabels();
    ASSERT_EQ(rack.size(), 16);
    EXPECT_EQ(rack.firstKey(), "36");
    EXPECT_EQ(rack.lastKey(), "51");
    EXPECT_EQ(rack.value("40").toString(), "");
    instrument().selectPatch("Modular Drums");
    const QVariantMap kit = instrument().padLabels();
    EXPECT_EQ(kit.size(), 8);
    EXPECT_EQ(kit.value("36").toString(), "Kick");
    EXPECT_EQ(kit.value("42").toString(), "Closed hat");
    EXPECT_EQ(kit.value("49").toString(), "Crash");
    instrument().selectPatch("Sampler");
    EXPECT_EQ(instrument().patchCategory(), "sampler");
    EXPECT_TRUE(instrument().padLabels().isEmpty());
}

TEST_F(InstrumentPatches, ChangingThePatchWhileTheCardRunsRebuildsAtOnceAndLetsGoOfHeldKeys) {
    instrument().keyDown(0);
    QSignalSpy off(&instrument(), &InstrumentController::noteOff);
    instrument().selectPatch("Glass Pad");
    EXPECT_EQ(off.count(), 1);
    EXPECT_TRUE(instrument().pressedKeys().isEmpty());
    EXPECT_TRUE(instrument().liveInstrument().isReady());
}

TEST_F(InstrumentPatches, SavedUserPatchIsListedSelectedAndComesBackAtTheNextStart) {
    openFolder();
    instrument().selectPatch("Acid Saw");
    ASSERT_TRUE(instrument().saveCurrentPatchAs("  My Acid  "));
    const QString path = rig.patchesFolder() + "/My Acid.ostpatch";
    EXPECT_EQ(instrument().patchFilesMessage(), "Saved " + QDir::toNativeSeparators(path));
    EXPECT_FALSE(instrument().patchFilesProblem());
    EXPECT_EQ(instrument().userPatchNames(), QStringList{"My Acid"});
    EXPECT_EQ(instrument().patchNames().back(), "My Acid");
    EXPECT_EQ(instrument().patchName(), "My Acid");
    EXPECT_EQ(rig.setting("instrument.patch"), "My Acid");

    engine::Patch saved;
    std::string error;
    ASSERT_TRUE(engine::loadPatchFile(rig.dir / "patches" / "My Acid.ostpatch", saved, &error, nullptr)) << error;
    engine::Patch expected = builtin("Acid Saw");
    expected.name = "My Acid";
    EXPECT_EQ(saved, expected);

    rig.instrument.reset();
    rig.startInstrument();
    EXPECT_EQ(instrument().patchName(), "Modular Lead") << "the user's patches are not known before the folder";
    openFolder();
    EXPECT_EQ(instrument().patchName(), "My Acid");
}

TEST_F(InstrumentPatches, NameRulesRefuseWithTheirMessages) {
    openFolder();
    const QString badName = "Use 1 to 40 letters, digits, spaces, - or _ for the name.";
    const std::pair<QString, QString> cases[] = {
        {"", badName}, {"   ", badName}, {QString(41, QLatin1Char('a')), badName}, {"-dash", badName},
        {"_under", badName}, {"Bad/Slash", badName}, {"Tab\tName", badName},
        {"modular LEAD", builtinNameRefusal("modular LEAD")}, {"fm bell", builtinNameRefusal("fm bell")}};
    for (const auto& [name, message] : cases) {
        QSignalSpy files(&instrument(), &InstrumentController::patchFilesMessageChanged);
        EXPECT_FALSE(instrument().saveCurrentPatchAs(name)) << name.toStdString();
        EXPECT_EQ(instrument().patchFilesMessage(), message) << name.toStdString();
        EXPECT_TRUE(instrument().patchFilesProblem());
        EXPECT_EQ(files.count(), 1) << "every outcome is reported, also an unchanged text";
    }
    EXPECT_FALSE(QDir(rig.patchesFolder()).exists()) << "nothing was written";
    EXPECT_TRUE(instrument().saveCurrentPatchAs(QString(40, QLatin1Char('b'))));
    EXPECT_TRUE(instrument().saveCurrentPatchAs("7 up_and-down"));
}

// Regression: a user patch named like a sample instrument hid the real one.
TEST_F(InstrumentPatches, SampleInstrumentNamesAreRefusedWhenSavingAndSkippedWhenListingInAnyCase) {
    writePatch("a.ostpatch", "Sampler");
    writePatch("b.ostpatch", "drum RACK");
    writePatch("c.ostpatch", "Fine");
    openFolder();
    EXPECT_EQ(instrument().userPatchNames(), QStringList{"Fine"});
    EXPECT_EQ(instrument().patchFilesMessage(),
              "Some patch files could not be used: a.ostpatch: the name \"Sampler\" is already used; "
              "b.ostpatch: the name \"drum RACK\" is already used");
    for (const QString name : {"sampler", "DRUM RACK"}) {
        EXPECT_FALSE(instrument().saveCurrentPatchAs(name));
        EXPECT_EQ(instrument().patchFilesMessage(), builtinNameRefusal(name));
        EXPECT_TRUE(instrument().patchFilesProblem());
    }
    instrument().selectPatch("Sampler");
    EXPECT_EQ(instrument().patchCategory(), "sampler") << "the real sampler plays";
}

TEST_F(InstrumentPatches, WithoutAFolderNothingIsSaved) {
    EXPECT_FALSE(instrument().saveCurrentPatchAs("Mine"));
    EXPECT_EQ(instrument().patchFilesMessage(), "Ostrel could not create the patches folder (no folder is set for it).");
    EXPECT_TRUE(instrument().patchFilesProblem());

    test::writeFile(rig.dir / "blocker", "a file where the folder should be");
    instrument().setPatchesDirectory(test::qPath(rig.dir / "blocker" / "patches"));
    EXPECT_FALSE(instrument().saveCurrentPatchAs("Mine"));
    EXPECT_EQ(instrument().patchFilesMessage().toStdString(),
              "Ostrel could not create the patches folder (cannot create folder " + (rig.dir / "blocker" / "patches").string() +
                  ": Not a directory).");
}

TEST_F(InstrumentPatches, AFolderListsItsGoodFilesSortedIgnoringCaseAndANamelessOneUnderItsFileName) {
    QSignalSpy files(&instrument(), &InstrumentController::patchFilesMessageChanged);
    openFolder();  // missing: no patches, nothing to say
    std::filesystem::create_directories(rig.dir / "patches");
    instrument().refreshPatches();  // empty: the same
    EXPECT_EQ(files.count(), 2);
    EXPECT_EQ(instrument().patchFilesMessage(), "");
    EXPECT_FALSE(instrument().patchFilesProblem());
    EXPECT_TRUE(instrument().userPatchNames().isEmpty());

    writePatch("one.ostpatch", "beta");
    writePatch("two.ostpatch", "Alpha");
    writePatch("three.ostpatch", "gamma", "FM Organ");
    writePatch("Night Drive.v2.ostpatch", "");
    writePatch("notes.txt", "Not a patch file");
    instrument().refreshPatches();
    EXPECT_EQ(instrument().userPatchNames(), (QStringList{"Alpha", "beta", "gamma", "Night Drive.v2"}));
    EXPECT_EQ(instrument().patchFilesMessage(), "4 of your own patch(es) loaded.");
    EXPECT_FALSE(instrument().patchFilesProblem());
    EXPECT_EQ(instrument().patchCategories().value("gamma").toString(), "fm");
    instrument().selectPatch("gamma");
    EXPECT_EQ(instrument().patchName(), "gamma");
}

TEST_F(InstrumentPatches, FilesThatCannotBeReadReuseANameOrDoNotBuildAreSkippedWithTheirReasons) {
    writePatch("a.ostpatch", "Twice");
    writePatch("b.ostpatch", "Twice");
    writePatch("c.ostpatch", "Modular Lead");
    writePatch("d.ostpatch", "modular lead");  // a built-in name in another case is the user's own
    test::writeFile(rig.dir / "patches" / "e.ostpatch", "{ not json");
    engine::Patch broken = builtin("Soft Pluck");
    broken.name = "Broken";
    broken.connections.push_back({99, 0, 0});  // a cable from a module that does not exist
    std::string error;
    ASSERT_TRUE(engine::savePatchFile(rig.dir / "patches" / "f.ostpatch", broken, &error)) << error;

    openFolder();
    EXPECT_EQ(instrument().userPatchNames(), (QStringList{"modular lead", "Twice"}));
    EXPECT_TRUE(instrument().patchFilesProblem());
    const std::string message = instrument().patchFilesMessage().toStdString();
    EXPECT_EQ(message.rfind("Some patch files could not be used: b.ostpatch: the name \"Twice\" is already used; "
                            "c.ostpatch: the name \"Modular Lead\" is already used; e.ostpatch: ",
                            0),
              0u)
        << message;
    EXPECT_NE(message.find("; f.ostpatch: "), std::string::npos) << message;
    EXPECT_EQ(rig.logged(core::LogLevel::WARN, "instrument", "patch file skipped: "), 4);
}

// Regression: a patch without an "output" was refused as "a cable refers to a module that
// does not exist".
TEST_F(InstrumentPatches, APatchWithoutAnOutputIsRefusedForThat) {
    engine::Patch silent = builtin("Soft Pluck");
    silent.name = "Silent";
    silent.output = -1;
    std::string error;
    ASSERT_TRUE(engine::savePatchFile(rig.dir / "patches" / "silent.ostpatch", silent, &error)) << error;
    openFolder();
    EXPECT_TRUE(instrument().userPatchNames().isEmpty());
    EXPECT_EQ(instrument().patchFilesMessage(),
              "Some patch files could not be used: silent.ostpatch: the patch has no output (\"output\" must be the "
              "id of the module that sounds)");
}

// Regression: a file whose name is not UTF-8 vanished from the list without a word.
TEST_F(InstrumentPatches, AFileNameThatIsNotUtf8IsWarnedAboutOnceAcrossRefreshes) {
    writePatch("good.ostpatch", "Good");
    engine::Patch patch = builtin("Soft Pluck");
    patch.name = "Caf";
    std::string error;
    ASSERT_TRUE(engine::savePatchFile(rig.dir / "patches" / "caf\xE9.ostpatch", patch, &error)) << error;
    openFolder();
    instrument().refreshPatches();
    EXPECT_EQ(instrument().userPatchNames(), (QStringList{"Good"}));
    EXPECT_EQ(rig.logged(core::LogLevel::WARN, "instrument", "the patch file caf\uFFFD.ostpatch in "), 1);
}

TEST_F(InstrumentPatches, RemovingAUserPatchDeletesItsFileAndFallsBackOnlyWhenItWasPlaying) {
    writePatch("Keep.ostpatch", "Keep");
    writePatch("Gone.ostpatch", "Gone");
    writePatch("Lost.ostpatch", "Lost");
    openFolder();
    instrument().selectPatch("Gone");
    ASSERT_TRUE(instrument().removeUserPatch("Gone"));
    EXPECT_FALSE(QFile::exists(rig.patchesFolder() + "/Gone.ostpatch"));
    EXPECT_EQ(instrument().userPatchNames(), (QStringList{"Keep", "Lost"}));
    EXPECT_EQ(instrument().patchName(), "Modular Lead");
    EXPECT_EQ(instrument().patchFilesMessage(), "Removed the patch \u201CGone\u201D.");
    EXPECT_FALSE(instrument().patchFilesProblem());

    instrument().selectPatch("FM Bass");
    ASSERT_TRUE(instrument().removeUserPatch("Keep"));
    EXPECT_EQ(instrument().patchName(), "FM Bass") << "a patch that was not playing leaves the sound alone";

    std::filesystem::remove(rig.dir / "patches" / "Lost.ostpatch");
    EXPECT_TRUE(instrument().removeUserPatch("Lost")) << "a file already gone is removed quietly";
    EXPECT_TRUE(instrument().userPatchNames().isEmpty());

    for (const QString name : {"Modular Lead", "Sampler", "Nothing"}) {
        EXPECT_FALSE(instrument().removeUserPatch(name));
        EXPECT_EQ(instrument().patchFilesMessage(), "Only your own patches can be removed.");
        EXPECT_TRUE(instrument().patchFilesProblem());
    }
}

// Regression: a file that could not be deleted was reported as removed, and came back.
TEST_F(InstrumentPatches, AFileThatCannotBeDeletedIsReportedAndStaysListed) {
    writePatch("Stuck.ostpatch", "Stuck");
    openFolder();
    instrument().selectPatch("Stuck");
    // A folder in the file's place cannot be removed as a file, whoever runs the test.
    std::filesystem::remove(rig.dir / "patches" / "Stuck.ostpatch");
    std::filesystem::create_directories(rig.dir / "patches" / "Stuck.ostpatch" / "inside");
    EXPECT_FALSE(instrument().removeUserPatch("Stuck"));
    EXPECT_EQ(instrument().patchFilesMessage(), "Ostrel could not remove the patch \u201CStuck\u201D (Is a directory).");
    EXPECT_TRUE(instrument().patchFilesProblem());
    EXPECT_EQ(instrument().userPatchNames(), QStringList{"Stuck"});
    EXPECT_EQ(instrument().patchName(), "Stuck");
}

TEST_F(InstrumentPatches, LevelAndEverySoundKnobStayBetweenZeroAndOneAndResetCentresTheSound) {
    using Setter = void (InstrumentController::*)(double);
    using Getter = double (InstrumentController::*)() const;
    const std::pair<Setter, Getter> knobs[] = {{&InstrumentController::setLevel, &InstrumentController::level},
                                               {&InstrumentController::setBrightness, &InstrumentController::brightness},
                                               {&InstrumentController::setResonance, &InstrumentController::resonance},
                                               {&InstrumentController::setAttack, &InstrumentController::attack},
                                               {&InstrumentController::setRelease, &InstrumentController::release}};
    for (const auto& [set, get] : knobs) {
        for (const auto& [in, out] : {std::pair{2.0, 1.0}, {-1.0, 0.0}, {0.25, 0.25}}) {
            (instrument().*set)(in);
            EXPECT_DOUBLE_EQ((instrument().*get)(), out);
        }
    }
    EXPECT_DOUBLE_EQ(rig.settings->value("instrument.level").toDouble(), 0.7) << "the level is saved on commit";
    instrument().commitLevel();
    EXPECT_DOUBLE_EQ(rig.settings->value("instrument.level").toDouble(), 0.25);

    QSignalSpy sound(&instrument(), &InstrumentController::soundChanged);
    instrument().resetSound();
    EXPECT_EQ(sound.count(), 1);
    for (const auto& knob : std::span(knobs).subspan(1)) EXPECT_DOUBLE_EQ((instrument().*knob.second)(), 0.5);
}

TEST_F(InstrumentPatches, ChordsSwitchPolyphonyAndReleaseHeldNotesAndBothSwitchesAreRemembered) {
    instrument().keyDown(0);
    instrument().handleMidiMessage(test::midiEvent(engine::EventType::NoteOn, 50, 80));
    QSignalSpy chords(&instrument(), &InstrumentController::chordsChanged);
    QSignalSpy off(&instrument(), &InstrumentController::noteOff);
    EXPECT_TRUE(instrument().chords());
    instrument().setChords(false);
    instrument().setChords(false);
    EXPECT_EQ(chords.count(), 1) << "no change, no signal";
    EXPECT_EQ(instrument().liveInstrument().polyphony(), 1);
    EXPECT_EQ(off.count(), 2) << "held keys and MIDI notes both end";
    EXPECT_TRUE(instrument().activeNotes().isEmpty());
    EXPECT_FALSE(rig.settings->value("instrument.chords").toBool());
    EXPECT_TRUE(rig.recordedStep("instrument: chords off (1 voice)"));
    EXPECT_TRUE(instrument().liveInstrument().isReady()) << "rebuilt at once on the running card";
    instrument().setChords(true);
    EXPECT_EQ(instrument().liveInstrument().polyphony(), 8);
    EXPECT_TRUE(rig.recordedStep("instrument: chords on (8 voices)"));

    QSignalSpy effects(&instrument(), &InstrumentController::effectsChanged);
    instrument().setEffects(true);
    instrument().setEffects(true);
    EXPECT_EQ(effects.count(), 1) << "no change, no signal";
    EXPECT_TRUE(rig.settings->value("instrument.effects").toBool());
    EXPECT_TRUE(rig.recordedStep("instrument: echo and room on"));
    instrument().setEffects(false);
    EXPECT_TRUE(rig.recordedStep("instrument: echo and room off"));
}

TEST(InstrumentPatchSettings, TheSavedSwitchesLevelAndPatchApplyAtConstruction) {
    test::LiveRig rig;
    rig.preset("instrument.chords", false);
    rig.preset("instrument.effects", true);
    rig.preset("instrument.level", 0.3);
    rig.preset("instrument.patch", std::string("FM Brass"));
    rig.startInstrument();
    EXPECT_FALSE(rig.instrument->chords());
    EXPECT_TRUE(rig.instrument->effects());
    EXPECT_NEAR(rig.instrument->level(), 0.3, 1e-6);
    EXPECT_EQ(rig.instrument->patchName(), "FM Brass");
    EXPECT_FALSE(rig.recordedStep("instrument: selected patch FM Brass")) << "applied without a step";
}

TEST(InstrumentPatchSettings, WithoutSettingsTheDefaultsPlayAndNothingIsWritten) {
    test::LiveRig rig;
    rig.startInstrument(nullptr);
    InstrumentController& instrument = *rig.instrument;
    EXPECT_TRUE(instrument.chords());
    EXPECT_FALSE(instrument.effects());
    EXPECT_NEAR(instrument.level(), 0.7, 1e-6);
    instrument.selectPatch("FM Pad");
    instrument.setChords(false);
    instrument.commitLevel();
    instrument.learnControl("volume");
    instrument.handleMidiMessage(test::controlChange(20, 0));
    EXPECT_EQ(instrument.patchName(), "FM Pad");
    EXPECT_EQ(instrument.controllerMap().value("volume").toInt(), 20);
    EXPECT_FALSE(QFile::exists(rig.settingsFile())) << "no setting was saved";
}

using TrackInstrument = InstrumentPatches;

TEST_F(TrackInstrument, APlainBuiltInTrackSelectsItsPatchAndASampleTrackBuildsFromTheDefaults) {
    instrument().useTrackInstrument("Square Bass", "{}", "");
    EXPECT_EQ(instrument().patchName(), "Square Bass");
    EXPECT_EQ(rig.setting("instrument.patch"), "Square Bass");
    QSignalSpy patch(&instrument(), &InstrumentController::patchChanged);
    instrument().useTrackInstrument("Square Bass", "not json", "");
    instrument().useTrackInstrument("", "{}", "");
    instrument().useTrackInstrument("Mystery", "{}", "");
    EXPECT_EQ(patch.count(), 0);
    EXPECT_EQ(instrument().patchName(), "Square Bass");

    instrument().useTrackInstrument("Sampler", "", "");  // a sample track builds from the defaults
    EXPECT_EQ(instrument().patchCategory(), "sampler");
    EXPECT_EQ(rig.setting("instrument.patch"), "Square Bass");
    instrument().useTrackInstrument("Drum Rack", "[1,2]", "");
    EXPECT_EQ(instrument().padLabels().size(), 16);
}

// Regression: only the names were compared, so a configured FM track's knobs kept playing
// when another track with the plain instrument of the same name was chosen.
TEST_F(TrackInstrument, AConfiguredFmTrackPlaysItsOwnKnobsAndAPlainOneAfterItPlaysThePlainPatch) {
    instrument().useTrackInstrument("FM Bell", R"({"params":{"feedback":0.9}})", "");
    EXPECT_EQ(instrument().patchName(), "FM Bell");
    EXPECT_NE(instrument().liveInstrument().patch(), builtin("FM Bell"));
    EXPECT_EQ(rig.setting("instrument.patch"), "Modular Lead") << "a configured track leaves the setting alone";
    EXPECT_TRUE(rig.recordedStep("instrument: playing the track instrument FM Bell"));

    instrument().useTrackInstrument("FM Bell", "{}", "");
    EXPECT_EQ(instrument().liveInstrument().patch(), builtin("FM Bell"));
    EXPECT_EQ(rig.setting("instrument.patch"), "FM Bell");
    QSignalSpy patch(&instrument(), &InstrumentController::patchChanged);
    instrument().useTrackInstrument("FM Bell", R"({"params":{}})", "");
    EXPECT_EQ(patch.count(), 0) << "the plain patch already plays";
}

// Regression: a pad's note went from a double to an int unchecked.
TEST_F(TrackInstrument, DrumRackPadLabelsSkipNotesThatArePlayedByNoPad) {
    instrument().useTrackInstrument(
        "Drum Rack",
        R"({"pads":[{"note":36,"sample":"kick.wav"}, {"note":38.7,"sample":"dir/snare.take2.wav"},
                    {"note":60,"sample":"high.wav"}, {"note":-1,"sample":"below.wav"}, {"note":128,"sample":"above.wav"},
                    {"note":1e300,"sample":"huge.wav"}, {"note":-1e300,"sample":"tiny.wav"},
                    {"note":"40","sample":"text.wav"}, {"note":41}, "not a pad"]})",
        test::qPath(rig.dir.path()));
    const QVariantMap labels = instrument().padLabels();
    EXPECT_EQ(labels.size(), 17) << "16 pads and note 60";
    EXPECT_EQ(labels.value("36").toString(), "kick");
    EXPECT_EQ(labels.value("38").toString(), "snare.take2");
    EXPECT_EQ(labels.value("60").toString(), "high");
    EXPECT_EQ(labels.value("40").toString(), "");
    EXPECT_EQ(labels.value("41").toString(), "");
    EXPECT_FALSE(labels.contains("-1"));
    EXPECT_FALSE(labels.contains("128"));
}

}  // namespace
}  // namespace ostrel::app
