import QtQuick
import QtQuick.Layouts

// The MIDI keyboard on the MIDI page: the input list (or none) and a monitor that proves
// notes arrive. A view over `midi`; the choice is stored by the controller.
ColumnLayout {
    id: root

    // "None" first: no keyboard is a choice of its own.
    readonly property var choices: [{id: "", name: qsTr("None")}].concat(midi.devices)

    spacing: theme.spacing * 1.5

    DeviceChooser {
        Layout.fillWidth: true
        name: "midi"
        title: midi.devices.length > 0
               ? qsTr("MIDI keyboard  ·  driver: %1").arg(midi.driverName)
               : qsTr("No MIDI keyboard found (driver: %1)").arg(midi.driverName)
        refreshHelp: qsTr("Look for MIDI keyboards again, for example after plugging one in.")
        choices: root.choices
        selectedId: midi.selectedDeviceId
        helpOf: choice => choice.id === ""
                          ? qsTr("Do not listen to any MIDI keyboard. This also frees the keyboard for other programs.")
                          : qsTr("Play Ostrel's instrument with %1. Other programs cannot use it while Ostrel listens.").arg(choice.name)
        onRefresh: midi.refreshDevices()
        onPicked: id => midi.selectDevice(id)
    }

    StatusLine {
        objectName: "midiStatus"
        text: midi.status
        problem: midi.problem
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: theme.spacing * 1.5

        Rectangle {
            id: dot

            objectName: "activityDot"
            Layout.preferredWidth: 10
            Layout.preferredHeight: 10
            radius: 5
            color: midi.connected ? theme.colors.success : "transparent"
            border.width: midi.connected ? 0 : 1
            border.color: theme.colors.textMuted

            SequentialAnimation {
                id: blink

                objectName: "activityBlink"
                NumberAnimation { target: dot; property: "opacity"; to: 0.25; duration: 40 }
                NumberAnimation { target: dot; property: "opacity"; to: 1.0; duration: 200 }
            }

            Connections {
                target: midi
                function onActivity() {
                    if (!settings.reduceMotion)
                        blink.restart();
                }
            }
        }

        Text {
            objectName: "lastMessage"
            Layout.fillWidth: true
            text: midi.messageCount > 0
                  ? qsTr("Last message: %1").arg(midi.lastMessage)
                  : qsTr("Nothing received yet. Press a key on your keyboard.")
            color: theme.colors.text
            font.family: theme.fontFamily
            font.pixelSize: 13
            elide: Text.ElideRight
        }

        Text {
            objectName: "messageCount"
            text: qsTr("%1 messages").arg(midi.messageCount)
            color: theme.colors.textMuted
            font.family: theme.fontFamily
            font.pixelSize: 12
        }
    }

    Text {
        objectName: "midiNote"
        Layout.fillWidth: true
        text: qsTr("Notes play the instrument on the PLAY card. Sound starts when you press a key: the sound card opens by itself. To steer a sound control with a knob or wheel of your keyboard, click the control's name on the PLAY card and move the knob (MIDI learn). Keyboard profiles and MIDI output arrive in later releases.")
        color: theme.colors.textMuted
        font.family: theme.fontFamily
        font.pixelSize: 12
        lineHeight: 1.25
        wrapMode: Text.WordWrap
    }

    SectionRule {}
}
