import QtQuick
import QtQuick.Layouts

// One file of a settings section's list: its name, then the buttons the section gives it.
RowLayout {
    id: root

    required property string modelData
    property alias text: label.text
    property alias textColor: label.color
    property alias textName: label.objectName

    Layout.fillWidth: true
    spacing: theme.spacing

    Text {
        id: label

        Layout.fillWidth: true
        text: root.modelData
        color: theme.colors.text
        font.family: theme.fontFamily
        font.pixelSize: 13
        elide: Text.ElideRight
    }
}
