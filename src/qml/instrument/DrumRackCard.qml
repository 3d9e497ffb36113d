import QtQuick
import QtQuick.Layouts
import "Notes.js" as Notes
import "SampleKnobs.js" as SampleKnobs
import "TextSize.js" as TextSize
import "Colors.js" as Colors

// The card of a track's Drum Rack: sixteen pads, the MIDI notes 36 to 51 from the bottom
// left, and the gain, tune and release of the picked pad. Every change is one call on
// `project`; the card shows what the track's configuration says afterwards.
DeviceCard {
    id: root

    property string trackId: ""
    property var config: ({})
    // The pad whose knobs are shown; the card's only state, kept across tracks.
    property int selectedNote: 36

    readonly property var pads: config && Array.isArray(config.pads) ? config.pads : []
    readonly property var selectedPad: padFor(selectedNote)
    readonly property var knobs: [
        {key: "gain", label: qsTr("Gain"), min: 0, max: 2, def: 1,
         help: qsTr("How loud this pad is (100 % = as recorded).")},
        {key: "tune_cents", label: qsTr("Tune"), min: -100, max: 100, def: 0,
         help: qsTr("Fine tuning of this pad in cents (100 cents = one semitone).")},
        {key: "release_ms", label: qsTr("Release"), min: 1, max: 5000, def: 80,
         help: qsTr("How long this pad's sound takes to fade out when it is cut off.")}
    ]

    function padFor(note) {
        for (let i = 0; i < pads.length; ++i) {
            const entry = pads[i];
            if (entry !== null && typeof entry === "object" && entry.note === note)
                return entry;
        }
        return null;
    }

    function stem(file) {
        if (file === undefined || file === null)
            return "";
        const name = String(file);
        return name.toLowerCase().endsWith(".wav") ? name.slice(0, name.length - 4) : name;
    }

    function knobText(k, v) {
        return SampleKnobs.text(k.key, v);
    }

    // The pads give up height before the bottom row leaves the card: the effects view of
    // the detail panel is shorter than four full rows.
    readonly property int padHeight: height > 0
        ? Math.max(24, Math.min(48, Math.floor((height - 20 - padHeader.implicitHeight - 6 - 3 * 4) / 4)))
        : 48

    implicitWidth: 508
    width: 508

    RowLayout {
        anchors.fill: parent
        anchors.margins: 10
        spacing: 10

        ColumnLayout {
            Layout.fillHeight: true
            Layout.alignment: Qt.AlignTop
            spacing: 6

            CardTitle {
                id: padHeader

                // The hint follows the name closely, however wide the column.
                Layout.fillWidth: false
                category: "drums"
                text: qsTr("Drum Rack")

                Text {
                    text: qsTr("drop sounds on the pads")
                    color: theme.colors.textMuted
                    font.family: theme.fontFamily
                    font.pixelSize: 10
                }
            }

            Grid {
                objectName: "padGrid"
                columns: 4
                spacing: 4

                Repeater {
                    model: 16

                    Rectangle {
                        id: pad

                        required property int index
                        readonly property int note: Notes.padNote(36, index)
                        readonly property var padData: root.padFor(note)
                        readonly property bool filled: padData !== null && padData.sample !== undefined
                                                       && padData.sample !== null && String(padData.sample) !== ""
                        readonly property bool lit: instrument.activeNotes.indexOf(note) >= 0
                        readonly property bool picked: root.selectedNote === note

                        objectName: "pad" + note
                        width: 64
                        height: root.padHeight
                        radius: 6
                        color: lit ? theme.colors.accent : filled ? theme.colors.surface : "transparent"
                        border.width: picked ? 2 : 1
                        border.color: padDrop.containsDrag || picked ? theme.colors.accent2 : Colors.outline(theme.colors)

                        Accessible.role: Accessible.Button
                        Accessible.name: qsTr("Pad %1").arg(index) + (filled ? ", " + root.stem(padData.sample) : "")

                        Text {
                            objectName: "padText"
                            anchors.fill: parent
                            anchors.margins: 4
                            horizontalAlignment: Text.AlignHCenter
                            verticalAlignment: Text.AlignVCenter
                            text: pad.filled ? root.stem(pad.padData.sample) : qsTr("empty")
                            color: pad.lit ? theme.colors.onAccent : pad.filled ? theme.colors.text : theme.colors.textMuted
                            font.family: theme.fontFamily
                            font.pixelSize: 10
                            wrapMode: Text.WrapAnywhere
                            maximumLineCount: 2
                            elide: Text.ElideRight
                        }

                        MouseArea {
                            anchors.fill: parent
                            acceptedButtons: Qt.LeftButton | Qt.RightButton
                            hoverEnabled: true
                            onEntered: app.helpText = qsTr("Click to hear this pad and pick it. Drop a sound file here to fill it. Right-click empties it. Key %1.").arg(pad.note)
                            onExited: app.helpText = ""
                            onPressed: mouse => {
                                if (mouse.button === Qt.RightButton) {
                                    project.clearPad(root.trackId, pad.note);
                                    return;
                                }
                                root.selectedNote = pad.note;
                                if (pad.filled)
                                    instrument.padDown(pad.note);
                            }
                            onReleased: mouse => {
                                if (mouse.button === Qt.LeftButton && pad.filled)
                                    instrument.padUp(pad.note);
                            }
                            onCanceled: instrument.padUp(pad.note)
                        }

                        DropArea {
                            id: padDrop

                            anchors.fill: parent
                            keys: ["ostrel/sample"]
                            onDropped: drop => {
                                root.selectedNote = pad.note;
                                project.setPad(root.trackId, pad.note, String(drop.source.fileName));
                                drop.accept(Qt.CopyAction);
                            }
                        }
                    }
                }
            }

            Item {
                Layout.fillHeight: true
            }
        }

        ColumnLayout {
            Layout.fillHeight: true
            Layout.alignment: Qt.AlignTop
            spacing: 4

            Text {
                objectName: "padCaption"
                Layout.preferredWidth: 210
                text: root.selectedPad !== null
                      ? qsTr("PAD %1: %2").arg(root.selectedNote - 35).arg(root.stem(root.selectedPad.sample))
                      : qsTr("PAD %1: empty").arg(root.selectedNote - 35)
                color: theme.colors.textMuted
                font.family: theme.fontFamily
                font.pixelSize: TextSize.atLeast(9, Screen.devicePixelRatio)
                font.letterSpacing: 0.6
                elide: Text.ElideRight
            }

            Row {
                objectName: "padKnobs"
                enabled: root.selectedPad !== null
                opacity: enabled ? 1.0 : 0.4

                Repeater {
                    model: root.knobs

                    SampleKnobCell {
                        values: root.selectedPad
                        onCommit: v => project.setPadParameter(root.trackId, root.selectedNote, modelData.key, v)
                    }
                }
            }

            Item {
                Layout.fillHeight: true
            }
        }
    }
}
