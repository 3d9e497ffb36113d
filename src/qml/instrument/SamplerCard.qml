import QtQuick
import QtQuick.Layouts
import "KnobCells.js" as KnobCells
import "SampleKnobs.js" as SampleKnobs

// The card of a track's Sampler: its sound, the Loop switch and five knobs. It never
// changes its own picture: every gesture is one call on `project`, and the card shows what
// the track's configuration says once the project has changed.
DeviceCard {
    id: root

    property string trackId: ""
    property var config: ({})

    readonly property string sampleName: config && typeof config.sample === "string" ? config.sample : ""
    readonly property bool looping: !!config && config.loop === true
    readonly property bool sampleOver: dropArea.containsDrag
    readonly property var knobs: [
        {key: "gain", label: qsTr("Gain"), min: 0, max: 2, def: 1,
         help: qsTr("How loud the recording is (100 % = as recorded).")},
        {key: "root_note", label: qsTr("Root key"), min: 0, max: 127, def: 60,
         help: qsTr("The key that plays the recording exactly as it is. Higher keys play it higher and faster, lower keys lower and slower.")},
        {key: "tune_cents", label: qsTr("Tune"), min: -100, max: 100, def: 0,
         help: qsTr("Fine tuning in cents (100 cents = one semitone).")},
        {key: "attack_ms", label: qsTr("Attack"), min: 0, max: 2000, def: 2,
         help: qsTr("How quickly the sound fades in after a key press.")},
        {key: "release_ms", label: qsTr("Release"), min: 1, max: 5000, def: 80,
         help: qsTr("How long the sound takes to fade out after the key comes up.")}
    ]

    function knobText(k, v) {
        return SampleKnobs.text(k.key, v);
    }

    // Three knobs to a line while the card's height holds two lines of them; in a shorter
    // effects view all five go on one line and the card grows wider, so none is cut off.
    readonly property int knobRows: height > 0
        ? Math.max(1, Math.floor((height - 20 - title.implicitHeight - soundWell.Layout.preferredHeight
                                  - 2 * column.spacing + knobGrid.rowSpacing) / (KnobCells.height + knobGrid.rowSpacing)))
        : 2
    readonly property int knobColumns: knobRows >= 2 ? 3 : knobs.length

    implicitWidth: Math.max(320, knobColumns * KnobCells.width + 20)
    width: implicitWidth
    border.color: sampleOver ? theme.colors.accent2 : theme.colors.border

    DropArea {
        id: dropArea

        objectName: "samplerDrop"
        anchors.fill: parent
        keys: ["ostrel/sample"]
        onDropped: drop => {
            project.setSamplerSample(root.trackId, String(drop.source.fileName));
            drop.accept(Qt.CopyAction);
        }
    }

    ColumnLayout {
        id: column

        anchors.fill: parent
        anchors.margins: 10
        spacing: 6

        CardTitle {
            id: title

            Layout.fillWidth: true
            category: "sampler"
            text: qsTr("Sampler")

            FlatButton {
                objectName: "loopButton"
                Layout.preferredWidth: 52
                Layout.preferredHeight: 22
                implicitWidth: 52
                implicitHeight: 22
                text: qsTr("Loop")
                selected: root.looping
                help: qsTr("On: the sound repeats for as long as the key is held. Off: it plays once.")
                onClicked: project.setSamplerParameter(root.trackId, "loop", root.looping ? 0 : 1)
            }
        }

        Rectangle {
            id: soundWell

            objectName: "soundWell"
            Layout.fillWidth: true
            Layout.preferredHeight: 34
            radius: 6
            color: theme.colors.surface
            border.width: 1
            border.color: root.sampleOver ? theme.colors.accent2 : theme.colors.border

            // Takes no buttons, so a click reaches the "×" button beneath the pointer.
            MouseArea {
                anchors.fill: parent
                acceptedButtons: Qt.NoButton
                hoverEnabled: true
                onEntered: app.helpText = qsTr("Drag a sound file here from the browser's SAMPLES list. Play it with the keys below or a MIDI keyboard.")
                onExited: app.helpText = ""
            }

            RowLayout {
                anchors.fill: parent
                anchors.margins: 6
                spacing: 6

                CategoryIcon {
                    objectName: "soundIcon"
                    category: "sampler"
                    size: 16
                    color: root.sampleName !== "" ? theme.colors.accent2 : theme.colors.textMuted
                }

                Text {
                    objectName: "soundName"
                    Layout.fillWidth: true
                    text: root.sampleName !== "" ? root.sampleName : qsTr("Drop a sound here")
                    color: root.sampleName !== "" ? theme.colors.text : theme.colors.textMuted
                    font.family: theme.fontFamily
                    font.pixelSize: 12
                    elide: Text.ElideMiddle
                }

                FlatButton {
                    objectName: "clearSound"
                    visible: root.sampleName !== ""
                    Layout.preferredWidth: 24
                    Layout.preferredHeight: 22
                    implicitWidth: 24
                    implicitHeight: 22
                    text: "×"
                    help: qsTr("Take the sound out of the sampler (it is silent until you drop another).")
                    onClicked: project.setSamplerSample(root.trackId, "")
                }
            }
        }

        GridLayout {
            id: knobGrid

            objectName: "knobGrid"
            columns: root.knobColumns
            columnSpacing: 0
            rowSpacing: 4

            Repeater {
                model: root.knobs

                SampleKnobCell {
                    values: root.config
                    onCommit: v => project.setSamplerParameter(root.trackId, modelData.key, v)
                }
            }
        }

        Item {
            Layout.fillHeight: true
        }
    }
}
