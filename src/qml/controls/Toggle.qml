import QtQuick
import "Colors.js" as Colors

// An on/off switch that only asks: a flip emits `toggled` with the wished state, and the
// owner sets `checked` from its model.
Item {
    id: root

    property bool checked: false
    property string name: ""
    property string help: ""

    signal toggled(bool value)

    function flip() {
        root.toggled(!root.checked);
    }

    implicitWidth: 46
    implicitHeight: 26
    activeFocusOnTab: true
    opacity: enabled ? 1 : 0.55

    Accessible.role: Accessible.CheckBox
    Accessible.name: name
    Accessible.description: help
    Accessible.checkable: true
    Accessible.checked: checked
    Accessible.onToggleAction: flip()
    Accessible.onPressAction: flip()

    Keys.onPressed: event => {
        if (event.key !== Qt.Key_Space && event.key !== Qt.Key_Return)
            return;
        event.accepted = true;
        // A held key flips once, not at the keyboard's repeat rate.
        if (!event.isAutoRepeat)
            flip();
    }

    Rectangle {
        id: track

        anchors.fill: parent
        radius: height / 2
        color: root.checked ? theme.colors.accent : theme.colors.surfaceRaised
        border.width: 1
        border.color: root.checked ? Colors.accentEdge(theme.colors) : Colors.outline(theme.colors)

        Behavior on color {
            enabled: !settings.reduceMotion
            ColorAnimation { duration: 120 }
        }
    }

    Rectangle {
        id: knob

        objectName: "toggleKnob"
        width: 18
        height: 18
        radius: 9
        y: 4
        x: root.checked ? root.width - 18 - 4 : 4
        color: root.checked ? theme.colors.onAccent : theme.colors.textMuted

        Behavior on x {
            enabled: !settings.reduceMotion
            NumberAnimation { duration: 120; easing.type: Easing.OutCubic }
        }
    }

    Rectangle {
        objectName: "toggleFocusRing"
        anchors.fill: track
        anchors.margins: -3
        radius: height / 2
        color: "transparent"
        border.width: 2
        border.color: theme.colors.accent2
        visible: root.activeFocus
    }

    MouseArea {
        id: area

        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onContainsMouseChanged: {
            app.helpText = containsMouse && root.enabled ? root.help : "";
            if (!containsMouse)
                return;
            // Qt delivers the leave of the control the pointer came from after the enter of
            // this one: write again once both are through, or a jump would end blank. Only
            // locals inside: the switch may be gone by then.
            const strip = app;
            const hover = area;
            const toggle = root;
            Qt.callLater(() => {
                if (hover && toggle && hover.containsMouse && toggle.enabled)
                    strip.helpText = toggle.help;
            });
        }
        onClicked: {
            root.forceActiveFocus(Qt.MouseFocusReason);
            root.flip();
        }
    }
}
