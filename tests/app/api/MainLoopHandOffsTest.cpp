#include "app/api/MainLoopHandOffs.h"

#include "ProjectTestSupport.h"

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::app;
using namespace ostrel::test;

namespace {

engine::RenderResult result(engine::RenderJobKind kind, bool ok, std::string path, double seconds, std::string error) {
    engine::RenderResult r;
    r.kind = kind;
    r.ok = ok;
    r.path = std::move(path);
    r.seconds = seconds;
    r.error = std::move(error);
    return r;
}

TEST(RenderFinishedNotifications, ExportsAreAnnouncedInOrderAndRebuildsAreNot) {
    const std::vector<engine::RenderResult> results = {
        result(engine::RenderJobKind::PlaybackRebuild, true, "", 3.0, ""),
        result(engine::RenderJobKind::WavExport, true, "/x/Song.wav", 2.5, ""),
        result(engine::RenderJobKind::WavExport, false, "", 0.0, "nothing to hear yet"),
    };
    const std::vector<nlohmann::json> sent = renderFinishedNotifications(results);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].dump(), R"({"path":"/x/Song.wav","seconds":2.5})");
    EXPECT_EQ(sent[1].dump(), R"({"error":"nothing to hear yet"})") << "a failed export carries only the error";
}

TEST(ProjectChangedNotification, CarriesNameTempoAndTrackCount) {
    ProjectRig rig;
    rig.project.renameProject("Ünï");
    rig.project.setTempo(101.5);
    EXPECT_EQ(projectChangedNotification(rig.project).dump(), R"({"name":"Ünï","tempo":101.5,"trackCount":0})");
}

}  // namespace
