// The read-only maps and lists the QML and the control API draw the song from. A clip map
// carries no notes: a view that draws or edits a clip asks for that clip's notes.

#include "app/project/ProjectController.h"

#include "devices/DeviceCatalog.h"
#include "devices/effects/EffectPresets.h"
#include "devices/instruments/InstrumentConfig.h"
#include "devices/patches/Patch.h"
#include "engine/graph/DeviceNode.h"
#include "engine/graph/Param.h"

#include <QJsonDocument>
#include <QVariantMap>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <memory>
#include <string>

namespace ostrel::app {
namespace {

constexpr const char* kFmDevice = "ostrel.mod.fm";

QString fromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QString idText(const model::Uuid& id) { return QString::fromLatin1(id.toString()); }

// Every knob of the device type at its default, then the stored values over them (a stored
// id the type does not know is added as it is). An unknown type gives only the stored values.
QVariantMap knobValues(const std::string& typeId, const std::map<std::string, double>& stored) {
    QVariantMap values;
    if (const std::unique_ptr<engine::DeviceNode> scratch = engine::createDevice(typeId)) {
        for (const engine::ParamDescriptor& knob : scratch->params.descriptors()) {
            values.insert(QString::fromUtf8(knob.id), static_cast<double>(knob.defaultValue));
        }
    }
    for (const auto& [key, value] : stored) {
        values.insert(fromUtf8(key), value);
    }
    return values;
}

// The FM knobs of a built-in FM instrument with the track's settings; empty for a sample
// instrument, an unknown one or one without an FM module.
QVariantMap fmValues(const model::Track& track) {
    if (track.instrumentPatch.empty() || engine::isSampleInstrument(track.instrumentPatch)) {
        return {};
    }
    engine::Patch patch;
    if (!engine::makeInstrumentPatch(track.instrumentPatch, track.instrumentConfig.get(), {}, patch, nullptr,
                                     nullptr)) {
        return {};
    }
    const auto fm = std::find_if(patch.nodes.begin(), patch.nodes.end(),
                                 [](const engine::PatchNode& node) { return node.device == kFmDevice; });
    if (fm == patch.nodes.end()) {
        return {};
    }
    return knobValues(kFmDevice, fm->parameters);
}

QVariantMap configMap(const model::JsonValue& config) {
    const std::string text = config.get().dump();
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).toVariant().toMap();
}

}  // namespace

QVariantList ProjectController::tracks() {
    syncViews();
    if (!tracksCache_) {
        QVariantList list;
        list.reserve(static_cast<qsizetype>(trackViews_.size()));
        for (const TrackView& view : trackViews_) {
            list.append(view.map);
        }
        tracksCache_ = std::move(list);
    }
    return *tracksCache_;
}

QVariantList ProjectController::trackRevisions() {
    syncViews();
    QVariantList revisions;
    revisions.reserve(static_cast<qsizetype>(trackViews_.size()));
    for (const TrackView& view : trackViews_) {
        revisions.append(view.revision);
    }
    return revisions;
}

QVariantMap ProjectController::track(const QString& id) {
    const TrackView* view = findTrackView(id);
    return view != nullptr ? view->map : QVariantMap();
}

QVariantMap ProjectController::trackAt(int index) {
    syncViews();
    return index >= 0 && static_cast<std::size_t>(index) < trackViews_.size()
               ? trackViews_[static_cast<std::size_t>(index)].map
               : QVariantMap();
}

QVariantList ProjectController::clipNoteList(const QString& trackId, const QString& clipId) {
    model::Uuid clipUuid;
    const TrackView* found = findTrackView(trackId);
    if (found == nullptr || !model::Uuid::parse(clipId.toStdString(), clipUuid)) {
        return {};
    }
    TrackView& view = trackViews_[static_cast<std::size_t>(found->index)];
    for (std::size_t i = 0; i < view.clips.size(); ++i) {
        ClipView& clip = view.clips[i];
        if (clip.id != clipUuid) {
            continue;
        }
        if (!clip.notes) {
            // The views follow the track's clip order, so the clip is the document's i-th.
            const model::Clip& source = document_->tracks()[static_cast<std::size_t>(view.index)].clips[i];
            QVariantList notes;
            notes.reserve(static_cast<qsizetype>(source.notes.size()));
            for (const model::Note& note : source.notes) {
                notes.append(QVariant(QVariantList{static_cast<int>(note.pitch), note.startBeats, note.lengthBeats}));
            }
            clip.notes = std::move(notes);
        }
        return *clip.notes;
    }
    return {};
}

void ProjectController::forgetViews() {
    trackViews_.clear();
    viewsStale_ = true;
    tracksCache_.reset();
}

void ProjectController::syncViews() {
    if (!viewsStale_) {
        return;
    }
    viewsStale_ = false;
    std::vector<TrackView> previous = std::move(trackViews_);
    trackViews_.clear();
    trackViews_.reserve(document_->tracks().size());
    int index = 0;
    for (const model::Track& track : document_->tracks()) {
        // Mostly in the same place as before; after an insert or a removal, found by id.
        TrackView* old = nullptr;
        const auto i = static_cast<std::size_t>(index);
        if (i < previous.size() && previous[i].id == track.id) {
            old = &previous[i];
        } else {
            const auto it = std::find_if(previous.begin(), previous.end(),
                                         [&](const TrackView& view) { return view.id == track.id; });
            old = it != previous.end() ? &*it : nullptr;
        }
        if (old != nullptr && old->stamp == track.stamp.value) {
            if (old->index != index) {
                old->index = index;
                old->revision = ++lastRevision_;
                old->map.insert(QStringLiteral("index"), index);
                old->map.insert(QStringLiteral("revision"), old->revision);
            }
            trackViews_.push_back(std::move(*old));
        } else {
            trackViews_.push_back(buildTrackView(track, index, old));
        }
        ++index;
    }
}

const ProjectController::TrackView* ProjectController::findTrackView(const QString& id) {
    model::Uuid uuid;
    if (!model::Uuid::parse(id.toStdString(), uuid)) {
        return nullptr;
    }
    syncViews();
    const auto it =
        std::find_if(trackViews_.begin(), trackViews_.end(), [&](const TrackView& view) { return view.id == uuid; });
    return it != trackViews_.end() ? &*it : nullptr;
}

ProjectController::TrackView ProjectController::buildTrackView(const model::Track& track, int index,
                                                               TrackView* previous) {
    TrackView view;
    view.id = track.id;
    view.stamp = track.stamp.value;
    view.index = index;
    view.revision = ++lastRevision_;
    view.clips.reserve(track.clips.size());
    QVariantList clips;
    clips.reserve(static_cast<qsizetype>(track.clips.size()));
    int notes = 0;
    for (const model::Clip& clip : track.clips) {
        ClipView* kept = nullptr;
        if (previous != nullptr) {
            for (ClipView& old : previous->clips) {
                if (old.id == clip.id && old.stamp == clip.stamp.value) {
                    kept = &old;
                    break;
                }
            }
        }
        view.clips.push_back(kept != nullptr ? std::move(*kept)
                                             : ClipView{clip.id, clip.stamp.value, clipMap(clip), std::nullopt});
        clips.append(view.clips.back().map);
        notes += static_cast<int>(clip.notes.size());
    }
    QVariantMap& map = view.map;
    map.insert(QStringLiteral("id"), idText(track.id));
    map.insert(QStringLiteral("name"), fromUtf8(track.name));
    map.insert(QStringLiteral("clips"), static_cast<int>(track.clips.size()));
    map.insert(QStringLiteral("clipList"), clips);
    map.insert(QStringLiteral("kind"), fromUtf8(track.kind));
    map.insert(QStringLiteral("fmValues"), fmValues(track));
    map.insert(QStringLiteral("instrumentConfig"), configMap(track.instrumentConfig));
    QVariantList devices;
    devices.reserve(static_cast<qsizetype>(track.devices.size()));
    for (const model::Device& device : track.devices) {
        devices.append(deviceMap(device));
    }
    map.insert(QStringLiteral("deviceList"), devices);
    map.insert(QStringLiteral("devices"), static_cast<int>(track.devices.size()));
    map.insert(QStringLiteral("instrument"), fromUtf8(track.instrumentPatch));
    map.insert(QStringLiteral("muted"), track.muted);
    map.insert(QStringLiteral("solo"), track.solo);
    map.insert(QStringLiteral("volume"), track.volume);
    map.insert(QStringLiteral("notes"), notes);
    map.insert(QStringLiteral("index"), index);
    map.insert(QStringLiteral("revision"), view.revision);
    return view;
}

QVariantMap ProjectController::clipMap(const model::Clip& clip) {
    QVariantMap map;
    map.insert(QStringLiteral("id"), idText(clip.id));
    map.insert(QStringLiteral("name"), fromUtf8(clip.name));
    map.insert(QStringLiteral("start"), clip.startBeats);
    map.insert(QStringLiteral("length"), clip.lengthBeats);
    map.insert(QStringLiteral("revision"), ++lastRevision_);
    const bool audio = !clip.audioSource.empty();
    map.insert(QStringLiteral("audio"), audio);
    if (audio) {
        const QString source = fromUtf8(clip.audioSource);
        map.insert(QStringLiteral("source"), source);
        map.insert(QStringLiteral("offsetSeconds"), clip.audioOffsetSeconds);
        const std::optional<SoundFileInfo> info = readSoundFile(source);
        map.insert(QStringLiteral("audioSeconds"), info ? info->seconds : 0.0);
        map.insert(QStringLiteral("peaks"), info ? info->peaks : QVariantList());
    }
    return map;
}

QVariantMap ProjectController::deviceMap(const model::Device& device) const {
    QVariantMap map;
    map.insert(QStringLiteral("id"), idText(device.id));
    map.insert(QStringLiteral("deviceId"), fromUtf8(device.typeId));
    map.insert(QStringLiteral("name"), fromUtf8(device.name));
    map.insert(QStringLiteral("enabled"), device.enabled);
    map.insert(QStringLiteral("values"), knobValues(device.typeId, device.parameters));
    return map;
}

double ProjectController::lengthBeats() const {
    double end = 0.0;
    for (const model::Track& track : document_->tracks()) {
        for (const model::Clip& clip : track.clips) {
            end = std::max(end, clip.startBeats + clip.lengthBeats);
        }
    }
    return end;
}

QStringList ProjectController::clipNotes(const QString& trackId, const QString& clipId) {
    const model::Track* track = findTrack(trackId);
    const model::Clip* clip = track != nullptr ? findClip(*track, clipId) : nullptr;
    if (clip == nullptr) {
        return {};
    }
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(clip->notes.size()) * 5);
    for (const model::Note& note : clip->notes) {
        texts << idText(note.id) << QString::number(note.pitch) << QString::number(note.velocity)
              << QString::number(note.startBeats, 'g', 6) << QString::number(note.lengthBeats, 'g', 6);
    }
    return texts;
}

QString ProjectController::trackInstrument(const QString& id) {
    const model::Track* track = findTrack(id);
    return track != nullptr ? fromUtf8(track->instrumentPatch) : QString();
}

QString ProjectController::trackKind(const QString& id) const {
    const model::Track* track = findTrack(id);
    return track != nullptr ? fromUtf8(track->kind) : QString();
}

QVariantList ProjectController::deviceKnobs(const QString& deviceId) const {
    const std::unique_ptr<engine::DeviceNode> scratch = engine::createDevice(deviceId.toStdString());
    if (scratch == nullptr) {
        return {};
    }
    QVariantList knobs;
    for (const engine::ParamDescriptor& knob : scratch->params.descriptors()) {
        QVariantMap map;
        map.insert(QStringLiteral("key"), QString::fromUtf8(knob.id != nullptr ? knob.id : ""));
        map.insert(QStringLiteral("name"), QString::fromUtf8(knob.name != nullptr ? knob.name : ""));
        map.insert(QStringLiteral("unit"), QString::fromUtf8(knob.unit != nullptr ? knob.unit : ""));
        map.insert(QStringLiteral("min"), static_cast<double>(knob.min));
        map.insert(QStringLiteral("max"), static_cast<double>(knob.max));
        map.insert(QStringLiteral("def"), static_cast<double>(knob.defaultValue));
        map.insert(QStringLiteral("kind"), static_cast<int>(knob.kind));
        map.insert(QStringLiteral("help"), QString::fromUtf8(knob.help != nullptr ? knob.help : ""));
        knobs.append(map);
    }
    return knobs;
}

QVariantList ProjectController::effectCatalogue() const {
    const std::vector<engine::DeviceInfo> catalogue = engine::listDevices();
    const std::vector<engine::Preset>& presets = engine::factoryPresets();
    QVariantList effects;
    for (const std::string& typeId : engine::effectTypeIds()) {
        QVariantMap map;
        map.insert(QStringLiteral("id"), fromUtf8(typeId));
        QString name = fromUtf8(typeId);
        for (const engine::DeviceInfo& info : catalogue) {
            if (info.typeId == typeId) {
                name = fromUtf8(info.displayName);
                break;
            }
        }
        map.insert(QStringLiteral("name"), name);
        QVariantList presetList;
        for (const engine::Preset& preset : presets) {
            if (preset.deviceId != typeId) {
                continue;
            }
            QStringList tags;
            for (const std::string& tag : preset.tags) {
                tags.append(fromUtf8(tag));
            }
            presetList.append(QVariantMap{{QStringLiteral("name"), fromUtf8(preset.name)},
                                          {QStringLiteral("tags"), QVariant(tags)}});
        }
        map.insert(QStringLiteral("presets"), presetList);
        effects.append(map);
    }
    return effects;
}

}  // namespace ostrel::app
