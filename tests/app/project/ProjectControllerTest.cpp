#include "app/project/ProjectController.h"

#include "ProjectTestSupport.h"
#include "model/file/ProjectFile.h"

#include <QDir>
#include <QMetaMethod>
#include <QMetaObject>
#include <QMetaProperty>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <fstream>

using namespace ostrel;
using namespace ostrel::app;
using namespace ostrel::test;

namespace {

model::Project songNamed(const std::string& name, double tempo = 100.0) {
    return model::makeProject(model::Uuid::generate(), name, tempo, {}, model::JsonValue{});
}

model::Project readBack(const std::filesystem::path& path) {
    model::Project song;
    std::string error;
    EXPECT_TRUE(model::loadProjectFile(path, song, &error, nullptr)) << error;
    return song;
}

// A clock the test moves by hand, for the unsaved-changes guard.
struct HandClock {
    std::shared_ptr<std::int64_t> ms = std::make_shared<std::int64_t>(1000);
    ProjectControllerHooks hooks() const {
        return {.render = {}, .playback = {}, .clock = [ms = ms] { return *ms; }};
    }
};

// ---- The QML interface --------------------------------------------------------------------

TEST(ProjectInterface, SignalsMethodsAndPropertiesAreNumberedInTheirFixedOrder) {
    const QMetaObject& meta = ProjectController::staticMetaObject;
    const QStringList methods = {
        "projectChanged", "historyChanged", "fileChanged", "projectFilesChanged", "samplesChanged", "messageChanged",
        "recordingChanged", "refreshSamples", "openSamplesFolder", "startRecording", "stopRecording", "recordNote",
        "recordNoteOff", "trackInstrument", "clipNotes", "addNote", "removeNote", "editNote", "effectCatalogue",
        "deviceKnobs", "addDevice", "removeDevice", "setDeviceEnabled", "moveDevice", "setDeviceParameter",
        "addEmptyClip", "moveClip", "resizeClip", "splitClip", "removeClip", "duplicateClip", "quantizeClip",
        "addTrack", "addAudioTrack", "trackKind", "addAudioClip", "renameTrack", "removeTrack", "renameProject",
        "setTempo", "setTrackInstrument", "cycleTrackInstrument", "setInstrumentParameter", "dropSample",
        "setSamplerSample", "setSamplerParameter", "setPad", "clearPad", "setPadParameter", "setTrackMuted",
        "setTrackSolo", "setTrackVolume", "addPattern", "renderToWav", "undo", "redo", "newProject", "save",
        "openProject", "refreshProjects", "openProjectsFolder", "track", "trackAt", "clipNoteList"};
    ASSERT_EQ(meta.methodCount() - meta.methodOffset(), methods.size());
    for (int i = 0; i < methods.size(); ++i) {
        const QMetaMethod method = meta.method(meta.methodOffset() + i);
        EXPECT_EQ(QString::fromLatin1(method.name()), methods[i]) << "index " << i;
        EXPECT_EQ(method.methodType(), i < 7 ? QMetaMethod::Signal : QMetaMethod::Method) << "index " << i;
    }
    EXPECT_EQ(QString::fromLatin1(meta.method(meta.methodOffset() + 14).methodSignature()),
              "clipNotes(QString,QString)");
    EXPECT_EQ(QString::fromLatin1(meta.method(meta.methodOffset() + 15).methodSignature()),
              "addNote(QString,QString,int,int,double,double)");

    const QStringList properties = {"name",     "tempo",           "tracks",         "lengthBeats", "canUndo",
                                    "canRedo",  "undoText",        "redoText",       "dirty",       "filePath",
                                    "projectsDirectory", "exportsDirectory", "projectFiles", "sampleFiles",
                                    "samplesDirectory",  "message",  "problem",        "recording",
                                    "trackRevisions"};
    ASSERT_EQ(meta.propertyCount() - meta.propertyOffset(), properties.size());
    for (int i = 0; i < properties.size(); ++i) {
        const QMetaProperty property = meta.property(meta.propertyOffset() + i);
        EXPECT_EQ(QString::fromLatin1(property.name()), properties[i]);
        EXPECT_FALSE(property.isWritable()) << properties[i].toStdString();
        EXPECT_FALSE(property.isConstant()) << properties[i].toStdString();
        EXPECT_TRUE(property.hasNotifySignal()) << properties[i].toStdString();
    }
}

// ---- Construction -------------------------------------------------------------------------

TEST(ProjectConstruction, AFreshControllerHoldsAnEmptyCleanSongAtTheTransportsTempo) {
    ProjectRig rig;
    EXPECT_EQ(rig.project.name(), "Untitled");
    EXPECT_TRUE(rig.project.tracks().isEmpty());
    EXPECT_TRUE(rig.project.filePath().isEmpty());
    EXPECT_FALSE(rig.project.dirty());
    EXPECT_FALSE(rig.project.canUndo());
    EXPECT_FALSE(rig.project.canRedo());
    EXPECT_EQ(rig.project.tempo(), rig.transport.tempo());
    EXPECT_TRUE(rig.project.message().isEmpty());
}

TEST(ProjectConstruction, EmptyExportAndSampleFoldersDefaultBelowTheProjectsFolder) {
    ProjectRig rig;
    EXPECT_EQ(rig.project.exportsDirectory(), QDir(qPath(rig.projects())).filePath("exports"));
    EXPECT_EQ(rig.project.samplesDirectory(), QDir(qPath(rig.projects())).filePath("samples"));
    EXPECT_FALSE(std::filesystem::exists(rig.projects())) << "no folder is created at construction";
}

TEST(ProjectConstruction, GivenFoldersAreKept) {
    TempDir dir;
    RecordingLogger log;
    core::SettingsStore store(programRegistry());
    SettingsBridge settings(store, programRegistry(), qPath(dir / "settings.json"), log.logger);
    AudioController audio(std::make_unique<HandBackend>(), settings, log.logger);
    TransportController transport(audio, log.logger, &settings);
    ProjectController project(transport, log.logger, "/p", "/e", "/s");
    EXPECT_EQ(project.projectsDirectory(), "/p");
    EXPECT_EQ(project.exportsDirectory(), "/e");
    EXPECT_EQ(project.samplesDirectory(), "/s");
}

// ---- New, open, save ----------------------------------------------------------------------

TEST(ProjectDocumentLife, SaveThenOpenGivesTheSameSongAndACleanDocument) {
    ProjectRig rig;
    rig.project.renameProject("Round Trip");
    rig.project.setTempo(97.5);
    ASSERT_TRUE(rig.project.dirty());
    QSignalSpy files(&rig.project, &ProjectController::fileChanged);
    QSignalSpy changes(&rig.project, &ProjectController::projectChanged);

    ASSERT_TRUE(rig.project.save());
    const model::Project saved = rig.project.document();
    EXPECT_FALSE(rig.project.dirty());
    EXPECT_EQ(files.count(), 1);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(rig.project.filePath(), QDir(qPath(rig.projects())).filePath("Round Trip.ostproj"));
    EXPECT_EQ(rig.project.message(),
              "Saved " + QDir::toNativeSeparators(QDir(qPath(rig.projects())).filePath("Round Trip.ostproj")));
    EXPECT_FALSE(rig.project.problem());
    EXPECT_EQ(rig.project.projectFiles(), QStringList{"Round Trip.ostproj"});
    EXPECT_EQ(readBack(rig.projects() / "Round Trip.ostproj"), saved);

    rig.project.newProject();
    ASSERT_EQ(rig.project.name(), "Untitled");
    ASSERT_TRUE(rig.project.openProject("Round Trip.ostproj"));
    EXPECT_EQ(rig.project.document(), saved);
    EXPECT_FALSE(rig.project.dirty());
    EXPECT_FALSE(rig.project.canUndo());
    EXPECT_EQ(rig.project.message(), "Opened Round Trip.ostproj");
    EXPECT_FALSE(rig.project.problem());
}

TEST(ProjectDocumentLife, ADocumentOpenedOnceIsSavedToTheSameFileWhateverItsNameBecomes) {
    ProjectRig rig;
    rig.writeProject("first.ostproj", songNamed("First"));
    ASSERT_TRUE(rig.project.openProject("first.ostproj"));
    rig.project.renameProject("Another name");
    ASSERT_TRUE(rig.project.save());
    EXPECT_EQ(rig.project.filePath(), QDir(qPath(rig.projects())).filePath("first.ostproj"));
    EXPECT_EQ(readBack(rig.projects() / "first.ostproj").name(), "Another name");
    EXPECT_EQ(rig.project.projectFiles(), QStringList{"first.ostproj"});
}

TEST(ProjectDocumentLife, ARefusedOpenKeepsTheCurrentSongAndSaysWhy) {
    ProjectRig rig;
    rig.project.renameProject("Keep me");
    ASSERT_TRUE(rig.project.save());
    writeFile(rig.projects() / "broken.ostproj", "{ not json");
    const model::Project before = rig.project.document();

    EXPECT_FALSE(rig.project.openProject("broken.ostproj"));
    EXPECT_EQ(rig.project.document(), before);
    EXPECT_EQ(rig.project.message(), "Could not open broken.ostproj: the file is not valid JSON");
    EXPECT_TRUE(rig.project.problem());
    bool logged = false;
    for (const core::LogRecord& record : rig.log.records()) {
        logged |= record.level == core::LogLevel::ERROR && record.category == "project" &&
                  record.message == "the file is not valid JSON";
    }
    EXPECT_TRUE(logged);

    EXPECT_FALSE(rig.project.openProject("missing.ostproj"));
    EXPECT_TRUE(rig.project.message().startsWith("Could not open missing.ostproj: cannot open "));
}

TEST(ProjectDocumentLife, OpenTakesOnlyABareFileNameEvenWhenTheSongIsClean) {
    ProjectRig rig;
    for (const QString& name : {QString("sub/song.ostproj"), QString(), QString("/tmp/song.ostproj")}) {
        QSignalSpy messages(&rig.project, &ProjectController::messageChanged);
        EXPECT_FALSE(rig.project.openProject(name));
        EXPECT_EQ(rig.project.message(), "That is not a file in the projects folder.");
        EXPECT_TRUE(rig.project.problem());
        EXPECT_EQ(messages.count(), 1) << "the message is signalled also when unchanged";
    }
}

TEST(ProjectDocumentLife, OpeningAFileOfANewerVersionSaysHowManyNotesTheReaderLeft) {
    ProjectRig rig;
    std::string text = model::projectToJsonText(songNamed("Future"));
    const std::string version = "\"format_version\": 1";
    ASSERT_NE(text.find(version), std::string::npos);
    text.replace(text.find(version), version.size(), "\"format_version\": 9, \"hologram\": true");
    std::filesystem::create_directories(rig.projects());
    writeFile(rig.projects() / "future.ostproj", text);

    ASSERT_TRUE(rig.project.openProject("future.ostproj"));
    EXPECT_EQ(rig.project.name(), "Future");
    EXPECT_EQ(rig.project.message(), "Opened future.ostproj (1 note(s) about newer parts of the file)");
    EXPECT_FALSE(rig.project.problem());
    bool warned = false;
    for (const core::LogRecord& record : rig.log.records()) {
        warned |= record.level == core::LogLevel::WARN &&
                  record.message.starts_with("future.ostproj: this project was saved by a newer version");
    }
    EXPECT_TRUE(warned);
    // The unknown key is kept and written back.
    ASSERT_TRUE(rig.project.save());
    EXPECT_NE(readFile(rig.projects() / "future.ostproj").find("hologram"), std::string::npos);
}

TEST(ProjectDocumentLife, NewProjectInstallsAnUntitledSongAtTheTransportsTempo) {
    ProjectRig rig;
    rig.transport.setTempo(87.0);
    ASSERT_TRUE(rig.project.save());
    const model::Uuid before = rig.project.document().id();
    QSignalSpy changes(&rig.project, &ProjectController::projectChanged);
    QSignalSpy files(&rig.project, &ProjectController::fileChanged);

    rig.project.newProject();
    EXPECT_NE(rig.project.document().id(), before);
    EXPECT_EQ(rig.project.name(), "Untitled");
    EXPECT_EQ(rig.project.tempo(), 87.0);
    EXPECT_TRUE(rig.project.filePath().isEmpty());
    EXPECT_FALSE(rig.project.canUndo());
    EXPECT_FALSE(rig.project.dirty());
    EXPECT_EQ(rig.project.message(), "New project.");
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(files.count(), 1);
}

// ---- The unsaved-changes guard ------------------------------------------------------------

TEST(ProjectDiscardGuard, ASecondPressWithinSixSecondsDiscardsTheChanges) {
    HandClock clock;
    ProjectRig rig(clock.hooks());
    rig.project.renameProject("Edited");

    rig.project.newProject();
    EXPECT_EQ(rig.project.name(), "Edited");
    EXPECT_EQ(rig.project.message(),
              "There are unsaved changes. Press the button again to discard them, or press Save first.");
    EXPECT_TRUE(rig.project.problem());

    *clock.ms += 5999;
    rig.project.newProject();
    EXPECT_EQ(rig.project.name(), "Untitled");
    EXPECT_EQ(rig.project.message(), "New project.");
    EXPECT_FALSE(rig.project.problem());
}

TEST(ProjectDiscardGuard, APressAfterSixSecondsAsksAgain) {
    HandClock clock;
    ProjectRig rig(clock.hooks());
    rig.project.renameProject("Edited");
    rig.project.newProject();
    *clock.ms += 6000;
    rig.project.newProject();
    EXPECT_EQ(rig.project.name(), "Edited");
    EXPECT_TRUE(rig.project.problem());
    *clock.ms += 10;
    rig.project.newProject();
    EXPECT_EQ(rig.project.name(), "Untitled");
}

TEST(ProjectDiscardGuard, TheOtherCommandAsksAgain) {
    HandClock clock;
    ProjectRig rig(clock.hooks());
    rig.writeProject("other.ostproj", songNamed("Other"));
    rig.project.renameProject("Edited");
    rig.project.newProject();
    EXPECT_FALSE(rig.project.openProject("other.ostproj"));
    EXPECT_EQ(rig.project.name(), "Edited");
    EXPECT_TRUE(rig.project.openProject("other.ostproj"));
    EXPECT_EQ(rig.project.name(), "Other");
}

TEST(ProjectDiscardGuard, UndoingBackToTheSavedStateLetsTheFirstPressThrough) {
    ProjectRig rig;
    rig.project.renameProject("Edited");
    EXPECT_TRUE(rig.project.dirty());
    rig.project.undo();
    EXPECT_FALSE(rig.project.dirty());
    rig.project.newProject();
    EXPECT_EQ(rig.project.message(), "New project.");
}

TEST(ProjectDiscardGuard, AYesFromACleanSongLeavesAPendingDiscardAsItIs) {
    HandClock clock;
    ProjectRig rig(clock.hooks());
    rig.project.renameProject("Edited");
    rig.project.newProject();  // pending "new"
    rig.project.undo();        // clean again
    rig.project.newProject();  // clean: yes at once, the pending action stays
    rig.project.renameProject("Edited again");
    *clock.ms += 100;
    rig.project.newProject();  // still pending within six seconds: discards
    EXPECT_EQ(rig.project.name(), "Untitled");
}

// ---- dirty --------------------------------------------------------------------------------

TEST(ProjectDirty, FollowsEditsUndoRedoAndSave) {
    ProjectRig rig;
    EXPECT_FALSE(rig.project.dirty());
    rig.project.renameProject("One");
    EXPECT_TRUE(rig.project.dirty());
    rig.project.undo();
    EXPECT_FALSE(rig.project.dirty());
    rig.project.redo();
    EXPECT_TRUE(rig.project.dirty());
    ASSERT_TRUE(rig.project.save());
    EXPECT_FALSE(rig.project.dirty());
    rig.project.undo();
    EXPECT_TRUE(rig.project.dirty()) << "undo past the save differs from the file";
    rig.project.redo();
    EXPECT_FALSE(rig.project.dirty());
}

// ---- File names from song names -----------------------------------------------------------

TEST(ProjectFileNames, AnUnsavedSongIsNamedAfterItsNameWithOdditiesReplaced) {
    ProjectRig rig;
    rig.project.renameProject("My Song!");
    ASSERT_TRUE(rig.project.save());
    EXPECT_TRUE(std::filesystem::exists(rig.projects() / "My Song_.ostproj"));

    rig.project.newProject();
    rig.project.renameProject("My Song!");
    ASSERT_TRUE(rig.project.save());
    EXPECT_EQ(rig.project.filePath(), QDir(qPath(rig.projects())).filePath("My Song_ 2.ostproj"));
    EXPECT_EQ(rig.project.projectFiles(), (QStringList{"My Song_ 2.ostproj", "My Song_.ostproj"}));
}

TEST(ProjectFileNames, LongNamesAreCutTo60AndNumberedOnesTo56) {
    ProjectRig rig;
    const QString name(70, QLatin1Char('a'));
    rig.project.renameProject(name);
    ASSERT_TRUE(rig.project.save());
    EXPECT_EQ(QFileInfo(rig.project.filePath()).fileName(), QString(60, 'a') + ".ostproj");
    rig.project.newProject();
    rig.project.renameProject(name);
    ASSERT_TRUE(rig.project.save());
    EXPECT_EQ(QFileInfo(rig.project.filePath()).fileName(), QString(56, 'a') + " 2.ostproj");
}

TEST(ProjectFileNames, WhenEveryNumberedNameIsTakenTheSongsIdNamesTheFileAndNothingIsOverwritten) {
    ProjectRig rig;
    std::filesystem::create_directories(rig.projects());
    writeFile(rig.projects() / "Busy.ostproj", "taken");
    for (int n = 2; n <= 999; ++n) {
        writeFile(rig.projects() / ("Busy " + std::to_string(n) + ".ostproj"), "taken");
    }
    rig.project.renameProject("Busy");
    ASSERT_TRUE(rig.project.save());
    const std::string expected = "Busy " + rig.project.document().id().toString() + ".ostproj";
    EXPECT_EQ(QFileInfo(rig.project.filePath()).fileName().toStdString(), expected);
    EXPECT_EQ(readFile(rig.projects() / "Busy 999.ostproj"), "taken");
    EXPECT_EQ(readFile(rig.projects() / "Busy.ostproj"), "taken");
}

TEST(ProjectFileNames, AProjectsFolderThatCannotBeMadeIsReported) {
    ProjectRig rig;
    writeFile(rig.dir / "projects", "a file where the folder should be");
    EXPECT_FALSE(rig.project.save());
    EXPECT_EQ(rig.project.message().toStdString(), "Ostrel could not create the projects folder (cannot create folder " +
                                                       rig.projects().string() + ": Not a directory).");
    EXPECT_TRUE(rig.project.problem());
    EXPECT_TRUE(rig.project.filePath().isEmpty());
}

TEST(ProjectFileNames, AFailedWriteKeepsTheSavedCopyAndThePath) {
    ProjectRig rig;
    rig.writeProject("song.ostproj", songNamed("Song"));
    ASSERT_TRUE(rig.project.openProject("song.ostproj"));
    rig.project.renameProject("Changed");
    // A folder with content where the file was: the writer cannot put the file in its place.
    std::filesystem::remove(rig.projects() / "song.ostproj");
    std::filesystem::create_directories(rig.projects() / "song.ostproj");
    writeFile(rig.projects() / "song.ostproj" / "inside", "x");

    ASSERT_FALSE(rig.project.save());
    EXPECT_TRUE(rig.project.message().startsWith("Could not save: "));
    EXPECT_TRUE(rig.project.problem());
    EXPECT_EQ(rig.project.filePath(), QDir(qPath(rig.projects())).filePath("song.ostproj"));
    EXPECT_TRUE(rig.project.dirty()) << "the saved copy did not change";
}

// ---- Project and sample lists -------------------------------------------------------------

TEST(ProjectLists, ProjectFilesAreSortedCaseSensitivelyAndAnUnchangedFolderSignalsNothing) {
    ProjectRig rig;
    std::filesystem::create_directories(rig.projects() / "folder.ostproj");
    for (const char* name : {"b.ostproj", "B.ostproj", "a.ostproj", "notes.txt"}) {
        writeFile(rig.projects() / name, "{}");
    }
    QSignalSpy spy(&rig.project, &ProjectController::projectFilesChanged);
    rig.project.refreshProjects();
    EXPECT_EQ(rig.project.projectFiles(), (QStringList{"B.ostproj", "a.ostproj", "b.ostproj"}));
    EXPECT_EQ(spy.count(), 1);
    rig.project.refreshProjects();
    EXPECT_EQ(spy.count(), 1);
}

TEST(ProjectLists, SamplesAreListedOnceEachAndEverySignalIsSent) {
    ProjectRig rig;
    rig.writeSample("song.wav", 10);
    QSignalSpy spy(&rig.project, &ProjectController::samplesChanged);
    rig.project.refreshSamples();
    rig.project.refreshSamples();
    EXPECT_EQ(rig.project.sampleFiles(), QStringList{"song.wav"});
    EXPECT_EQ(spy.count(), 2);
}

// Regression: names that differ only in case were dropped as if the file system folded case.
TEST(ProjectLists, RegressionSampleNamesDifferingOnlyInCaseAreTwoFiles) {
    ProjectRig rig;
    for (const char* name : {"kick.wav", "Kick.wav", "b.WAV", "a.wav", "Snare.Wav"}) {
        rig.writeSample(name, 10);
    }
    writeFile(rig.samples() / "readme.txt", "");
    rig.project.refreshSamples();
    EXPECT_EQ(rig.project.sampleFiles(), (QStringList{"a.wav", "b.WAV", "Kick.wav", "kick.wav", "Snare.Wav"}));
}

// Regression: a sound file whose name is not UTF-8 vanished from the list without a word.
TEST(ProjectLists, ASampleNameThatIsNotUtf8IsWarnedAboutOnce) {
    ProjectRig rig;
    rig.writeSample("good.wav", 10);
    rig.writeSample("caf\xE9.WAV", 10);
    rig.project.refreshSamples();
    rig.project.refreshSamples();
    EXPECT_EQ(rig.project.sampleFiles(), QStringList{"good.wav"});
    int warned = 0;
    for (const core::LogRecord& record : rig.log.records()) {
        warned += record.level == core::LogLevel::WARN &&
                  record.message.rfind("the sound file caf\uFFFD.WAV in ", 0) == 0;
    }
    EXPECT_EQ(warned, 1);
}

TEST(ProjectLists, MissingFoldersGiveEmptyLists) {
    ProjectRig rig;
    rig.project.refreshProjects();
    rig.project.refreshSamples();
    EXPECT_TRUE(rig.project.projectFiles().isEmpty());
    EXPECT_TRUE(rig.project.sampleFiles().isEmpty());
}

// ---- Rename -------------------------------------------------------------------------------

TEST(ProjectRename, TrimsAndIgnoresEmptyOrUnchangedNames) {
    ProjectRig rig;
    QSignalSpy history(&rig.project, &ProjectController::historyChanged);
    rig.project.renameProject("   ");
    rig.project.renameProject("Untitled");
    EXPECT_EQ(history.count(), 0);
    rig.project.renameProject("  Demo  ");
    EXPECT_EQ(rig.project.name(), "Demo");
    EXPECT_EQ(rig.project.undoText(), "Rename project");
    rig.project.renameProject("Demo 2");
    rig.project.undo();
    EXPECT_EQ(rig.project.name(), "Untitled") << "consecutive renames are one step";
    rig.project.renameProject("Ünïcødé ♪");
    EXPECT_EQ(rig.project.name(), "Ünïcødé ♪");
}

// ---- Undo and redo ------------------------------------------------------------------------

TEST(ProjectHistory, UndoAndRedoTextsFollowTheStacks) {
    ProjectRig rig;
    EXPECT_TRUE(rig.project.undoText().isEmpty());
    EXPECT_TRUE(rig.project.redoText().isEmpty());
    rig.project.renameProject("A");
    rig.project.setTempo(99.0);
    EXPECT_TRUE(rig.project.canUndo());
    EXPECT_EQ(rig.project.undoText(), "Set tempo");
    rig.project.undo();
    EXPECT_EQ(rig.project.undoText(), "Rename project");
    EXPECT_EQ(rig.project.redoText(), "Set tempo");
    EXPECT_TRUE(rig.project.canRedo());
    rig.project.redo();
    EXPECT_EQ(rig.project.tempo(), 99.0);
    EXPECT_FALSE(rig.project.canRedo());
}

TEST(ProjectHistory, EmptyStacksMakeUndoAndRedoDoNothing) {
    ProjectRig rig;
    QSignalSpy changes(&rig.project, &ProjectController::projectChanged);
    rig.project.undo();
    rig.project.redo();
    EXPECT_EQ(changes.count(), 0);
}

TEST(ProjectHistory, EveryChangeSignalsProjectThenHistoryAndRecordsAStep) {
    ProjectRig rig;
    QStringList order;
    QObject::connect(&rig.project, &ProjectController::projectChanged, [&] { order << "project"; });
    QObject::connect(&rig.project, &ProjectController::historyChanged, [&] { order << "history"; });
    rig.project.renameProject("Steps");
    EXPECT_EQ(order, (QStringList{"project", "history"}));
    std::vector<core::LogStep> steps;
    ASSERT_TRUE(rig.log.logger.copyRecentSteps(steps));
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.back().category, "project");
    EXPECT_EQ(steps.back().message, "change: Rename project");
}

// ---- The tempo link -----------------------------------------------------------------------

TEST(ProjectTempo, SetTempoRoundsAndClampsAndTheSameValueRecordsNothing) {
    ProjectRig rig;
    rig.project.setTempo(133.26);
    EXPECT_EQ(rig.project.tempo(), 133.3);
    EXPECT_EQ(rig.transport.tempo(), 133.3);
    rig.project.setTempo(500.0);
    EXPECT_EQ(rig.project.tempo(), 300.0);
    rig.project.setTempo(10.0);
    EXPECT_EQ(rig.project.tempo(), 20.0);
    QSignalSpy history(&rig.project, &ProjectController::historyChanged);
    rig.project.setTempo(20.0);
    rig.project.setTempo(20.04);
    rig.project.setTempo(std::nan(""));
    EXPECT_EQ(history.count(), 0);
    EXPECT_EQ(rig.project.tempo(), 20.0);
}

TEST(ProjectTempo, TheTransportsTempoBecomesOneUndoStepAndUndoSetsItBack) {
    ProjectRig rig;
    const double before = rig.transport.tempo();
    rig.transport.setTempo(90.0);
    EXPECT_EQ(rig.project.tempo(), 90.0);
    EXPECT_EQ(rig.project.undoText(), "Set tempo");
    rig.transport.nudgeTempo(1.0);
    rig.transport.nudgeTempo(1.0);
    EXPECT_EQ(rig.project.tempo(), 92.0);
    rig.project.undo();
    EXPECT_EQ(rig.project.tempo(), before);
    EXPECT_EQ(rig.transport.tempo(), before);
    EXPECT_FALSE(rig.project.canUndo()) << "consecutive tempo changes merge";
    rig.project.redo();
    EXPECT_EQ(rig.transport.tempo(), 92.0);
}

TEST(ProjectTempo, TheDocumentsTempoReachesTheTransport) {
    ProjectRig rig;
    rig.writeProject("slow.ostproj", songNamed("Slow", 61.5));
    ASSERT_TRUE(rig.project.openProject("slow.ostproj"));
    EXPECT_EQ(rig.transport.tempo(), 61.5);
    rig.project.setTempo(145.0);
    EXPECT_EQ(rig.transport.tempo(), 145.0);
}

// Regression: an opened file's tempo outside the transport's range came back from the
// transport as a "Set tempo" step, so a freshly opened song was dirty and the document and
// the transport disagreed.
TEST(ProjectTempo, RegressionAnOpenedFilesTempoIsNormalisedWithoutAStep) {
    for (const auto& [stored, expected] : {std::pair{500.0, 300.0}, {5.0, 20.0}, {133.26, 133.3}}) {
        ProjectRig rig;
        rig.writeProject("odd.ostproj", songNamed("Odd", stored));
        ASSERT_TRUE(rig.project.openProject("odd.ostproj"));
        EXPECT_EQ(rig.project.tempo(), expected);
        EXPECT_EQ(rig.transport.tempo(), expected);
        EXPECT_FALSE(rig.project.dirty());
        EXPECT_FALSE(rig.project.canUndo());
        EXPECT_TRUE(rig.project.undoText().isEmpty());
        // The next open does not ask about unsaved changes.
        rig.writeProject("plain.ostproj", songNamed("Plain"));
        EXPECT_TRUE(rig.project.openProject("plain.ostproj"));
    }
}

TEST(ProjectTempo, RegressionSavingANormalisedSongWritesTheNormalisedTempo) {
    ProjectRig rig;
    rig.writeProject("fast.ostproj", songNamed("Fast", 480.0));
    ASSERT_TRUE(rig.project.openProject("fast.ostproj"));
    ASSERT_TRUE(rig.project.save());
    EXPECT_EQ(readBack(rig.projects() / "fast.ostproj").tempoBpm(), 300.0);
}

// ---- Messages -----------------------------------------------------------------------------

TEST(ProjectMessages, EveryReportIsSignalledEvenWhenTheTextIsUnchanged) {
    ProjectRig rig;
    QSignalSpy spy(&rig.project, &ProjectController::messageChanged);
    rig.project.setMessage("Same", false);
    rig.project.setMessage("Same", false);
    EXPECT_EQ(spy.count(), 2);
    EXPECT_EQ(rig.project.message(), "Same");
    rig.project.setMessage("Bad", true);
    EXPECT_TRUE(rig.project.problem());
}

}  // namespace
