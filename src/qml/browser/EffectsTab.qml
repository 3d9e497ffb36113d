import QtQuick

// The browser's effects, each opening into its factory presets. A double-click or a drag
// puts the effect, or the effect with a preset, on a track.
Item {
    id: root

    // The search words: trimmed and in lower case; empty for no search.
    property string words: ""
    // Effect type id to true when its presets show; replaced, never changed in place.
    property var expanded: ({})
    // The catalogue is read afresh at every rebuild; it has no change signal of its own.
    readonly property var rows: buildRows(words, expanded)
    readonly property alias list: browserList.list

    signal loadEffect(string deviceId, string presetName)

    function buildRows(words, opened) {
        const result = [];
        for (const effect of project.effectCatalogue()) {
            const matches = words === "" || effect.name.toLowerCase().indexOf(words) >= 0
                            || "effect fx".indexOf(words) >= 0;
            const shown = effect.presets.filter(preset => matches
                                                || preset.name.toLowerCase().indexOf(words) >= 0
                                                || preset.tags.join(" ").indexOf(words) >= 0);
            if (!matches && shown.length === 0)
                continue;
            result.push({kind: "effect", deviceId: effect.id, name: effect.name, presetName: "",
                         count: effect.presets.length});
            if (words !== "" || opened[effect.id] === true) {
                for (const preset of shown)
                    result.push({kind: "preset", deviceId: effect.id, name: preset.name, presetName: preset.name,
                                 count: 0});
            }
        }
        return result;
    }

    function toggleOpen(deviceId) {
        const next = Object.assign({}, expanded);
        next[deviceId] = expanded[deviceId] !== true;
        expanded = next;
    }

    BrowserList {
        id: browserList

        anchors.fill: parent
        listName: "effectList"
        rows: root.rows

        delegate: BrowserRow {
            id: row

            required property string kind
            required property string deviceId
            required property string name
            required property string presetName
            required property int count
            readonly property bool effect: kind === "effect"

            objectName: effect ? "effectRow" : "presetRow"
            width: ListView.view.width - 8
            height: 28
            help: effect ? qsTr("Click to show or hide the presets of the %1. Double-click, or drag onto a track, to add it with its default settings.").arg(row.name)
                         : qsTr("Double-click, or drag onto a track, to add “%1” to that track's effects.").arg(row.name)
            Accessible.name: row.name
            dragKey: "ostrel/effect"
            dragDeviceId: row.deviceId
            dragPresetName: row.presetName
            labelText: row.name
            labelIcon: "fx"
            labelWidth: 170
            labelColor: theme.colors.accent2
            labelTextColor: theme.colors.background

            onClicked: if (effect) root.toggleOpen(row.deviceId)
            onDoubleClicked: root.loadEffect(row.deviceId, row.presetName)

            Row {
                anchors.fill: parent
                anchors.leftMargin: row.effect ? 8 : 30
                anchors.rightMargin: 8
                spacing: 6

                Text {
                    objectName: "foldArrow"
                    visible: row.effect
                    width: 10
                    anchors.verticalCenter: parent.verticalCenter
                    text: root.words !== "" || root.expanded[row.deviceId] === true ? "▾" : "▸"
                    color: theme.colors.textMuted
                    font.pixelSize: 11
                }

                CategoryIcon {
                    visible: row.effect
                    anchors.verticalCenter: parent.verticalCenter
                    category: "fx"
                    size: 16
                    color: theme.colors.textMuted
                }

                Text {
                    objectName: "rowLabel"
                    anchors.verticalCenter: parent.verticalCenter
                    width: parent.width - x - (row.effect ? countText.width + parent.spacing : 0)
                    text: row.name
                    color: row.effect ? theme.colors.text : theme.colors.textMuted
                    font.family: theme.fontFamily
                    font.pixelSize: row.effect ? theme.baseFontSize : 13
                    elide: Text.ElideRight
                }

                Text {
                    id: countText

                    objectName: "countText"
                    visible: row.effect
                    anchors.verticalCenter: parent.verticalCenter
                    text: qsTr("%1 presets").arg(row.count)
                    color: theme.colors.textMuted
                    font.family: theme.fontFamily
                    font.pixelSize: 10
                }
            }
        }
    }
}
