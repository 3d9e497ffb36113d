import QtQuick
import QtQuick.Layouts
import "TextSize.js" as TextSize

// The instrument screen: the live instrument with its switches and five knobs on the left,
// the view switch and the piano, pads, step grid or effects on the right, and the computer
// keyboard as a musical keyboard. It keeps no sound state: every value is bound to
// `instrument` and every change is a call on it. After every action it takes the keyboard
// focus back, so the computer keys go on playing after any click inside the card.
FocusScope {
    id: root

    property string view: "keys"
    property bool padMode: false
    property string dropTrackId: ""
    property string sequencerTrackId: ""
    property string sequencerClipId: ""
    property string fxTrackId: ""

    readonly property var descriptions: ({
        "Modular Lead": qsTr("A bright saw-wave lead. A filter opens with every key press and closes again."),
        "Modular Bass": qsTr("A deep square-wave bass one octave lower, with a quick filter pluck."),
        "Modular Pad": qsTr("Two slightly detuned saws, a slow swell, and a filter that sweeps by itself."),
        "FM E-Piano": qsTr("A four-operator FM electric piano: two pairs of operators, a bright tine that fades fast. Change the operators in the FX view."),
        "FM Bell": qsTr("A struck bell from FM: inharmonic ratios that ring for seconds. Change the operators in the FX view."),
        "FM Bass": qsTr("A round FM bass: a chain of operators with a little feedback, an octave down."),
        "FM Brass": qsTr("FM brass: operators that swell in together with a touch of feedback."),
        "FM Pad": qsTr("A slow FM pad: two carriers a hair apart in pitch, softly bent by a modulator."),
        "FM Organ": qsTr("An organ made of four plain tones (an octave, a fifth and two octaves up): the FM synth used additively."),
        "Sampler": qsTr("Plays one of your sound files from the keys: the root key plays it as recorded, other keys higher or lower. Drop a sound on the track (or on the card in the FX view)."),
        "Drum Rack": qsTr("Sixteen pads, each with its own sound file (keys 36 to 51). Drop sounds on the pads in the FX view."),
        "Modular Drums": qsTr("A drum kit built from modules: kick, snare, clap, toms, hi-hats and a crash. Play it on the pads or the drum keys 36 to 51 of a MIDI keyboard.")
    })

    // Only with a drum kit on the pads do the computer keys hit the drum keys 36 and up.
    readonly property bool keysHitPads: padMode && instrument.patchCategory === "drums"
    // Computer key to semitone above the current octave's C: the white keys on the home row,
    // the black ones on the row above. Qt gives letters one code whatever the case.
    readonly property var keyMap: ({
        [Qt.Key_A]: 0, [Qt.Key_W]: 1, [Qt.Key_S]: 2, [Qt.Key_E]: 3, [Qt.Key_D]: 4, [Qt.Key_F]: 5,
        [Qt.Key_T]: 6, [Qt.Key_G]: 7, [Qt.Key_Y]: 8, [Qt.Key_H]: 9, [Qt.Key_U]: 10, [Qt.Key_J]: 11,
        [Qt.Key_K]: 12, [Qt.Key_O]: 13, [Qt.Key_L]: 14, [Qt.Key_P]: 15, [Qt.Key_Semicolon]: 16
    })

    // The five knobs, left to right; `key` names the knob in MIDI learn, `property` is the
    // instrument's property it shows and writes.
    readonly property var knobs: [
        {key: "volume", label: qsTr("VOLUME"), property: "level", bipolar: false, defaultValue: 0.7,
         help: qsTr("How loud the instrument is. Start low: a fresh sound card can be loud.")},
        {key: "brightness", label: qsTr("BRIGHTNESS"), property: "brightness", bipolar: true, defaultValue: 0.5,
         help: qsTr("Opens or closes the filter of the patch: left is darker and softer, right is brighter. The middle is the patch as saved.")},
        {key: "resonance", label: qsTr("RESONANCE"), property: "resonance", bipolar: true, defaultValue: 0.5,
         help: qsTr("How much the filter whistles at its cutoff: left is smoother, right is more pointed. The middle is the patch as saved.")},
        {key: "attack", label: qsTr("ATTACK"), property: "attack", bipolar: true, defaultValue: 0.5,
         help: qsTr("How quickly each note fades in: left is snappier, right is a slow swell. The middle is the patch as saved.")},
        {key: "release", label: qsTr("RELEASE"), property: "release", bipolar: true, defaultValue: 0.5,
         help: qsTr("How long each note rings after you let go: left is short, right is long. The middle is the patch as saved.")}
    ]

    // What the views need beside the instrument: the play row's buttons and the octave on
    // one line (the view buttons and the MIDI button may take two lines, the hint may go).
    readonly property real viewsNeed: 2 * playRow.modeButtonWidth + 2 * playRow.octaveButtonWidth
                                      + Math.ceil(octaveText.implicitWidth) + 4 * playRow.spacing
    // What the instrument needs: its five knobs with their labels whole, side by side.
    readonly property real instrumentNeed: {
        let need = (knobs.length - 1) * knobRow.spacing;
        for (let i = 0; i < knobColumns.count; ++i)
            need += knobColumns.itemAt(i) ? knobColumns.itemAt(i).need : 0;
        return need;
    }
    // The narrowest the card shows every control whole.
    readonly property real narrowestWidth: instrumentNeed + halves.spacing + viewsNeed
    // The effects view takes the card's whole width: its cards need it more than the
    // instrument half, which folds away while it shows.
    readonly property bool instrumentFolded: view === "fx"
    // The widths of the halves, worked out from the card's width: what folds a row inside a
    // half must not wait for a layout around the halves (Qt drops a nested layout's change
    // that comes while the outer one places it).
    readonly property real instrumentWidth: instrumentFolded ? 0 : Math.max(instrumentNeed, Math.min(500, width - halves.spacing - viewsNeed))
    readonly property real viewsWidth: instrumentFolded ? width : width - halves.spacing - instrumentWidth

    signal openMidiSettings()
    signal clipCreated(string clipId)

    function takeFocus() {
        root.forceActiveFocus();
    }

    function hasModifier(event) {
        return (event.modifiers & (Qt.ControlModifier | Qt.AltModifier | Qt.MetaModifier)) !== 0;
    }

    function noteKeyDown(semitone) {
        if (keysHitPads)
            instrument.padDown(36 + semitone);
        else
            instrument.keyDown(semitone);
    }

    function noteKeyUp(semitone) {
        if (keysHitPads)
            instrument.padUp(36 + semitone);
        else
            instrument.keyUp(semitone);
    }

    focus: true
    implicitHeight: 300

    // A held key sounds once however long the system repeats it; every press is taken,
    // repeats too, so they never reach the window.
    Keys.onPressed: event => {
        if (hasModifier(event)) {
            event.accepted = false;
            return;
        }
        if (event.key === Qt.Key_Z || event.key === Qt.Key_X) {
            if (!event.isAutoRepeat)
                instrument.shiftOctave(event.key === Qt.Key_Z ? -1 : 1);
        } else if (event.key === Qt.Key_Space) {
            if (!event.isAutoRepeat)
                transport.togglePlay();
        } else if (keyMap[event.key] !== undefined) {
            if (!event.isAutoRepeat)
                noteKeyDown(keyMap[event.key]);
        } else {
            event.accepted = false;
            return;
        }
        event.accepted = true;
    }

    Keys.onReleased: event => {
        if (hasModifier(event) || event.isAutoRepeat || keyMap[event.key] === undefined) {
            event.accepted = false;
            return;
        }
        noteKeyUp(keyMap[event.key]);
        event.accepted = true;
    }

    // A newly chosen kit shows as pads, anything else as keys, whatever was chosen before.
    Connections {
        target: instrument
        function onPatchChanged() { root.padMode = instrument.patchCategory === "drums"; }
    }

    // The two halves side by side.
    Item {
        id: halves

        readonly property real spacing: theme.spacing * 3

        anchors.fill: parent

        // The instrument: header, description and the five knobs. It keeps its 500 px while
        // the views beside it have what they need, and gives way down to what its knobs need.
        Item {
            id: leftHalf

            // Narrower than it likes: the header may take two lines, the description more.
            readonly property bool narrow: root.instrumentWidth < 500 - 0.5

            objectName: "instrumentHalf"
            visible: !root.instrumentFolded
            width: root.instrumentWidth
            height: parent.height

            ColumnLayout {
                anchors.fill: parent
                spacing: theme.spacing

                // The switches go under the name when a narrow half cannot show it whole
                // beside them; at its full width a long name is elided instead.
                GridLayout {
                    id: patchHeader

                    objectName: "patchHeader"
                    Layout.fillWidth: true
                    columns: !leftHalf.narrow || nameRow.implicitWidth + columnSpacing + switchRow.implicitWidth <= root.instrumentWidth ? 2 : 1
                    columnSpacing: theme.spacing * 1.5
                    rowSpacing: theme.spacing

                    RowLayout {
                        id: nameRow

                        Layout.fillWidth: true
                        spacing: theme.spacing * 1.5

                        CategoryIcon {
                            objectName: "patchIcon"
                            category: instrument.patchCategory
                            size: 26
                            color: theme.colors.accent2
                        }

                        Text {
                            objectName: "patchNameText"
                            // Takes only the width the switches leave: a long name is elided.
                            Layout.fillWidth: true
                            Layout.preferredWidth: Math.ceil(implicitWidth)
                            Layout.minimumWidth: 0
                            text: instrument.patchName
                            color: theme.colors.text
                            font.family: theme.fontFamily
                            font.pixelSize: 22
                            font.weight: Font.DemiBold
                            elide: Text.ElideRight
                        }
                    }

                    RowLayout {
                        id: switchRow

                        spacing: theme.spacing * 1.5

                        Toggle {
                            objectName: "chordsToggle"
                            name: qsTr("Chords")
                            checked: instrument.chords
                            help: qsTr("On: play up to eight notes at once. Off: one note at a time (the newest key wins), like a classic mono synth.")
                            onToggled: value => {
                                instrument.chords = value;
                                root.takeFocus();
                            }
                        }

                        Text {
                            text: qsTr("Chords")
                            color: theme.colors.text
                            font.family: theme.fontFamily
                            font.pixelSize: theme.baseFontSize
                        }

                        Toggle {
                            objectName: "echoToggle"
                            name: qsTr("Echo and room")
                            checked: instrument.effects
                            help: qsTr("Adds a stereo echo and a room reverb after the instrument.")
                            onToggled: value => {
                                instrument.effects = value;
                                root.takeFocus();
                            }
                        }

                        Text {
                            text: qsTr("Echo")
                            color: theme.colors.text
                            font.family: theme.fontFamily
                            font.pixelSize: theme.baseFontSize
                        }
                    }
                }

                Text {
                    objectName: "descriptionText"
                    Layout.fillWidth: true
                    // Left out, rather than cut, in a card too short for it and the knobs.
                    visible: implicitHeight <= leftHalf.height - patchHeader.height - knobRow.height - 3 * theme.spacing
                    text: root.descriptions[instrument.patchName] ?? ""
                    color: theme.colors.textMuted
                    font.family: theme.fontFamily
                    font.pixelSize: 12
                    lineHeight: 1.2
                    wrapMode: Text.WordWrap
                    // A narrow half shows in more lines what two lines hold at full width.
                    maximumLineCount: leftHalf.narrow ? 4 : 2
                    elide: Text.ElideRight
                }

                Item { Layout.fillHeight: true }

                RowLayout {
                    id: knobRow

                    Layout.fillWidth: true
                    spacing: theme.spacing

                    Repeater {
                        id: knobColumns

                        model: root.knobs

                        ColumnLayout {
                            id: column

                            required property var modelData
                            readonly property bool waiting: instrument.learning === modelData.key
                            readonly property var assigned: instrument.controllerMap[modelData.key]
                            // The knob and its label with the learn mark, whole at their own
                            // size; where a screen under 100 % needs larger letters, the label
                            // is shortened instead.
                            readonly property real need: Math.ceil(Math.max(knob.implicitWidth,
                                (knobLabel.implicitWidth + learnLabels.spacing + learnStatus.implicitWidth) * 9 / knobLabel.font.pixelSize))

                            objectName: "knob_" + modelData.key
                            // Equal columns, unless a narrow half leaves less than a label needs.
                            Layout.fillWidth: true
                            Layout.preferredWidth: (root.instrumentWidth - (root.knobs.length - 1) * knobRow.spacing) / root.knobs.length
                            Layout.minimumWidth: need
                            spacing: 2

                            Item {
                                objectName: "learnRow"
                                Layout.fillWidth: true
                                Layout.preferredHeight: 14

                                // Centred over the knob, so the learn mark reads as this knob's.
                                Row {
                                    id: learnLabels

                                    anchors.centerIn: parent
                                    spacing: 4

                                    Text {
                                        id: knobLabel

                                        objectName: "knobLabel"
                                        width: Math.min(implicitWidth, column.width - learnStatus.width - learnLabels.spacing)
                                        elide: Text.ElideRight
                                        text: column.modelData.label
                                        color: column.waiting ? theme.colors.accent2 : theme.colors.textMuted
                                        font.family: theme.fontFamily
                                        font.pixelSize: TextSize.atLeast(9, Screen.devicePixelRatio)
                                        font.letterSpacing: 0.6
                                    }

                                    Text {
                                        id: learnStatus

                                        objectName: "learnStatus"
                                        text: column.waiting ? qsTr("move…")
                                              : learnArea.containsMouse ? (column.assigned !== undefined ? qsTr("CC%1").arg(column.assigned) : qsTr("learn"))
                                              : column.assigned !== undefined ? "•" : ""
                                        color: column.waiting ? theme.colors.accent2 : theme.colors.textMuted
                                        font.family: theme.fontFamily
                                        font.pixelSize: TextSize.atLeast(9, Screen.devicePixelRatio)
                                    }
                                }

                                MouseArea {
                                    id: learnArea

                                    readonly property string help: qsTr("MIDI learn: click, then move a knob or wheel on your MIDI keyboard to control %1 with it. Right-click removes the assignment. The mod wheel and the standard sound controllers are assigned already.").arg(column.modelData.label.toLowerCase())

                                    function repeatHelp() {
                                        if (containsMouse)
                                            app.helpText = help;
                                    }

                                    anchors.fill: parent
                                    acceptedButtons: Qt.LeftButton | Qt.RightButton
                                    hoverEnabled: true
                                    cursorShape: Qt.PointingHandCursor

                                    onEntered: {
                                        app.helpText = help;
                                        Qt.callLater(repeatHelp);
                                    }
                                    onExited: app.helpText = ""
                                    onClicked: mouse => {
                                        if (mouse.button === Qt.RightButton)
                                            instrument.clearControl(column.modelData.key);
                                        else
                                            instrument.learnControl(column.modelData.key);
                                        root.takeFocus();
                                    }
                                }
                            }

                            Knob {
                                id: knob

                                objectName: "knob"
                                Layout.alignment: Qt.AlignHCenter
                                from: 0
                                to: 1
                                size: 44
                                bipolar: column.modelData.bipolar
                                defaultValue: column.modelData.defaultValue
                                name: column.modelData.label
                                help: column.modelData.help
                                value: instrument[column.modelData.property]
                                format: column.modelData.bipolar ? (v => {
                                    const d = Math.round((v - 0.5) * 200);
                                    return d > 0 ? "+" + d : String(d);
                                }) : (v => Math.round(v * 100) + " %")
                                onMoved: newValue => instrument[column.modelData.property] = newValue
                                onCommitted: {
                                    if (column.modelData.key === "volume")
                                        instrument.commitLevel();
                                    root.takeFocus();
                                }
                            }
                        }
                    }
                }
            }

            // An instrument dragged from the browser: play it, and put it on the track too.
            DropArea {
                objectName: "instrumentDrop"
                anchors.fill: parent
                keys: ["ostrel/instrument"]

                onDropped: drop => {
                    const name = String(drop.source.patchName);
                    instrument.selectPatch(name);
                    if (root.dropTrackId !== "")
                        project.setTrackInstrument(root.dropTrackId, name);
                    drop.accept(Qt.CopyAction);
                    root.takeFocus();
                }
            }
        }

        // The view switch and the views.
        ColumnLayout {
            id: viewsHalf

            objectName: "viewsHalf"
            x: root.instrumentFolded ? 0 : root.instrumentWidth + halves.spacing
            width: root.viewsWidth
            height: parent.height
            spacing: theme.spacing

            // The MIDI button at the right end, or under the view buttons when both do not
            // fit on one line.
            Item {
                id: viewSwitchRow

                // The view buttons at their own widths, or as wide as their texts where the
                // MIDI button would not fit beside them otherwise.
                readonly property bool compact: 92 + 56 + 48 + 3 * theme.spacing + midiButton.width > root.viewsWidth
                readonly property bool oneLine: viewButtons.width + theme.spacing + midiButton.width <= root.viewsWidth

                objectName: "viewSwitchRow"
                Layout.fillWidth: true
                Layout.preferredHeight: oneLine ? 28 : 2 * 28 + theme.spacing

                Row {
                    id: viewButtons

                    spacing: theme.spacing

                    Repeater {
                        model: [
                            {view: "keys", text: qsTr("Keys/Pads"), width: 92,
                             help: qsTr("Play the instrument on a piano keyboard (scroll and zoom with the wheel) or a 4 x 4 grid of pads.")},
                            {view: "grid", text: qsTr("Grid"), width: 56,
                             help: qsTr("The step sequencer: click squares to build a pattern from this track. Pick the step division and how many bars long the clip is.")},
                            {view: "fx", text: qsTr("FX"), width: 48,
                             help: qsTr("The effects on the selected track and the instrument card (e.g. the FM operators), in the order the sound passes through them.")}
                        ]

                        FlatButton {
                            required property var modelData

                            objectName: "viewButton_" + modelData.view
                            width: viewSwitchRow.compact ? Math.ceil(implicitContentWidth) + 20 : modelData.width
                            height: 28
                            text: modelData.text
                            help: modelData.help
                            selected: root.view === modelData.view
                            onClicked: {
                                root.view = modelData.view;
                                root.takeFocus();
                            }
                        }
                    }
                }

                FlatButton {
                    id: midiButton

                    objectName: "midiButton"
                    anchors.right: parent.right
                    y: parent.oneLine ? 0 : 28 + theme.spacing
                    height: 28
                    text: midi.connected ? qsTr("MIDI: connected") : qsTr("MIDI keyboard…")
                    selected: midi.connected
                    help: midi.connected ? qsTr("Your MIDI keyboard is playing the instrument. Click to change it.")
                                         : qsTr("Choose a MIDI keyboard or controller to play this instrument.")
                    onClicked: root.openMidiSettings()
                }
            }

            RowLayout {
                id: playRow

                // Room for the buttons and the octave, then for the hint on two lines, then
                // for the gap before the octave buttons; what has no room is left out.
                readonly property real hintRoom: root.viewsWidth - root.viewsNeed - spacing
                readonly property bool showsHint: hintRoom >= wheelHint.narrowest
                readonly property bool showsGap: hintRoom - 2 * spacing >= (showsHint ? wheelHint.narrowest : 0)
                readonly property int modeButtonWidth: 64
                readonly property int octaveButtonWidth: 84

                objectName: "playRow"
                Layout.fillWidth: true
                visible: root.view === "keys"
                spacing: theme.spacing

                FlatButton {
                    objectName: "keysButton"
                    Layout.preferredWidth: playRow.modeButtonWidth
                    Layout.preferredHeight: 28
                    text: qsTr("Keys")
                    selected: !root.padMode
                    help: qsTr("Play on a scrollable, zoomable piano keyboard.")
                    onClicked: {
                        root.padMode = false;
                        root.takeFocus();
                    }
                }

                FlatButton {
                    objectName: "padsButton"
                    Layout.preferredWidth: playRow.modeButtonWidth
                    Layout.preferredHeight: 28
                    text: qsTr("Pads")
                    selected: root.padMode
                    help: qsTr("Play on a 4 x 4 grid of pads: drums with a drum kit, 16 notes in a row with any other instrument.")
                    onClicked: {
                        root.padMode = true;
                        root.takeFocus();
                    }
                }

                Item {
                    visible: playRow.showsGap
                    Layout.preferredWidth: theme.spacing
                }

                FlatButton {
                    objectName: "octaveDownButton"
                    Layout.preferredWidth: playRow.octaveButtonWidth
                    Layout.preferredHeight: 28
                    text: qsTr("Octave −")
                    help: qsTr("Jump the keys an octave lower. Shortcut: Z")
                    onClicked: {
                        instrument.shiftOctave(-1);
                        root.takeFocus();
                    }
                }

                FlatButton {
                    objectName: "octaveUpButton"
                    Layout.preferredWidth: playRow.octaveButtonWidth
                    Layout.preferredHeight: 28
                    text: qsTr("Octave +")
                    help: qsTr("Jump the keys an octave higher. Shortcut: X")
                    onClicked: {
                        instrument.shiftOctave(1);
                        root.takeFocus();
                    }
                }

                Text {
                    id: octaveText

                    objectName: "octaveText"
                    text: qsTr("C%1").arg(instrument.octave)
                    color: theme.colors.textMuted
                    font.family: theme.fontFamily
                    font.pixelSize: theme.baseFontSize
                }

                Item {
                    visible: playRow.showsHint
                    Layout.fillWidth: true
                }

                Text {
                    id: wheelHint

                    // The two hints either side of the dot, each kept on one line.
                    readonly property var parts: qsTr("wheel: scroll · Ctrl + wheel: zoom").split(" · ")
                    // Broken only after the dot: the narrowest it shows whole.
                    readonly property real narrowest: Math.ceil(Math.max(firstPart.advanceWidth, lastPart.advanceWidth)) + 1

                    objectName: "wheelHint"
                    visible: playRow.showsHint
                    // It takes its whole width before the stretch takes any (the layout rounds
                    // a width down, which would break the line), and breaks only when short.
                    Layout.fillWidth: true
                    Layout.minimumWidth: narrowest
                    Layout.preferredWidth: Math.ceil(implicitWidth)
                    Layout.maximumWidth: Math.ceil(implicitWidth)
                    Layout.preferredHeight: 28
                    text: parts.map(part => part.replace(/ /g, "\u00a0")).join("\u00a0· ")
                    color: theme.colors.textMuted
                    font.family: theme.fontFamily
                    font.pixelSize: 11
                    horizontalAlignment: Text.AlignRight
                    verticalAlignment: Text.AlignVCenter
                    wrapMode: Text.WordWrap
                    maximumLineCount: 2

                    TextMetrics {
                        id: firstPart

                        font: wheelHint.font
                        text: wheelHint.parts[0] + " ·"
                    }

                    TextMetrics {
                        id: lastPart

                        font: wheelHint.font
                        text: wheelHint.parts[wheelHint.parts.length - 1]
                    }
                }
            }

            PianoKeys {
                objectName: "pianoKeys"
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.minimumHeight: 72
                visible: root.view === "keys" && !root.padMode
                onWantsFocus: root.takeFocus()
            }

            PadGrid {
                objectName: "padGrid"
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.minimumHeight: 72
                visible: root.view === "keys" && root.padMode
            }

            StepSequencer {
                objectName: "gridView"
                Layout.fillWidth: true
                Layout.fillHeight: true
                visible: root.view === "grid"
                trackId: root.sequencerTrackId
                clipId: root.sequencerClipId
                onClipCreated: clipId => root.clipCreated(clipId)
            }

            DevicesPanel {
                objectName: "fxView"
                Layout.fillWidth: true
                Layout.fillHeight: true
                visible: root.view === "fx"
                trackId: root.fxTrackId
            }

            Text {
                id: statusLine

                // In a short card the keys keep 90 pixels: the hint gives way, a problem
                // the instrument reports does not.
                readonly property bool fits: viewsHalf.height - viewSwitchRow.height - playRow.height - implicitHeight
                                             - 3 * viewsHalf.spacing >= 90

                objectName: "statusLine"
                Layout.fillWidth: true
                visible: root.view === "keys" && (instrument.problem || fits)
                text: instrument.problem ? instrument.message
                      : qsTr("Computer keyboard: A W S E D F T G Y H U J K play notes, Z and X change the octave. The sound card opens when you play.")
                color: instrument.problem ? theme.colors.error : theme.colors.textMuted
                font.family: theme.fontFamily
                font.pixelSize: 12
                // Two lines beside the pads at the first window size, three in a narrow window.
                wrapMode: Text.WordWrap
                maximumLineCount: 3
                elide: Text.ElideRight
            }
        }
    }
}
