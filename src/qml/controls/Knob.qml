import QtQuick
import "Colors.js" as Colors

// A rotary knob over a 270-degree track. It never changes its own `value`: it asks with
// `moved` while turning and reports the end of each gesture with `committed`, so a screen
// can apply every value but store or record only the final one.
Item {
    id: root

    property real value: 0
    property real from: 0
    property real to: 1
    property real defaultValue: 0
    // The arc starts at the top, for controls whose middle means "as saved".
    property bool bipolar: false
    property int size: 42
    property string help: ""
    property string name: ""
    // Halves round towards positive infinity, as Math.round does.
    property var format: v => Math.round(v * 100) + " %"

    opacity: enabled ? 1 : 0.55

    readonly property bool active: mouse.pressed || mouse.containsMouse || activeFocus
    // The ring the value runs along, and the arc of the value: both stand 3:1 off every surface.
    readonly property color trackColor: Colors.outline(theme.colors)
    readonly property color valueColor: Colors.accentEdge(theme.colors)
    readonly property real fraction: to > from ? Math.max(0, Math.min(1, (value - from) / (to - from))) : 0

    signal moved(real newValue)
    signal committed(real finalValue)

    // One keyboard and accessibility step.
    function keyStep() {
        return (to - from) * 0.02;
    }

    function formatted(v) {
        const owners = root.format;
        return owners(v);
    }

    function clamp(v) {
        return Math.max(from, Math.min(to, v));
    }

    function apply(v, finished) {
        const c = clamp(v);
        if (c !== value)
            root.moved(c);
        if (finished)
            root.committed(c);
    }

    implicitWidth: size + 8
    implicitHeight: size + 16
    activeFocusOnTab: true

    Accessible.role: Accessible.Slider
    Accessible.name: name !== "" ? name : help
    Accessible.description: help
    Accessible.onIncreaseAction: apply(value + keyStep(), true)
    Accessible.onDecreaseAction: apply(value - keyStep(), true)

    onFractionChanged: dial.requestPaint()
    onSizeChanged: dial.requestPaint()
    onActiveFocusChanged: dial.requestPaint()
    onBipolarChanged: dial.requestPaint()

    Connections {
        target: theme
        function onThemeChanged() { dial.requestPaint(); }
    }

    Keys.onPressed: event => {
        switch (event.key) {
        case Qt.Key_Up:
        case Qt.Key_Right:
        case Qt.Key_Plus:
            apply(value + keyStep(), true);
            break;
        case Qt.Key_Down:
        case Qt.Key_Left:
        case Qt.Key_Minus:
            apply(value - keyStep(), true);
            break;
        case Qt.Key_PageUp:
            apply(value + 5 * keyStep(), true);
            break;
        case Qt.Key_PageDown:
            apply(value - 5 * keyStep(), true);
            break;
        case Qt.Key_Home:
            apply(from, true);
            break;
        case Qt.Key_End:
            apply(to, true);
            break;
        case Qt.Key_Backspace:
        case Qt.Key_Delete:
            apply(defaultValue, true);
            break;
        default:
            event.accepted = false;
            return;
        }
        event.accepted = true;
    }

    ScaledCanvas {
        id: dial

        width: root.size
        height: root.size
        anchors.horizontalCenter: parent.horizontalCenter
        antialiasing: true

        onPaint: {
            const ctx = freshContext();
            const c = root.size / 2;
            const r = c - 5;
            // Canvas angles: 0 points right, growing clockwise; 135 degrees is lower left.
            const start = 0.75 * Math.PI;
            const sweep = 1.5 * Math.PI;
            const angle = start + sweep * root.fraction;
            ctx.lineCap = "round";

            ctx.lineWidth = 4;
            ctx.strokeStyle = root.trackColor;
            ctx.beginPath();
            ctx.arc(c, c, r, start, start + sweep, false);
            ctx.stroke();

            const origin = root.bipolar ? start + sweep * 0.5 : start;
            if (Math.abs(angle - origin) > 0.001) {
                ctx.strokeStyle = root.valueColor;
                ctx.beginPath();
                ctx.arc(c, c, r, Math.min(angle, origin), Math.max(angle, origin), false);
                ctx.stroke();
            }

            ctx.fillStyle = theme.colors.surfaceRaised;
            ctx.beginPath();
            ctx.arc(c, c, r - 6, 0, 2 * Math.PI, false);
            ctx.fill();

            ctx.lineWidth = 2.5;
            ctx.strokeStyle = root.activeFocus ? theme.colors.accent2 : theme.colors.text;
            ctx.beginPath();
            ctx.moveTo(c + (r - 15) * Math.cos(angle), c + (r - 15) * Math.sin(angle));
            ctx.lineTo(c + (r - 6) * Math.cos(angle), c + (r - 6) * Math.sin(angle));
            ctx.stroke();
        }
    }

    Text {
        objectName: "knobValueText"
        anchors.top: dial.bottom
        anchors.horizontalCenter: parent.horizontalCenter
        visible: root.active
        text: root.formatted(root.value)
        color: theme.colors.accent2
        font.family: theme.fontFamily
        font.pixelSize: 10
    }

    MouseArea {
        id: mouse

        property real pressY: 0
        property real pressValue: 0

        anchors.fill: parent
        acceptedButtons: Qt.LeftButton
        hoverEnabled: true
        // The turn is a vertical drag: a scrolling card list around the knob must not take it.
        preventStealing: true
        cursorShape: pressed ? Qt.SizeVerCursor : Qt.PointingHandCursor

        onEntered: {
            if (!root.enabled)
                return;
            app.helpText = root.help;
            // Qt delivers the leave of the control the pointer came from after the enter of
            // this one: write again once both are through, or a jump would end blank. Only
            // locals inside: a card made again may have taken the knob away by then.
            const strip = app;
            const area = mouse;
            const knob = root;
            Qt.callLater(() => {
                if (area && knob && area.containsMouse && knob.enabled)
                    strip.helpText = knob.help;
            });
        }
        onExited: app.helpText = ""
        onPressed: mouseEvent => {
            root.forceActiveFocus(Qt.MouseFocusReason);
            pressY = mouseEvent.y;
            pressValue = root.value;
        }
        onPositionChanged: mouseEvent => {
            if (!pressed)
                return;
            // The whole range takes 160 pixels, 800 with Shift, measured from the press.
            const perPixel = (root.to - root.from) / ((mouseEvent.modifiers & Qt.ShiftModifier) ? 800 : 160);
            root.apply(pressValue + (pressY - mouseEvent.y) * perPixel, false);
        }
        onReleased: root.committed(root.value)
        onDoubleClicked: root.apply(root.defaultValue, true)
        onWheel: wheelEvent => {
            // Sideways scrolling is not a turn: it goes on to a scrolling parent.
            if (wheelEvent.angleDelta.y === 0) {
                wheelEvent.accepted = false;
                return;
            }
            root.forceActiveFocus(Qt.MouseFocusReason);
            const wheelStep = (root.to - root.from) * ((wheelEvent.modifiers & Qt.ShiftModifier) ? 0.005 : 0.02);
            root.apply(root.value + (wheelEvent.angleDelta.y > 0 ? wheelStep : -wheelStep), true);
            wheelEvent.accepted = true;
        }
    }
}
