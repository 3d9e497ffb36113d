import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "Colors.js" as Colors
import "KnobCells.js" as KnobCells
import "Tracks.js" as Tracks

// The effects view of one track: the instrument's own card when it has one, then the
// effect chain from left to right in the order the sound passes through it. Every change is
// one call on `project`; the cards are made again from the rebuilt track list.
Item {
    id: root

    property string trackId: ""

    // The track's map, taken again only when that track changed, so the cards stay as they
    // are through an edit of another track.
    property var track: null
    readonly property var chain: track ? track.deviceList : []
    readonly property bool isFm: track !== null && track.instrument !== ""
                                 && instrument.patchCategories[track.instrument] === "fm"
    readonly property bool hasInstrumentCard: track !== null
                                              && (track.instrument === "Sampler" || track.instrument === "Drum Rack" || isFm)

    function takeTrack() {
        const next = Tracks.find(project, trackId, track);
        if (next !== track)
            track = next;
    }

    onTrackIdChanged: takeTrack()
    Component.onCompleted: takeTrack()

    Connections {
        target: project

        function onProjectChanged() {
            root.takeTrack();
        }
    }

    function knobText(k, v) {
        if (k.unit === "%" && k.max <= 1.0)
            return Math.round(v * 100) + " %";
        const span = k.max - k.min;
        const decimals = span > 200 ? 0 : span > 20 ? 1 : 2;
        return v.toFixed(decimals) + (k.unit !== "" ? " " + k.unit : "");
    }

    // The title of a device name, and the preset it started from ("" when none).
    function titleOf(name) {
        const at = name.indexOf(" - ");
        return at < 0 ? name : name.slice(0, at);
    }

    function presetOf(name) {
        const at = name.indexOf(" - ");
        return at < 0 ? "" : name.slice(at + 3);
    }

    // Drawn beneath the cards while an effect is dragged over the panel.
    Rectangle {
        objectName: "dropHighlight"
        anchors.fill: parent
        visible: dropArea.containsDrag
        color: Colors.withAlpha(theme.colors.accent, 0.1)
        border.width: 2
        border.color: theme.colors.accent
        radius: theme.radius
    }

    DropArea {
        id: dropArea

        objectName: "effectDrop"
        anchors.fill: parent
        keys: ["ostrel/effect"]
        onEntered: drag => {
            if (root.trackId === "")
                drag.accepted = false;
        }
        onDropped: drop => {
            if (root.trackId === "")
                return;
            project.addDevice(root.trackId, String(drop.source.deviceId), String(drop.source.presetName));
            drop.accept(Qt.CopyAction);
        }
    }

    EmptyState {
        anchors.centerIn: parent
        width: parent.width - 2 * theme.spacing
        visible: root.chain.length === 0 && !root.hasInstrumentCard
        title: root.track ? qsTr("No effects on “%1” yet").arg(root.track.name) : qsTr("No track selected")
        hint: root.track
              ? qsTr("Drag an effect from the browser's EFFECTS list onto this panel, or double-click one to add it.")
              : qsTr("Click a track in the timeline to see and edit its effects.")
    }

    Flickable {
        id: view

        objectName: "chainView"
        anchors.fill: parent
        anchors.margins: theme.spacing
        visible: root.chain.length > 0 || root.hasInstrumentCard
        flickableDirection: Flickable.HorizontalFlick
        boundsBehavior: Flickable.StopAtBounds
        clip: true
        contentWidth: row.width
        contentHeight: height

        ScrollBar.horizontal: ThinScrollBar {
            objectName: "chainScrollBar"
            padding: 2
            thickness: 5
            handleRadius: 2
        }

        // The cards take the view's whole height; the scroll bar, when there is one, runs over
        // their bottom margin.
        Row {
            id: row

            objectName: "chainRow"
            height: view.height
            spacing: theme.spacing

            SamplerCard {
                objectName: "samplerCard"
                visible: root.track !== null && root.track.instrument === "Sampler"
                height: row.height
                trackId: root.trackId
                config: root.track ? root.track.instrumentConfig : ({})
            }

            FmCard {
                objectName: "fmCard"
                visible: root.isFm
                height: row.height
                room: view.width
                trackId: root.trackId
                title: root.track ? root.track.instrument : ""
                values: root.track ? root.track.fmValues : ({})
            }

            DrumRackCard {
                objectName: "drumRackCard"
                visible: root.track !== null && root.track.instrument === "Drum Rack"
                height: row.height
                trackId: root.trackId
                config: root.track ? root.track.instrumentConfig : ({})
            }

            Repeater {
                model: root.chain

                DeviceCard {
                    id: card

                    required property var modelData
                    required property int index
                    readonly property var knobs: project.deviceKnobs(modelData.deviceId)
                    // As many columns as it takes to show every knob in the rows the
                    // card's height holds: a short effects view makes the card wider, and
                    // the view scrolls sideways, rather than knobs falling off the bottom.
                    readonly property int rowsThatFit: Math.max(1, Math.floor(
                        (height - 2 * cardColumn.anchors.margins - titleBlock.height - cardColumn.spacing + knobGrid.rowSpacing)
                        / (KnobCells.height + knobGrid.rowSpacing)))
                    readonly property int columns: Math.max(knobs.length <= 6 ? 3 : 5,
                                                            Math.ceil(knobs.length / rowsThatFit))
                    readonly property string preset: root.presetOf(modelData.name)

                    function shownValue(k) {
                        const stored = modelData.values ? modelData.values[k.key] : undefined;
                        return typeof stored === "number" ? stored : k.def;
                    }

                    // Where the card would land if the pointer let go now: the number of
                    // other effect cards whose middle lies left of this one's.
                    function landingIndex() {
                        const middle = x + dragShift + width / 2;
                        let landing = 0;
                        for (let i = 0; i < row.children.length; ++i) {
                            const other = row.children[i];
                            if (other !== card && other.isEffectCard === true && other.x + other.width / 2 < middle)
                                ++landing;
                        }
                        return landing;
                    }

                    readonly property bool isEffectCard: true
                    // How far the card is being dragged sideways, in pixels.
                    property real dragShift: 0

                    objectName: "effectCard" + index
                    transform: Translate { x: card.dragShift }
                    z: dragShift !== 0 ? 1 : 0
                    width: columns * KnobCells.width + 20
                    height: row.height
                    opacity: modelData.enabled ? 1.0 : 0.55

                    ColumnLayout {
                        id: cardColumn

                        anchors.fill: parent
                        anchors.margins: 10
                        spacing: 4

                        // The name has a line of its own, so even a three-column card shows it
                        // whole; the preset and the buttons share the line under it.
                        ColumnLayout {
                            id: titleBlock
                            objectName: "titleBlock"
                            Layout.fillWidth: true
                            spacing: 2

                            RowLayout {
                                Layout.fillWidth: true
                                spacing: 4

                                CategoryIcon {
                                    category: "fx"
                                    size: 16
                                    color: theme.colors.accent2
                                }

                                Text {
                                    objectName: "effectTitle"
                                    Layout.fillWidth: true
                                    Layout.preferredWidth: 0
                                    text: root.titleOf(card.modelData.name)
                                    color: theme.colors.text
                                    font.family: theme.fontFamily
                                    font.pixelSize: 13
                                    font.weight: Font.DemiBold
                                    elide: Text.ElideRight

                                    // The name is the card's handle: dragged sideways, the card
                                    // moves along the chain in one step when it is let go.
                                    MouseArea {
                                        property real pressX: 0

                                        objectName: "cardGrip"
                                        anchors.fill: parent
                                        hoverEnabled: true
                                        // The chain scrolls sideways too: the drag must stay here.
                                        preventStealing: true
                                        cursorShape: pressed ? Qt.ClosedHandCursor : Qt.OpenHandCursor
                                        onEntered: app.helpText = qsTr("Drag the name sideways to move this effect along the chain.")
                                        onExited: app.helpText = ""
                                        onPressed: mouse => pressX = mapToItem(row, mouse.x, 0).x
                                        onPositionChanged: mouse => {
                                            if (pressed)
                                                card.dragShift = mapToItem(row, mouse.x, 0).x - pressX;
                                        }
                                        onReleased: {
                                            const landing = card.landingIndex();
                                            card.dragShift = 0;
                                            if (landing !== card.index)
                                                project.moveDevice(root.trackId, card.modelData.id, landing);
                                        }
                                        onCanceled: card.dragShift = 0
                                    }
                                }
                            }

                            RowLayout {
                                Layout.fillWidth: true
                                spacing: 4

                                Text {
                                    objectName: "effectPreset"
                                    Layout.fillWidth: true
                                    Layout.preferredWidth: 0
                                    visible: card.preset !== ""
                                    text: card.preset
                                    color: theme.colors.textMuted
                                    font.family: theme.fontFamily
                                    font.pixelSize: 10
                                    elide: Text.ElideRight
                                }

                                // Keeps the buttons at the right end without a preset.
                                Item {
                                    Layout.fillWidth: true
                                    visible: card.preset === ""
                                }

                                FlatButton {
                                    objectName: "bypassButton"
                                    implicitWidth: 36
                                    implicitHeight: 20
                                    Layout.preferredWidth: 36
                                    Layout.preferredHeight: 20
                                    text: card.modelData.enabled ? qsTr("On") : qsTr("Off")
                                    selected: card.modelData.enabled
                                    help: qsTr("Bypass: switch this effect off without removing it (and back on).")
                                    onClicked: project.setDeviceEnabled(root.trackId, card.modelData.id, !card.modelData.enabled)
                                }

                                FlatButton {
                                    objectName: "moveEarlier"
                                    implicitWidth: 22
                                    implicitHeight: 20
                                    Layout.preferredWidth: 22
                                    Layout.preferredHeight: 20
                                    text: "◀"
                                    enabled: card.index > 0
                                    opacity: enabled ? 1.0 : 0.4
                                    help: qsTr("Move this effect one place earlier in the chain (the sound passes through the chain from left to right).")
                                    onClicked: project.moveDevice(root.trackId, card.modelData.id, card.index - 1)
                                }

                                FlatButton {
                                    objectName: "moveLater"
                                    implicitWidth: 22
                                    implicitHeight: 20
                                    Layout.preferredWidth: 22
                                    Layout.preferredHeight: 20
                                    text: "▶"
                                    enabled: card.index < root.chain.length - 1
                                    opacity: enabled ? 1.0 : 0.4
                                    help: qsTr("Move this effect one place later in the chain.")
                                    onClicked: project.moveDevice(root.trackId, card.modelData.id, card.index + 1)
                                }

                                FlatButton {
                                    objectName: "removeButton"
                                    implicitWidth: 22
                                    implicitHeight: 20
                                    Layout.preferredWidth: 22
                                    Layout.preferredHeight: 20
                                    text: "×"
                                    help: qsTr("Remove this effect from the track. Undo brings it back.")
                                    onClicked: project.removeDevice(root.trackId, card.modelData.id)
                                }
                            }
                        }

                        Grid {
                            id: knobGrid
                            objectName: "knobGrid"
                            columns: card.columns
                            columnSpacing: 0
                            rowSpacing: 4

                            Repeater {
                                model: card.knobs

                                DeviceKnobCell {
                                    required property var modelData

                                    objectName: "knob_" + modelData.key
                                    label: modelData.name
                                    help: modelData.help
                                    from: modelData.min
                                    to: modelData.max
                                    defaultValue: modelData.def
                                    isSwitch: modelData.kind === 2
                                    stored: card.shownValue(modelData)
                                    format: v => root.knobText(modelData, v)
                                    onCommit: v => project.setDeviceParameter(root.trackId, card.modelData.id, modelData.key, v)
                                }
                            }
                        }

                        Item {
                            Layout.fillHeight: true
                        }
                    }
                }
            }
        }
    }
}
