import QtQuick
import QtQuick.Controls.Basic
import "Colors.js" as Colors

// A drop-down menu or sub-menu in the flat look; the entries it makes itself (a
// sub-menu's line) are FlatMenuItems.
Menu {
    id: root

    implicitWidth: 290
    topPadding: 4
    bottomPadding: 4
    modal: false

    delegate: FlatMenuItem {}

    background: Rectangle {
        implicitWidth: 290
        color: theme.colors.surfaceRaised
        border.width: 1
        // Parts the menu from the window under it, whichever surface that is.
        border.color: Colors.outline(theme.colors)
        radius: 6
    }
}
