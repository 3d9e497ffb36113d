import QtQuick

// What a browser row carries while it is dragged: a small labelled tag that drop targets
// read their payload from (`drop.source`). Only the payload of the row's kind is filled.
Rectangle {
    id: root

    property string patchName: ""
    property string deviceId: ""
    property string presetName: ""
    property string fileName: ""
    property string iconName: ""
    property string text: ""
    property color textColor: theme.colors.onAccent

    width: 150
    height: 28
    radius: 6
    opacity: 0.92
    visible: false
    Accessible.ignored: true

    // Drop targets test this point, not the pointer.
    Drag.hotSpot.x: 14
    Drag.hotSpot.y: 14
    Drag.supportedActions: Qt.CopyAction
    Drag.proposedAction: Qt.CopyAction

    Row {
        x: 8
        width: root.width - 16
        anchors.verticalCenter: parent.verticalCenter
        spacing: 6

        CategoryIcon {
            anchors.verticalCenter: parent.verticalCenter
            category: root.iconName
            size: 16
            color: root.textColor
        }

        Text {
            objectName: "dragLabelText"
            anchors.verticalCenter: parent.verticalCenter
            width: parent.width - 22
            text: root.text
            color: root.textColor
            font.family: theme.fontFamily
            font.pixelSize: theme.baseFontSize
            elide: Text.ElideRight
        }
    }
}
