import QtQuick
import QtQuick.Controls.Basic
import "Colors.js" as Colors

// The thin bar of the window's lists: a handle only, drawn in the colour of a control's edge,
// which stands 3:1 off every surface, and only while the content is longer than its view.
ScrollBar {
    id: root

    // The handle's thickness, and the room the bar takes across with the handle centred in it.
    property real thickness: 4
    property real room: thickness
    property real handleRadius: thickness / 2

    policy: size < 1 ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
    padding: 0

    contentItem: Item {
        implicitWidth: root.room
        implicitHeight: root.room

        Rectangle {
            anchors.centerIn: parent
            width: root.horizontal ? parent.width : root.thickness
            height: root.horizontal ? root.thickness : parent.height
            radius: root.handleRadius
            color: Colors.outline(theme.colors)
        }
    }

    background: null
}
