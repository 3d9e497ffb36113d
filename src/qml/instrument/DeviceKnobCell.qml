import QtQuick
import "KnobCells.js" as KnobCells
import "TextSize.js" as TextSize

// One captioned knob (or, for an on/off parameter, a switch) of a device card. While the
// knob turns it shows the turned value; when the turn ends it reports the final value once
// and follows `stored` again, so undo, redo and edits made elsewhere show.
Item {
    id: root

    // The caption, shown upper-cased, and the control's accessible name.
    property string label: ""
    property string name: label
    property string help: ""
    property real from: 0
    property real to: 1
    property real defaultValue: 0
    // The value the project holds for this parameter.
    property real stored: 0
    property bool isSwitch: false
    property var format: v => String(v)
    property int knobSize: 36
    property int knobTop: 10
    property int labelWidth: width - 4
    property real labelSpacing: 0.4

    // What the control shows: the stored value, or the value of a turn under way.
    property real shown: stored

    readonly property alias knob: knob

    signal commit(real value)

    implicitWidth: KnobCells.width
    implicitHeight: KnobCells.height

    Text {
        id: caption

        objectName: "cellLabel"
        anchors.horizontalCenter: parent.horizontalCenter
        width: root.labelWidth
        horizontalAlignment: Text.AlignHCenter
        text: root.label.toUpperCase()
        color: theme.colors.textMuted
        font.family: theme.fontFamily
        font.pixelSize: TextSize.atLeast(8, Screen.devicePixelRatio)
        font.letterSpacing: root.labelSpacing
        elide: Text.ElideRight
    }

    Knob {
        id: knob

        objectName: "cellKnob"
        visible: !root.isSwitch
        // The card dims a disabled group as a whole.
        opacity: 1.0
        // Under the caption's letters, also where the screen's scale makes them larger.
        y: Math.max(root.knobTop, Math.ceil(caption.baselineOffset) + 1)
        anchors.horizontalCenter: parent.horizontalCenter
        size: root.knobSize
        from: root.from
        to: root.to
        defaultValue: root.defaultValue
        value: root.shown
        name: root.name
        help: root.help
        format: root.format
        onMoved: v => root.shown = v
        onCommitted: v => {
            // Follow the project again before asking it: the answer may rebuild this cell.
            root.shown = Qt.binding(() => root.stored);
            root.commit(v);
        }
    }

    Toggle {
        objectName: "cellSwitch"
        visible: root.isSwitch
        y: 20
        anchors.horizontalCenter: parent.horizontalCenter
        checked: root.shown >= 0.5
        name: root.name
        help: root.help
        onToggled: value => root.commit(value ? 1.0 : 0.0)
    }
}
