import QtQuick
import QtQuick.Layouts

// The sound card on the Audio page: the device list, the test tone and four live
// readouts of the engine. A view over `audio`; the choice is stored by the controller.
ColumnLayout {
    id: root

    // The system's default first, so the list is never empty.
    readonly property var choices: [{id: "", name: qsTr("System default"), isDefault: false}].concat(audio.devices)

    component Readout: ColumnLayout {
        id: readout

        property string label: ""
        property string value: ""
        property bool bad: false
        property string help: ""

        spacing: 2

        HoverHandler {
            onHoveredChanged: app.helpText = hovered ? readout.help : ""
        }

        Text {
            text: readout.label.toUpperCase()
            color: theme.colors.textMuted
            font.family: theme.fontFamily
            font.pixelSize: 10
            font.letterSpacing: 1.2
        }

        Text {
            objectName: "readoutValue"
            text: readout.value
            color: readout.bad ? theme.colors.warning : theme.colors.text
            font.family: theme.fontFamily
            font.pixelSize: theme.baseFontSize
            font.weight: Font.Medium
        }
    }

    spacing: theme.spacing * 1.5

    DeviceChooser {
        Layout.fillWidth: true
        name: "audio"
        title: audio.devices.length > 0
               ? qsTr("Output device  ·  driver: %1").arg(audio.driverName)
               : qsTr("No sound card found (driver: %1)").arg(audio.driverName)
        refreshHelp: qsTr("Look for sound cards again, for example after plugging one in.")
        choices: root.choices
        selectedId: audio.selectedDeviceId
        textOf: choice => choice.name + (choice.isDefault ? "   ·   " + qsTr("default") : "")
        helpOf: choice => choice.id === ""
                          ? qsTr("Play Ostrel's sound through whichever sound card the system is using.")
                          : qsTr("Play Ostrel's sound through %1.").arg(choice.name)
        onRefresh: audio.refreshDevices()
        onPicked: id => audio.selectDevice(id)
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: theme.spacing * 2

        FlatButton {
            objectName: "testTone"
            primary: true
            text: audio.testToneOn ? qsTr("Stop test tone") : qsTr("Play test tone")
            help: qsTr("Plays a quiet 440 Hz tone so you can check the sound card. It stops by itself after 15 seconds.")
            onClicked: audio.setTestTone(!audio.testToneOn)
        }

        StatusLine {
            objectName: "audioStatus"
            text: audio.status
            problem: audio.problem
        }
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: theme.spacing * 3

        Readout {
            objectName: "bufferDelay"
            label: qsTr("Buffer delay")
            value: audio.latencyMs > 0 ? audio.latencyMs.toFixed(1) + " ms" : "–"
            help: qsTr("How long sound waits in the buffer before you hear it. The sound card may add a little more.")
        }

        Readout {
            objectName: "engineLoad"
            label: qsTr("Engine load")
            value: audio.testToneOn || audio.cpuPercent > 0 ? audio.cpuPercent.toFixed(2) + " %" : "–"
            bad: audio.cpuPercent > 80
            help: qsTr("How much of the available time the audio engine spends making sound. Lower is safer.")
        }

        Readout {
            objectName: "dropouts"
            label: qsTr("Dropouts")
            value: String(audio.dropouts)
            bad: audio.dropouts > 0
            help: qsTr("Times the engine was too slow and the sound could glitch. If this grows, choose a larger buffer size.")
        }

        Readout {
            objectName: "driverFormat"
            label: qsTr("Driver format")
            value: audio.actualFormat !== "" ? audio.actualFormat : "–"
            help: qsTr("What the sound card is really using.")
        }

        Item { Layout.fillWidth: true }
    }

    SectionRule {}
}
