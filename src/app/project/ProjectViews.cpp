// The read-only maps and lists the QML and the control API draw the song from.

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
    if (!tracksCache_) {
        tracksCache_ = buildTracks();
    }
    return *tracksCache_;
}

QVariantList ProjectController::buildTracks() {
    QVariantList list;
    list.reserve(static_cast<qsizetype>(document_->tracks().size()));
    int index = 0;
    for (const model::Track& track : document_->tracks()) {
        QVariantMap map;
        map.insert(QStringLiteral("id"), idText(track.id));
        map.insert(QStringLiteral("name"), fromUtf8(track.name));
        map.insert(QStringLiteral("clips"), static_cast<int>(track.clips.size()));
        QVariantList clips;
        clips.reserve(static_cast<qsizetype>(track.clips.size()));
        int notes = 0;
        for (const model::Clip& clip : track.clips) {
            clips.append(clipMap(clip));
            notes += static_cast<int>(clip.notes.size());
        }
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
        map.insert(QStringLiteral("index"), index++);
        list.append(map);
    }
    return list;
}

QVariantMap ProjectController::clipMap(const model::Clip& clip) {
    QVariantMap map;
    map.insert(QStringLiteral("id"), idText(clip.id));
    map.insert(QStringLiteral("name"), fromUtf8(clip.name));
    map.insert(QStringLiteral("start"), clip.startBeats);
    map.insert(QStringLiteral("length"), clip.lengthBeats);
    QVariantList notes;
    notes.reserve(static_cast<qsizetype>(clip.notes.size()));
    for (const model::Note& note : clip.notes) {
        notes.append(QVariant(QVariantList{static_cast<int>(note.pitch), note.startBeats, note.lengthBeats}));
    }
    map.insert(QStringLiteral("notes"), notes);
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
