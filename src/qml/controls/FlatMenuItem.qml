import QtQuick
import QtQuick.Controls.Basic

// One line of a FlatMenu: text, an optional shortcut label (a label only: the shortcut
// itself belongs to the window), a tick dot when checkable, an arrow for a sub-menu.
MenuItem {
    id: root

    property string keys: ""
    property string help: ""

    implicitWidth: 260
    implicitHeight: 28
    leftPadding: 28
    rightPadding: 14
    hoverEnabled: true

    Accessible.description: help

    onHighlightedChanged: {
        app.helpText = highlighted ? help : "";
        if (highlighted)
            Qt.callLater(() => repeatHelp());
    }

    // The pointer leaving for the bar or another window leaves the item highlighted; its
    // help goes with the pointer, unless another item has written its own since.
    onHoveredChanged: {
        if (!hovered && app.helpText === help)
            app.helpText = "";
    }

    // The old item may let go of the highlight after the new one took it: write again once
    // both are through, or the strip would end blank.
    function repeatHelp() {
        if (highlighted)
            app.helpText = help;
    }

    indicator: Item {
        x: 9
        y: (root.height - height) / 2
        width: 12
        height: 12
        visible: root.checkable

        Rectangle {
            anchors.centerIn: parent
            width: 8
            height: 8
            radius: 4
            color: theme.colors.accent2
            visible: root.checked
        }
    }

    arrow: Text {
        x: root.width - width - 10
        y: (root.height - height) / 2
        visible: root.subMenu !== null
        text: "›"
        color: theme.colors.textMuted
        font.family: theme.fontFamily
        font.pixelSize: 16
    }

    contentItem: Text {
        text: root.text
        // Room for the shortcut label on the right.
        rightPadding: root.keys !== "" ? 36 + keysLabel.implicitWidth : 0
        verticalAlignment: Text.AlignVCenter
        font.family: theme.fontFamily
        font.pixelSize: theme.baseFontSize
        color: root.enabled ? theme.colors.text : theme.colors.textMuted
        opacity: root.enabled ? 1 : 0.55
        elide: Text.ElideRight
    }

    Text {
        id: keysLabel

        objectName: "menuKeys"
        x: root.width - root.rightPadding - width - (root.subMenu !== null ? 14 : 0)
        anchors.verticalCenter: parent.verticalCenter
        visible: root.keys !== ""
        text: root.keys
        font.family: theme.fontFamily
        font.pixelSize: 12
        color: theme.colors.textMuted
    }

    background: Item {
        implicitWidth: 260
        implicitHeight: 28

        // A disabled item never lights up. The fill is the menu's own colour, so the
        // accent outline is what shows which line is highlighted.
        Rectangle {
            anchors.fill: parent
            anchors.leftMargin: 3
            anchors.rightMargin: 3
            radius: 4
            color: theme.colors.surfaceRaised
            border.width: 1
            border.color: theme.colors.accent
            visible: root.highlighted && root.enabled
        }
    }
}
