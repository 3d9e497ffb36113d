import QtQuick
import QtQuick.Controls.Basic
import "Colors.js" as Colors

// A one-line text box that reports its text once, when editing ends (Enter or loss of
// the keyboard focus), and only when it differs from the last committed text.
TextField {
    id: root

    property string help: ""
    property string committedText: ""
    // Not being edited, a text too long for the box shows its start, elided at the end,
    // rather than the end that typing or an assignment left in view.
    readonly property real textRoom: width - leftPadding - rightPadding
    readonly property bool showsElided: !activeFocus && contentWidth > textRoom

    signal edited(string finalText)

    function finish() {
        if (text === committedText)
            return;
        committedText = text;
        root.edited(text);
    }

    // Qt delivers the leave of the control the pointer came from after the enter of this
    // one, so a jump between neighbours would end blank: write again once both are through.
    function repeatHelp() {
        if (hovered && enabled)
            app.helpText = help;
    }

    implicitHeight: 32
    leftPadding: 10
    rightPadding: 10
    selectByMouse: true
    hoverEnabled: true
    opacity: enabled ? 1 : 0.55
    color: showsElided ? "transparent" : theme.colors.text
    placeholderTextColor: theme.colors.textMuted
    selectionColor: theme.colors.accent
    selectedTextColor: theme.colors.onAccent
    font.family: theme.fontFamily
    font.pixelSize: theme.baseFontSize
    verticalAlignment: TextInput.AlignVCenter

    Accessible.name: help !== "" ? help : placeholderText

    Component.onCompleted: {
        committedText = text;
        cursorPosition = 0;
    }
    // A change from outside (an undo, an opened project) is not the person's edit.
    onTextChanged: {
        if (!activeFocus) {
            committedText = text;
            cursorPosition = 0;
        }
    }
    // A disabled control keeps quiet, as a disabled menu item does.
    onHoveredChanged: {
        app.helpText = hovered && enabled ? help : "";
        if (hovered)
            Qt.callLater(() => repeatHelp());
    }
    // Back to the start, so a click lands on the character drawn under the pointer.
    onActiveFocusChanged: {
        if (!activeFocus) {
            finish();
            cursorPosition = 0;
        }
    }
    onAccepted: {
        finish();
        focus = false;
    }
    Keys.onEscapePressed: {
        // Edited in place rather than assigned, so an owner's binding on `text` survives.
        remove(0, length);
        insert(0, committedText);
        focus = false;
    }

    Text {
        objectName: "elidedText"
        visible: root.showsElided
        x: root.leftPadding
        y: root.topPadding
        width: root.textRoom
        height: root.height - root.topPadding - root.bottomPadding
        verticalAlignment: Text.AlignVCenter
        text: root.text
        elide: Text.ElideRight
        color: theme.colors.text
        font: root.font
    }

    background: Rectangle {
        radius: theme.radius
        color: theme.colors.surfaceRaised
        border.width: 1
        border.color: root.activeFocus ? Colors.accentEdge(theme.colors) : Colors.outline(theme.colors)
    }
}
