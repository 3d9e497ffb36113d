import QtQuick
import "Notes.js" as Notes
import "Colors.js" as Colors

// Sixteen pads played with the mouse, drum-machine style. With a drum kit they are the drum
// keys 36 to 51 named after their sounds; otherwise 16 notes up from the octave's C. The
// grid keeps no state: mode, notes and labels follow `instrument`, and a pad lights while
// its note sounds from any source.
Item {
    id: root

    readonly property bool drums: instrument.patchCategory === "drums"
    readonly property int firstNote: drums ? 36 : 12 * (instrument.octave + 1)

    implicitHeight: 112

    Accessible.role: Accessible.Grouping
    Accessible.name: qsTr("Pads")

    Grid {
        id: grid

        anchors.fill: parent
        columns: 4
        rows: 4
        spacing: 4

        Repeater {
            model: 16

            Rectangle {
                id: pad

                required property int index
                readonly property int note: Notes.padNote(root.firstNote, index)
                readonly property string drumName: root.drums ? (instrument.padLabels[String(note)] ?? "") : ""
                readonly property bool sounds: !root.drums || drumName !== ""
                readonly property bool lit: instrument.activeNotes.indexOf(note) >= 0

                readonly property string help: root.drums
                    ? qsTr("Hit the %1 pad. Drums use the standard drum keys, so a MIDI drum pad or keyboard plays them too.").arg(drumName)
                    : qsTr("Play this note with a pad. Change the octave with the Octave buttons.")

                objectName: "pad" + index
                width: (grid.width - 12) / 4
                height: (grid.height - 12) / 4
                radius: theme.radius / 2
                color: lit ? theme.colors.accent : sounds ? theme.colors.surfaceRaised : "transparent"
                border.width: 1
                border.color: lit ? theme.colors.accent2 : Colors.outline(theme.colors)
                // A pad of a kit that has no drum on its key takes no presses: it is drawn faint.
                enabled: sounds
                opacity: sounds ? 1.0 : 0.45

                Behavior on color {
                    enabled: !settings.reduceMotion
                    ColorAnimation { duration: 60 }
                }

                Text {
                    objectName: "padLabel"
                    anchors.centerIn: parent
                    width: parent.width - 6
                    horizontalAlignment: Text.AlignHCenter
                    elide: Text.ElideRight
                    text: root.drums ? pad.drumName : Notes.name(pad.note)
                    color: pad.lit ? theme.colors.onAccent : theme.colors.textMuted
                    font.family: theme.fontFamily
                    font.pixelSize: 11
                }

                MouseArea {
                    id: area

                    // The note this press started: the octave may change before the release.
                    property int playing: -1

                    function repeatHelp() {
                        if (containsMouse)
                            app.helpText = pad.help;
                    }

                    function stop() {
                        if (playing >= 0)
                            instrument.padUp(playing);
                        playing = -1;
                    }

                    anchors.fill: parent
                    enabled: pad.sounds
                    hoverEnabled: true

                    onEntered: {
                        app.helpText = pad.help;
                        Qt.callLater(repeatHelp);
                    }
                    onExited: app.helpText = ""
                    // Another kit under a resting pointer: its sentence, or silence for a pad
                    // that no longer sounds.
                    Connections {
                        target: pad
                        function onHelpChanged() { if (area.containsMouse) app.helpText = pad.help; }
                    }
                    onEnabledChanged: if (!enabled && app.helpText === pad.help) app.helpText = ""
                    onPressed: {
                        playing = pad.note;
                        instrument.padDown(playing);
                    }
                    onReleased: stop()
                    onCanceled: stop()
                }
            }
        }
    }
}
