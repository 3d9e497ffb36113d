#include "playback/render/NoteEvents.h"

#include <algorithm>
#include <cmath>

#include "playback/TempoMap.h"

namespace ostrel::engine { inline namespace playback {
namespace {

constexpr double kBeatLimit = 1.0e7;

}  // namespace

double safeBeats(double beats) { return std::isnan(beats) ? 0.0 : std::clamp(beats, -kBeatLimit, kBeatLimit); }

std::int64_t beatsToTick(double beats) {
    return std::llround(safeBeats(beats) * static_cast<double>(TempoMap::kTicksPerBeat));
}

std::vector<NoteEvent> collectNoteEvents(const model::Track& track) {
    std::vector<NoteEvent> events;
    for (const model::Clip& clip : track.clips) {
        const double clipStart = safeBeats(clip.startBeats);
        const double clipLength = safeBeats(clip.lengthBeats);
        for (const model::Note& note : clip.notes) {
            const double start = safeBeats(note.startBeats);
            if (!(start < clipLength) || note.pitch < 0 || note.pitch > 127) {
                continue;
            }
            const double end = std::min(start + safeBeats(note.lengthBeats), clipLength);
            // An off at or before its on would be sorted first and leave the note sounding
            // to the end of the song: a note without length is dropped, and one shorter
            // than a tick still gets one.
            if (!(end > start)) {
                continue;
            }
            const std::int64_t onTick = beatsToTick(start + clipStart);
            const std::int64_t offTick = std::max(beatsToTick(end + clipStart), onTick + 1);
            events.push_back({onTick, false, note.pitch, std::clamp(note.velocity, 1, 127)});
            events.push_back({offTick, true, note.pitch, 0});
        }
    }
    std::stable_sort(events.begin(), events.end(), [](const NoteEvent& a, const NoteEvent& b) {
        if (a.tick != b.tick) {
            return a.tick < b.tick;
        }
        return a.off && !b.off;
    });
    return events;
}

} }  // namespace ostrel::engine::playback
