import QtQuick
import QtQuick.Controls.Basic
import "Colors.js" as Colors

// The push button of every screen: a ghost button by default, filled when `primary`,
// outlined in the accent colour when `selected`.
Button {
    id: root

    property string help: ""
    property bool primary: false
    property bool selected: false
    property int textAlign: Text.AlignHCenter
    property string iconName: ""

    readonly property bool leftAligned: textAlign === Text.AlignLeft
    readonly property bool hasIcon: iconName !== ""

    implicitHeight: 36
    implicitWidth: Math.max(84, Math.ceil(metrics.advanceWidth) + 32) + (hasIcon ? 22 : 0)
    padding: 0
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    opacity: enabled ? 1 : 0.55

    Accessible.name: text
    Accessible.description: help

    // A disabled control keeps quiet, as a disabled menu item does.
    onHoveredChanged: {
        app.helpText = hovered && enabled ? help : "";
        if (!hovered)
            return;
        // Qt delivers the leave of the control the pointer came from after the enter of this
        // one, so a jump between neighbours would end blank: write again once both are
        // through. Only locals inside: a view made again may have taken the button away by then.
        const strip = app;
        const button = root;
        Qt.callLater(() => {
            if (button && button.hovered && button.enabled)
                strip.helpText = button.help;
        });
    }
    // A keyboard user has no pointer to hover with.
    onVisualFocusChanged: if (visualFocus) app.helpText = help
    onHelpChanged: if (hovered && enabled) app.helpText = help

    contentItem: Text {
        text: root.text
        font: metrics.font
        color: root.primary ? theme.colors.onAccent : theme.colors.text
        horizontalAlignment: root.textAlign
        verticalAlignment: Text.AlignVCenter
        leftPadding: (root.leftAligned ? 6 : 0) + (root.hasIcon ? 22 : 0)
        elide: Text.ElideRight
    }

    TextMetrics {
        id: metrics

        text: root.text
        font.family: theme.fontFamily
        font.pixelSize: theme.baseFontSize
        font.weight: Font.Medium
    }

    CategoryIcon {
        objectName: "buttonIcon"
        visible: root.hasIcon
        category: root.iconName
        size: 16
        color: root.primary ? theme.colors.onAccent : root.selected ? theme.colors.accent2 : theme.colors.textMuted
        anchors.verticalCenter: parent.verticalCenter
        // Just left of the text, also when the text is centred.
        x: root.leftAligned
           ? 4
           : Math.max(2, (root.availableWidth - Math.min(metrics.advanceWidth, root.availableWidth - 22)) / 2 - 9)
    }

    background: Rectangle {
        radius: theme.radius
        color: root.primary
               ? (root.down ? Qt.darker(theme.colors.accent, 1.2)
                            : root.hovered ? Qt.lighter(theme.colors.accent, 1.12) : theme.colors.accent)
               : (root.down || root.hovered || root.selected ? theme.colors.surfaceRaised : "transparent")
        border.width: root.primary ? 0 : 1
        border.color: root.selected ? Colors.accentEdge(theme.colors) : Colors.outline(theme.colors)

        Behavior on color {
            enabled: !settings.reduceMotion
            ColorAnimation { duration: 120 }
        }

        // Shown only for keyboard focus, so pointer users see no ring.
        Rectangle {
            objectName: "focusRing"
            anchors.fill: parent
            anchors.margins: -3
            radius: theme.radius + 3
            color: "transparent"
            border.width: 2
            border.color: theme.colors.accent2
            visible: root.visualFocus
        }
    }
}
