// The whole road of a song: a project file opened, played through the null output, edited
// while it plays, saved, and opened again.

#include "app/project/ProjectController.h"

#include "ProjectTestSupport.h"
#include "platform/NullAudioBackend.h"

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::app;
using namespace ostrel::test;

namespace {

model::Project demoSong() {
    model::Track keys;
    keys.id = model::Uuid::generate();
    keys.name = "Keys";
    keys.instrumentPatch = "FM Bell";
    model::Clip clip;
    clip.id = model::Uuid::generate();
    clip.name = "Bells";
    for (int i = 0; i < 8; ++i) {
        model::Note note;
        note.id = model::Uuid::generate();
        note.pitch = 72 + i;
        note.startBeats = i * 0.5;
        note.lengthBeats = 0.25;
        clip.notes.push_back(note);
    }
    keys.clips.push_back(clip);
    model::Device delay;
    delay.id = model::Uuid::generate();
    delay.typeId = "ostrel.delay";
    delay.parameters = {{"mix", 0.3}};
    keys.devices.push_back(delay);
    return model::makeProject(model::Uuid::generate(), "Demo", 110.0, {keys}, model::JsonValue{});
}

class ProjectEndToEnd : public WithApplication {};

TEST_F(ProjectEndToEnd, OpenPlayEditWhilePlayingSaveAndReopenGiveTheSameSong) {
    ProjectRig rig({}, std::make_unique<engine::NullAudioBackend>());
    rig.writeProject("demo.ostproj", demoSong());
    ASSERT_TRUE(rig.project.openProject("demo.ostproj"));

    rig.transport.play();
    ASSERT_TRUE(rig.transport.playing());
    ASSERT_TRUE(rig.audio.engineRunning());

    rig.project.renameProject("Demo, edited live");
    rig.project.setTempo(126.0);
    QCoreApplication::processEvents();
    // The renders report once started: the play's (unless the edit's replaced it before it
    // began) and the edit's.
    const std::vector<engine::RenderResult> results = rig.collect(1);
    ASSERT_GE(results.size(), 1u);
    EXPECT_EQ(results[0].kind, engine::RenderJobKind::PlaybackRebuild);
    EXPECT_TRUE(results[0].ok) << results[0].error;
    ASSERT_NE(results[0].track, nullptr);
    EXPECT_GT(results[0].track->view().frames, 0);
    EXPECT_FALSE(rig.project.problem()) << rig.project.message().toStdString();

    ASSERT_TRUE(rig.project.dirty());
    ASSERT_TRUE(rig.project.save());
    const model::Project saved = rig.project.document();
    rig.transport.stop();

    rig.project.newProject();
    ASSERT_TRUE(rig.project.openProject("demo.ostproj"));
    EXPECT_EQ(rig.project.document(), saved);
    EXPECT_EQ(rig.project.name(), "Demo, edited live");
    EXPECT_EQ(rig.project.tempo(), 126.0);
    EXPECT_EQ(rig.transport.tempo(), 126.0);
    EXPECT_FALSE(rig.project.dirty());
}

}  // namespace
