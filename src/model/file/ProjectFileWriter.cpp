#include "model/file/ProjectFileWriter.h"

#include <cstddef>
#include <utility>

#include <nlohmann/json.hpp>

#include "core/Failure.h"
#include "core/files/JsonText.h"
#include "model/file/JsonTextWriter.h"
#include "model/file/ProjectMigrations.h"

namespace ostrel::model {

namespace {

using nlohmann::json;

// The text is written as it goes, without building the library's tree, to the same bytes
// the library's dump gives for that tree (indent 2, members in byte order of their keys,
// text outside ASCII as it is, reals in the library's shortest form). Values from extra
// are dumped by the library's own serialiser at their place. Reals and extras use the
// library's detail namespace, so the tests compare the text with the library's dump.

bool writeNote(JsonTextWriter& w, const Note& note, const JsonPlace& place) {
    JsonTextWriter::Extra extra(w, note.extra, place);
    w.open('{');
    if (!extra.before("id")) return false;
    w.key("id");
    w.id(note.id);
    if (!extra.before("length_beats")) return false;
    w.key("length_beats");
    if (!w.real(note.lengthBeats, place.member("length_beats")) || !extra.before("pitch")) return false;
    w.key("pitch");
    w.whole(note.pitch);
    if (!extra.before("start_beats")) return false;
    w.key("start_beats");
    if (!w.real(note.startBeats, place.member("start_beats")) || !extra.before("velocity")) return false;
    w.key("velocity");
    w.whole(note.velocity);
    if (!extra.rest()) return false;
    w.close('}');
    return true;
}

template <typename T>
bool writeList(JsonTextWriter& w, const std::vector<T>& records,
               bool (*write)(JsonTextWriter&, const T&, const JsonPlace&), const JsonPlace& place) {
    w.open('[');
    for (std::size_t i = 0; i < records.size(); ++i) {
        w.element();
        if (!write(w, records[i], place.element(i))) return false;
    }
    w.close(']');
    return true;
}

bool writeClip(JsonTextWriter& w, const Clip& clip, const JsonPlace& place) {
    JsonTextWriter::Extra extra(w, clip.extra, place);
    w.open('{');
    if (clip.audioOffsetSeconds != 0.0) {
        if (!extra.before("audio_offset_seconds")) return false;
        w.key("audio_offset_seconds");
        if (!w.real(clip.audioOffsetSeconds, place.member("audio_offset_seconds"))) return false;
    }
    if (!clip.audioSource.empty()) {
        if (!extra.before("audio_source")) return false;
        w.key("audio_source");
        if (!w.text(clip.audioSource, place.member("audio_source"))) return false;
    }
    if (!extra.before("id")) return false;
    w.key("id");
    w.id(clip.id);
    if (!extra.before("length_beats")) return false;
    w.key("length_beats");
    if (!w.real(clip.lengthBeats, place.member("length_beats")) || !extra.before("name")) return false;
    w.key("name");
    if (!w.text(clip.name, place.member("name")) || !extra.before("notes")) return false;
    w.key("notes");
    if (!writeList(w, clip.notes, writeNote, place.member("notes")) || !extra.before("start_beats")) return false;
    w.key("start_beats");
    if (!w.real(clip.startBeats, place.member("start_beats")) || !extra.rest()) return false;
    w.close('}');
    return true;
}

bool writeDevice(JsonTextWriter& w, const Device& device, const JsonPlace& place) {
    JsonTextWriter::Extra extra(w, device.extra, place);
    w.open('{');
    if (!extra.before("device_id")) return false;
    w.key("device_id");
    if (!w.text(device.typeId, place.member("device_id"))) return false;
    if (!device.enabled) {
        if (!extra.before("enabled")) return false;
        w.key("enabled");
        w.flag(false);
    }
    if (!extra.before("id")) return false;
    w.key("id");
    w.id(device.id);
    if (!device.name.empty()) {
        if (!extra.before("name")) return false;
        w.key("name");
        if (!w.text(device.name, place.member("name"))) return false;
    }
    if (!extra.before("parameters")) return false;
    w.key("parameters");
    const JsonPlace parameters = place.member("parameters");
    w.open('{');
    for (const auto& [knob, value] : device.parameters) {
        if (!core::isValidUtf8(knob)) {
            return w.fail("a member name in " + parameters.name() + " is not valid UTF-8 text");
        }
        w.escapedKey(knob);
        if (!w.real(value, parameters.member(knob))) return false;
    }
    w.close('}');
    if (!extra.rest()) return false;
    w.close('}');
    return true;
}

bool writeTrack(JsonTextWriter& w, const Track& track, const JsonPlace& place) {
    JsonTextWriter::Extra extra(w, track.extra, place);
    w.open('{');
    if (!extra.before("clips")) return false;
    w.key("clips");
    if (!writeList(w, track.clips, writeClip, place.member("clips")) || !extra.before("devices")) return false;
    w.key("devices");
    if (!writeList(w, track.devices, writeDevice, place.member("devices")) || !extra.before("id")) return false;
    w.key("id");
    w.id(track.id);
    const json& config = track.instrumentConfig.get();
    if (config.is_object() && !config.empty()) {
        if (!extra.before("instrument_config")) return false;
        w.key("instrument_config");
        if (!w.value(config, place.member("instrument_config"))) return false;
    }
    if (!track.instrumentPatch.empty()) {
        if (!extra.before("instrument_patch")) return false;
        w.key("instrument_patch");
        if (!w.text(track.instrumentPatch, place.member("instrument_patch"))) return false;
    }
    if (track.kind != kMidiTrackKind) {
        if (!extra.before("kind")) return false;
        w.key("kind");
        if (!w.text(track.kind, place.member("kind"))) return false;
    }
    if (track.muted) {
        if (!extra.before("muted")) return false;
        w.key("muted");
        w.flag(true);
    }
    if (!extra.before("name")) return false;
    w.key("name");
    if (!w.text(track.name, place.member("name"))) return false;
    if (track.solo) {
        if (!extra.before("solo")) return false;
        w.key("solo");
        w.flag(true);
    }
    if (track.volume != 1.0) {
        if (!extra.before("volume")) return false;
        w.key("volume");
        if (!w.real(track.volume, place.member("volume"))) return false;
    }
    if (!extra.rest()) return false;
    w.close('}');
    return true;
}

bool writeProject(JsonTextWriter& w, const Project& project) {
    const JsonPlace place;
    JsonTextWriter::Extra extra(w, project.extra(), place);
    w.open('{');
    if (!extra.before("format")) return false;
    w.key("format");
    if (!w.text(kProjectFormatName, place.member("format")) || !extra.before("format_version")) return false;
    w.key("format_version");
    w.whole(kProjectFormatVersion);
    if (!extra.before("id")) return false;
    w.key("id");
    w.id(project.id());
    if (!extra.before("name")) return false;
    w.key("name");
    if (!w.text(project.name(), place.member("name")) || !extra.before("tempo_bpm")) return false;
    w.key("tempo_bpm");
    if (!w.real(project.tempoBpm(), place.member("tempo_bpm")) || !extra.before("tracks")) return false;
    w.key("tracks");
    if (!writeList(w, project.tracks(), writeTrack, place.member("tracks")) || !extra.rest()) return false;
    w.close('}');
    return true;
}

// Room for the whole text up front, so it is not copied while it grows.
std::size_t expectedSize(const Project& project) {
    std::size_t size = 4096;
    for (const Track& track : project.tracks()) {
        size += 512 + 512 * track.devices.size();
        for (const Clip& clip : track.clips) size += 384 + 240 * clip.notes.size();
    }
    return size;
}

}  // namespace

bool writeProjectText(const Project& project, std::string& text, std::string* error) {
    std::string out;
    out.reserve(expectedSize(project));
    std::string reason;
    JsonTextWriter writer(out, reason);
    try {
        if (!writeProject(writer, project)) {
            core::fail(error, "cannot save the project: " + reason);
            return false;
        }
    } catch (const json::exception&) {
        core::fail(error, "cannot save the project: it holds text that is not valid UTF-8");
        return false;
    }
    out.push_back('\n');
    text = std::move(out);
    return true;
}

}  // namespace ostrel::model
