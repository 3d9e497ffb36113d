import QtQuick
import "SampleKnobs.js" as SampleKnobs

// One knob of a card that plays recordings, made from a row of the card's table
// {key, label, min, max, def, help}: it shows what `values` holds for its key.
DeviceKnobCell {
    required property var modelData
    // The stored values by key: the Sampler's configuration, the picked pad; null for none.
    property var values: null

    objectName: "knob_" + modelData.key
    label: modelData.label
    help: modelData.help
    from: modelData.min
    to: modelData.max
    defaultValue: modelData.def
    stored: SampleKnobs.stored(values, modelData)
    format: v => SampleKnobs.text(modelData.key, v)
}
