import QtQuick
import QtQuick.Controls.Basic
import "Notes.js" as Notes
import "Colors.js" as Colors
import "TextSize.js" as TextSize

// The on-screen piano: all 128 MIDI notes in one sideways-scrolling row. It keeps no notes
// of its own: a press plays through `instrument` and what is lit comes back from it.
Item {
    id: root

    readonly property var pressed: instrument.pressedKeys
    readonly property real kMinKey: 8
    readonly property real kMaxKey: 40
    // Follows the width until the first zoom step replaces the binding.
    property real keyW: Math.max(kMinKey, Math.min(kMaxKey, width / 25))
    readonly property int totalWhite: whiteIndex(128)
    readonly property real contentW: totalWhite * keyW
    // The window's background makes dark black keys in a dark theme; a light theme's
    // background is as pale as the white keys, so there they take the text colour. White keys
    // keep the raised surface where it stands out 3:1 from the black ones, else take the muted
    // text colour (a dark theme's raised surface is nearly its background), and the C labels
    // whichever of the muted text and the black keys' colour reads 4.5:1 on them. Every key is
    // edged in the controls' outline, which stands 3:1 off the panel behind the keys.
    readonly property color blackKeyColor: Colors.luminance(theme.colors.background)
                                           <= Colors.luminance(theme.colors.surfaceRaised)
                                           ? theme.colors.background : theme.colors.text
    readonly property color whiteKeyColor: Colors.standingOut([theme.colors.surfaceRaised, theme.colors.textMuted],
                                                              blackKeyColor, 3)
    readonly property color labelColor: Colors.standingOut([theme.colors.textMuted, blackKeyColor], whiteKeyColor, 4.5)

    readonly property int leastLabelSize: TextSize.atLeast(8, Screen.devicePixelRatio)

    // A press on a key: the host takes the keyboard focus so the computer keys play at once.
    signal wantsFocus()

    function isBlack(note) {
        return Notes.isBlack(note);
    }

    function whiteIndex(note) {
        // White keys below each pitch class within its octave.
        return Math.floor(note / 12) * 7 + [0, 1, 1, 2, 2, 3, 4, 4, 5, 5, 6, 6][note % 12];
    }

    function isDown(note) {
        if (pressed.indexOf(1000 + note) >= 0)
            return true;
        // Computer keys are held under their semitone above the current octave's C.
        const semitone = note - 12 * (instrument.octave + 1);
        return semitone >= 0 && semitone <= 36 && pressed.indexOf(semitone) >= 0;
    }

    // The size, up to 12 pixels, at which a label fits a key with 2 pixels either side.
    function labelSize(text, keyWidth) {
        return Math.min(12, Math.floor(12 * (keyWidth - 4) / labelMetrics.advanceWidth(text)));
    }

    function jumpToOctave() {
        const c = 12 * (instrument.octave + 1);
        view.contentX = Math.max(0, Math.min(contentW - view.width, whiteIndex(c) * keyW - view.width / 3));
    }

    implicitHeight: 112

    Accessible.role: Accessible.Grouping
    Accessible.name: qsTr("Piano keys")

    Component.onCompleted: jumpToOctave()
    // A host that lays the keys out gives them their width after they are made, and may change
    // it: the jump waits until the key width and the view have followed the new width.
    onWidthChanged: Qt.callLater(root.jumpToOctave)

    Connections {
        target: instrument
        function onOctaveChanged() { root.jumpToOctave(); }
    }

    FontMetrics {
        id: labelMetrics

        font.family: theme.fontFamily
        font.pixelSize: 12
    }

    Flickable {
        id: view

        objectName: "keysView"
        anchors.fill: parent
        clip: true
        contentWidth: root.contentW
        contentHeight: height
        flickableDirection: Flickable.HorizontalFlick
        boundsBehavior: Flickable.StopAtBounds

        ScrollBar.horizontal: ThinScrollBar { id: keysBar }

        // Keys that do not all fit leave the scroll bar a strip of its own under them.
        readonly property real keysHeight: height - (keysBar.visible ? keysBar.height + 1 : 0)

        Repeater {
            model: 128

            Rectangle {
                id: key

                required property int index
                readonly property int note: index
                readonly property bool black: root.isBlack(note)
                readonly property bool lit: root.isDown(note)

                function helpText() {
                    return qsTr("Click to play this note (MIDI %1). Wheel scrolls sideways, Ctrl + wheel zooms.").arg(note);
                }

                objectName: "key" + note
                // Black keys lie above the white ones and take the presses where they overlap.
                z: black ? 1 : 0
                x: black ? root.whiteIndex(note) * root.keyW - 0.31 * root.keyW - 1 : root.whiteIndex(note) * root.keyW
                width: black ? 0.62 * root.keyW : root.keyW - 2
                height: black ? 0.6 * view.keysHeight : view.keysHeight
                radius: theme.radius / 2
                // The accent may be close to the white keys' colour: a lit white key is also
                // edged in the black keys' colour, which stands out from its neighbours.
                border.width: lit && !black ? 2 : 1
                border.color: lit && !black ? root.blackKeyColor : Colors.outline(theme.colors)
                color: black ? (lit ? theme.colors.accent2 : root.blackKeyColor)
                             : (lit ? theme.colors.accent : root.whiteKeyColor)

                Text {
                    // The C's name with its octave at 12 pixels, smaller on a narrow key; a
                    // key too narrow for that at the least size the screen shows gets the C
                    // alone, and one too narrow even for the C none.
                    readonly property string name: key.note === 60 ? qsTr("C4") : qsTr("C%1").arg(Math.floor(key.note / 12) - 1)
                    readonly property int nameSize: root.labelSize(name, key.width)
                    readonly property bool named: nameSize >= root.leastLabelSize
                    readonly property int size: named ? nameSize : root.labelSize(qsTr("C"), key.width)

                    objectName: "octaveLabel"
                    visible: key.note % 12 === 0 && size >= root.leastLabelSize
                    anchors.horizontalCenter: parent.horizontalCenter
                    anchors.bottom: parent.bottom
                    anchors.bottomMargin: 8
                    text: named ? name : qsTr("C")
                    color: root.labelColor
                    font.family: theme.fontFamily
                    font.pixelSize: Math.max(root.leastLabelSize, size)
                }

                MouseArea {
                    anchors.fill: parent
                    hoverEnabled: true

                    // Qt delivers the leave of the key the pointer came from after the enter of
                    // this one: write again once both are through.
                    function repeatHelp() {
                        if (containsMouse)
                            app.helpText = key.helpText();
                    }

                    onEntered: {
                        app.helpText = key.helpText();
                        Qt.callLater(repeatHelp);
                    }
                    onExited: app.helpText = ""
                    onPressed: {
                        root.wantsFocus();
                        instrument.padDown(key.note);
                    }
                    onReleased: instrument.padUp(key.note)
                    // A press that turns into a sideways drag of the keyboard lets the note go.
                    onCanceled: instrument.padUp(key.note)
                }
            }
        }
    }

    // Takes every wheel event over the view, so the view's own wheel scrolling never runs.
    MouseArea {
        objectName: "wheelArea"
        anchors.fill: parent
        acceptedButtons: Qt.NoButton

        onWheel: wheel => {
            const up = wheel.angleDelta.y > 0;
            if (wheel.modifiers & Qt.ControlModifier) {
                const zoomed = up ? root.keyW * 1.15 : root.keyW / 1.15;
                root.keyW = Math.max(root.kMinKey, Math.min(root.kMaxKey, zoomed));
            } else {
                const moved = view.contentX + (up ? -60 : 60);
                view.contentX = Math.max(0, Math.min(root.contentW - view.width, moved));
            }
            wheel.accepted = true;
        }
    }
}
