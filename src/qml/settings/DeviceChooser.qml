import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The device choice of the Audio and MIDI pages: a heading with a Refresh button over a list
// of one button a choice, the selected one lit, four entries high and scrolling past that.
ColumnLayout {
    id: root

    // Names the parts: <name>Header, <name>Refresh and <name>Devices.
    property string name: ""
    property string title: ""
    property string refreshHelp: ""
    // {id, name} maps; an empty id is the choice of none or of the system's default.
    property var choices: []
    property string selectedId: ""
    // A choice's button text and help sentence.
    property var textOf: choice => choice.name
    property var helpOf: choice => ""

    signal refresh()
    signal picked(string id)

    spacing: theme.spacing * 1.5

    RowLayout {
        Layout.fillWidth: true
        spacing: theme.spacing

        Text {
            objectName: root.name + "Header"
            Layout.fillWidth: true
            text: root.title
            color: theme.colors.text
            font.family: theme.fontFamily
            font.pixelSize: theme.baseFontSize
            font.weight: Font.Medium
            wrapMode: Text.WordWrap
        }

        FlatButton {
            objectName: root.name + "Refresh"
            text: qsTr("Refresh")
            implicitHeight: 28
            help: root.refreshHelp
            onClicked: root.refresh()
        }
    }

    ListView {
        id: devices

        objectName: root.name + "Devices"
        Layout.fillWidth: true
        Layout.preferredHeight: 38 * Math.min(4, count)
        clip: true
        spacing: 2
        boundsBehavior: Flickable.StopAtBounds
        model: root.choices

        ScrollBar.vertical: ThinScrollBar { padding: 2 }

        delegate: FlatButton {
            required property var modelData

            // Flush with the Refresh button and the section's lines; room for the scroll bar
            // only when there is one.
            width: devices.width - (devices.count > 4 ? 10 : 0)
            height: 36
            textAlign: Text.AlignLeft
            text: root.textOf(modelData)
            selected: root.selectedId === modelData.id
            help: root.helpOf(modelData)
            onClicked: root.picked(modelData.id)
        }
    }
}
