import QtQuick
import QtQuick.Controls.Basic

// The line between groups of a FlatMenu.
MenuSeparator {
    padding: 0
    topPadding: 4
    bottomPadding: 4

    contentItem: Rectangle {
        implicitWidth: 200
        implicitHeight: 1
        color: theme.colors.border
    }
}
