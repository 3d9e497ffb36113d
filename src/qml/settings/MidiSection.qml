import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The MIDI keyboard on the MIDI page: the input list (or none) and a monitor that proves
// notes arrive. A view over `midi`; the choice is stored by the controller.
ColumnLayout {
    id: root

    // "None" first: no keyboard is a choice of its own.
    readonly property var choices: [{id: "", name: qsTr("None")}].concat(midi.devices)

    spacing: theme.spacing * 1.5

    RowLayout {
        Layout.fillWidth: true
        spacing: theme.spacing

        Text {
            objectName: "midiHeader"
            Layout.fillWidth: true
            text: midi.devices.length > 0
                  ? qsTr("MIDI keyboard  ·  driver: %1").arg(midi.driverName)
                  : qsTr("No MIDI keyboard found (driver: %1)").arg(midi.driverName)
            color: theme.colors.text
            font.family: theme.fontFamily
            font.pixelSize: theme.baseFontSize
            font.weight: Font.Medium
            wrapMode: Text.WordWrap
        }

        FlatButton {
            objectName: "midiRefresh"
            text: qsTr("Refresh")
            implicitHeight: 28
            help: qsTr("Look for MIDI keyboards again, for example after plugging one in.")
            onClicked: midi.refreshDevices()
        }
    }

    ListView {
        objectName: "midiDevices"
        Layout.fillWidth: true
        Layout.preferredHeight: 38 * Math.min(4, count)
        clip: true
        spacing: 2
        boundsBehavior: Flickable.StopAtBounds
        model: root.choices

        ScrollBar.vertical: ScrollBar {
            id: scrollBar

            policy: ScrollBar.AsNeeded
            // Only a handle, and only while there is something to scroll.
            contentItem: Rectangle {
                implicitWidth: 4
                radius: 2
                color: theme.colors.border
                visible: scrollBar.size < 1.0
            }
            background: null
        }

        delegate: FlatButton {
            required property var modelData

            width: ListView.view.width - 10
            height: 36
            textAlign: Text.AlignLeft
            text: modelData.name
            selected: midi.selectedDeviceId === modelData.id
            help: modelData.id === ""
                  ? qsTr("Do not listen to any MIDI keyboard. This also frees the keyboard for other programs.")
                  : qsTr("Play Ostrel's instrument with %1. Other programs cannot use it while Ostrel listens.").arg(modelData.name)
            onClicked: midi.selectDevice(modelData.id)
        }
    }

    Text {
        objectName: "midiStatus"
        Layout.fillWidth: true
        text: midi.status
        color: midi.problem ? theme.colors.warning : theme.colors.textMuted
        font.family: theme.fontFamily
        font.pixelSize: 13
        wrapMode: Text.WordWrap
        Accessible.role: Accessible.StaticText
        Accessible.name: text
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

    Rectangle {
        Layout.fillWidth: true
        Layout.preferredHeight: 1
        color: theme.colors.border
        opacity: 0.6
    }
}
