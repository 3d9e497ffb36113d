import QtQuick
import QtQuick.Controls.Basic
import "Colors.js" as Colors

// A slider whose `value` follows the handle live but which reports `committed` only when
// the person has finished: on release, or once per keyboard step.
Slider {
    id: root

    property string help: ""

    signal committed(real finalValue)

    // Qt delivers the leave of the control the pointer came from after the enter of this
    // one, so a jump between neighbours would end blank: write again once both are through.
    function repeatHelp() {
        if (hovered && enabled)
            app.helpText = help;
    }

    implicitWidth: 220
    implicitHeight: 26
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    opacity: enabled ? 1 : 0.55

    Accessible.name: help

    // A disabled control keeps quiet, as a disabled menu item does.
    onHoveredChanged: {
        app.helpText = hovered && enabled ? help : "";
        if (hovered)
            Qt.callLater(() => repeatHelp());
    }
    // A drag, a click and (in Qt 6.4, which holds `pressed` while an arrow key is down) a
    // keyboard step report once, when let go; `moved` while not pressed is a keyboard step
    // of a Slider that does not press.
    onMoved: if (!pressed) committed(value)
    onPressedChanged: if (!pressed) committed(value)

    background: Rectangle {
        x: root.leftPadding
        y: root.topPadding + (root.availableHeight - height) / 2
        width: root.availableWidth
        height: 4
        radius: 2
        color: theme.colors.surfaceRaised
        border.width: 1
        border.color: Colors.outline(theme.colors)

        Rectangle {
            width: root.visualPosition * parent.width
            height: parent.height
            radius: 2
            color: theme.colors.accent
        }
    }

    handle: Rectangle {
        x: root.leftPadding + root.visualPosition * (root.availableWidth - width)
        y: root.topPadding + (root.availableHeight - height) / 2
        width: 18
        height: 18
        radius: 9
        color: root.pressed ? Qt.lighter(theme.colors.accent, 1.15) : theme.colors.accent
        border.width: root.visualFocus ? 2 : 0
        border.color: theme.colors.accent2
    }
}
