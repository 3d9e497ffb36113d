#include "engine/BackingTrack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <span>
#include <vector>

namespace ostrel::engine {
namespace {

// A track of 100 frames rendered from frame 40, its frames final up to 70.
std::unique_ptr<BackingTrack> partly() {
    auto track = std::make_unique<BackingTrack>();
    track->begin(100, 2, 40);
    const std::span<float> frames = track->unpublished(40, 30);
    std::fill(frames.begin(), frames.end(), 1.0f);
    track->publish(70);
    return track;
}

TEST(BackingTrackReady, AStretchIsReadyWhenEveryFrameOfItInTheSongIsFinal) {
    const struct Case {
        std::int64_t first, count;
        bool ready;
    } cases[] = {
        {40, 30, true},    // the final frames
        {39, 2, false},    // one before where the render started
        {60, 11, false},   // one past the last final frame
        {95, 10, false},   // the end of the song, not rendered yet
        {100, 50, true},   // past the end: silence
        {-5, 4, true},     // before the start of the song
        {40, 0, true},
    };
    const std::unique_ptr<BackingTrack> track = partly();
    const BackingTrack::View view = track->view();
    for (const Case& c : cases) {
        EXPECT_EQ(view.ready(c.first, c.count), c.ready) << c.first << " + " << c.count;
    }
    EXPECT_FALSE(view.complete());
}

TEST(BackingTrackReady, NothingIsReadyBeforeBeginAndEverythingOnceAbandoned) {
    BackingTrack track;
    EXPECT_FALSE(track.view().ready(0, 1));
    EXPECT_FALSE(track.view().begun);
    track.abandon();
    EXPECT_TRUE(track.view().ready(0, 1000)) << "no frame will come: silence";

    BackingTrack begun;
    begun.begin(100, 1, 0);
    begun.publish(10);
    begun.abandon();
    EXPECT_TRUE(begun.view().ready(50, 10));
    EXPECT_EQ(begun.view().end, 10);
    EXPECT_FALSE(begun.view().complete());
}

TEST(BackingTrackWriting, PublishingIsCutToTheSongAndNeverGoesBack) {
    BackingTrack track;
    track.begin(100, 2, 10);
    EXPECT_EQ(track.view().end, 10) << "nothing final yet";
    EXPECT_EQ(track.unpublished(90, 50).size(), 20u) << "cut to the song, two values a frame";
    EXPECT_EQ(track.unpublished(-5, 10).size(), 10u);
    track.publish(50);
    track.publish(30);
    EXPECT_EQ(track.view().end, 50);
    track.publish(500);
    EXPECT_EQ(track.view().end, 100);
    EXPECT_FALSE(track.view().complete()) << "frames before 10 never come";
}

TEST(BackingTrackWriting, AWholeSongIsCompleteAtOnce) {
    const BackingTrack track(std::vector<float>{1, 2, 3, 4, 5, 6}, 2);
    const BackingTrack::View view = track.view();
    EXPECT_TRUE(view.complete());
    EXPECT_EQ(view.frames, 3);
    EXPECT_EQ(view.at(2, 1), 6.0f);
}

}  // namespace
}  // namespace ostrel::engine
