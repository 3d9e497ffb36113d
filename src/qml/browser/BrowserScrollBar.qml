import QtQuick
import QtQuick.Controls.Basic

// The thin bar of the browser's and the log's lists: a handle only, and only when the
// list is longer than its view.
ScrollBar {
    id: root

    policy: size < 1 ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
    padding: 0

    contentItem: Rectangle {
        implicitWidth: 4
        radius: 2
        color: theme.colors.border
    }

    background: null
}
