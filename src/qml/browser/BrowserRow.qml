import QtQuick
import QtQuick.Templates as T

// One row of a browser list: the hover fill, the help sentence, click and double-click,
// and, when it has a drag key, an in-window drag of its label. The label is lifted into the
// window's overlay while it travels, so it is drawn above every panel, and comes home when
// the drag ends.
Rectangle {
    id: root

    property string help: ""
    property bool current: false
    // Empty: the row does not drag.
    property string dragKey: ""
    property string dragPatchName: ""
    property string dragDeviceId: ""
    property string dragPresetName: ""
    property string dragFileName: ""
    property string labelText: ""
    property string labelIcon: ""
    property int labelWidth: 150
    property color labelColor: theme.colors.accent
    property color labelTextColor: theme.colors.onAccent

    readonly property bool hovered: area.containsMouse
    readonly property bool dragging: area.drag.active
    readonly property alias dragLabel: label

    signal clicked()
    signal doubleClicked()

    // Qt delivers the leave of the row the pointer came from after the enter of this one,
    // so a move between neighbours would end blank: write again once both are through.
    // A row that a rebuild has removed meanwhile has no context left to write to.
    function repeatHelp() {
        if (typeof app !== "undefined" && area.containsMouse)
            app.helpText = help;
    }

    radius: 4
    color: current ? theme.colors.surfaceRaised
                   : hovered ? Qt.darker(theme.colors.surfaceRaised, 1.15) : "transparent"
    border.width: current ? 1 : 0
    border.color: theme.colors.accent
    Accessible.role: Accessible.ListItem

    onDraggingChanged: {
        if (dragging) {
            const layer = T.Overlay.overlay !== null ? T.Overlay.overlay : root.Window.contentItem;
            // The same offset from the pointer as the row's corner had at the press.
            const corner = root.mapToItem(layer, label.x, label.y);
            label.parent = layer;
            label.x = corner.x;
            label.y = corner.y;
            label.visible = true;
            label.Drag.active = true;
        } else {
            // Released over a drop area the drop has gone already; anything else ends empty.
            label.Drag.active = false;
            label.visible = false;
            label.parent = root;
            label.x = 0;
            label.y = 0;
        }
    }

    BrowserDragLabel {
        id: label

        objectName: "dragLabel"
        width: root.labelWidth
        color: root.labelColor
        textColor: root.labelTextColor
        iconName: root.labelIcon
        text: root.labelText
        patchName: root.dragPatchName
        deviceId: root.dragDeviceId
        presetName: root.dragPresetName
        fileName: root.dragFileName
        Drag.keys: root.dragKey !== "" ? [root.dragKey] : []
    }

    MouseArea {
        id: area

        objectName: "rowArea"
        anchors.fill: parent
        hoverEnabled: true
        // A drag that has begun stays a drag: the list does not scroll away with it.
        preventStealing: true
        drag.target: root.dragKey !== "" ? label : null
        drag.threshold: 6
        // The label keeps its offset from the pointer instead of starting where the threshold was crossed.
        drag.smoothed: false

        onContainsMouseChanged: {
            app.helpText = containsMouse ? root.help : "";
            if (containsMouse)
                Qt.callLater(root.repeatHelp);
        }
        onClicked: root.clicked()
        onDoubleClicked: root.doubleClicked()
        onReleased: {
            if (drag.active)
                label.Drag.drop();
        }
    }
}
