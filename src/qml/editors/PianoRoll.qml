import QtQuick
import QtQuick.Layouts
import "Notes.js" as Notes
import "Tracks.js" as Tracks
import "TextSize.js" as TextSize

// The notes of one MIDI clip, edited with the mouse: pitch rows top to bottom, the whole
// clip across the width. It keeps no copy of the clip beyond what it re-reads after each
// change, and every gesture is one of `project`'s undoable note edits. Times are beats
// from the clip's start.
Panel {
    id: root

    property string trackId: ""
    property string clipId: ""
    // Parts of a beat that new notes and drags snap to: 2, 4 or 8.
    property int resolution: 4

    // Records {id, pitch, velocity, start, length}, in the clip's stored order.
    property var notes: []
    property real clipLength: 0
    property int fitLow: 48
    property int fitHigh: 72
    readonly property int lowPitch: fitLow
    readonly property int highPitch: fitHigh
    readonly property real keysWidth: 46
    readonly property real laneHeight: 16

    // 0 idle (also after a press on an empty cell), 1 moving a note, 2 resizing it.
    property int dragMode: 0
    property string dragNoteId: ""
    property real dragStart: 0
    property real dragLength: 0
    property int dragPitch: 0
    property int dragVelocity: 100
    property real dragGrabOffset: 0
    property bool dragMoved: false
    // The grabbed note as read, so that an edit that leaves time alone writes it back exactly.
    property real dragOriginStart: 0
    property real dragOriginLength: 0
    readonly property alias auditionPitch: auditionTimer.pitch

    // The revision of the clip map last read (-1: none): a project change that left the clip
    // as it was reads nothing again.
    property real readRevision: -1
    // The pitch span of the notes last read; the shown range fits to it except during a drag.
    property int readLow: 127
    property int readHigh: 0

    function pitchAt(y) {
        return highPitch - Math.floor(y / laneHeight);
    }

    function rawBeatAt(x, gridWidth) {
        return x / Math.max(gridWidth, 1) * clipLength;
    }

    function beatAt(x, gridWidth) {
        const snap = 1 / resolution;
        const beat = Math.round(rawBeatAt(x, gridWidth) / snap) * snap;
        return Math.min(Math.max(beat, 0), Math.max(0, clipLength - snap));
    }

    function noteAt(beat, pitch) {
        for (let i = notes.length - 1; i >= 0; --i) {
            const n = notes[i];
            if (n.pitch === pitch && n.start <= beat && beat < n.start + n.length)
                return n;
        }
        return null;
    }

    function startDrag(note, mode, beat) {
        dragMode = mode;
        dragNoteId = note.id;
        dragStart = note.start;
        dragLength = note.length;
        dragOriginStart = note.start;
        dragOriginLength = note.length;
        dragPitch = note.pitch;
        dragVelocity = note.velocity;
        dragGrabOffset = beat - note.start;
        dragMoved = false;
    }

    function endDrag() {
        dragMode = 0;
        dragNoteId = "";
        dragMoved = false;
    }

    // Pads the notes by two semitones, always reaches down to 60 and spans an octave.
    function fitToNotes() {
        if (notes.length === 0) {
            fitLow = 48;
            fitHigh = 72;
            return;
        }
        const low = Math.max(0, Math.min(readLow - 2, 60));
        fitLow = low;
        fitHigh = Math.min(127, Math.max(readHigh + 2, Math.min(low + 12, 127)));
    }

    function repaintAll() {
        nameStrip.requestPaint();
        gridCanvas.requestPaint();
    }

    // The clip's map in its track's map, or null.
    function findClip() {
        const track = Tracks.find(project, trackId, null);
        if (track === null)
            return null;
        const clips = track.clipList;
        for (let c = 0; c < clips.length; ++c) {
            if (clips[c].id === clipId)
                return clips[c];
        }
        return null;
    }

    function refresh() {
        notes = [];
        clipLength = 0;
        readRevision = -1;
        if (trackId === "" || clipId === "") {
            repaintAll();
            return;
        }
        const clip = findClip();
        if (clip === null) {
            repaintAll();
            return;
        }
        const read = Notes.read(project.clipNotes(trackId, clipId), project.clipNoteList(trackId, clipId));
        let lo = 127;
        let hi = 0;
        for (const note of read) {
            lo = Math.min(lo, note.pitch);
            hi = Math.max(hi, note.pitch);
        }
        clipLength = clip.length;
        readRevision = clip.revision;
        readLow = lo;
        readHigh = hi;
        notes = read;
        // Fitting while a note is dragged would slide the rows under the pointer, and the
        // note with them; the range holds still until the release.
        if (dragMode === 0)
            fitToNotes();
        repaintAll();
    }

    function quantize() {
        const moved = project.quantizeClip(trackId, clipId);
        app.noteStep(moved > 0 ? "quantized %1 notes".arg(moved) : "quantize: everything is already on the grid");
    }

    onTrackIdChanged: refresh()
    onClipIdChanged: refresh()
    Component.onCompleted: refresh()

    Connections {
        target: project
        function onProjectChanged() {
            if (root.trackId === "" || root.clipId === "")
                return;
            const clip = root.findClip();
            if (clip === null || clip.revision !== root.readRevision)
                root.refresh();
        }
    }

    Connections {
        target: theme
        function onThemeChanged() {
            root.repaintAll();
            notesCanvas.requestPaint();
        }
    }

    Audition {
        id: auditionTimer

        interval: 220
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 1
        spacing: 0

        RowLayout {
            Layout.fillWidth: true
            Layout.fillHeight: false
            Layout.preferredHeight: 26
            spacing: theme.spacing

            Text {
                Layout.leftMargin: theme.spacing
                text: qsTr("GRID")
                color: theme.colors.textMuted
                font.family: theme.fontFamily
                font.pixelSize: TextSize.atLeast(9, Screen.devicePixelRatio)
                font.letterSpacing: 1.2
            }

            Segmented {
                objectName: "gridChooser"
                buttonHeight: 22
                buttonWidth: 52
                options: [{value: "2", label: qsTr("1/8")}, {value: "4", label: qsTr("1/16")},
                          {value: "8", label: qsTr("1/32")}]
                current: String(root.resolution)
                help: qsTr("How finely new notes snap when you click: an eighth, a sixteenth or a thirty-second of a beat. Dragging snaps the same way.")
                onPicked: value => root.resolution = parseInt(value)
            }

            Item { Layout.fillWidth: true }

            FlatButton {
                objectName: "quantizeButton"
                implicitHeight: 24
                text: qsTr("Quantize")
                help: qsTr("Moves every note of this clip onto the nearest grid line (one undo step for the whole clip). Notes already on the grid stay put.")
                onClicked: root.quantize()
            }

            Rectangle {
                Layout.preferredWidth: 1
                Layout.fillHeight: true
                color: theme.colors.border
            }
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.preferredHeight: 1
            color: theme.colors.border
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: 0

            ScaledCanvas {
                id: nameStrip

                objectName: "nameStrip"
                Layout.preferredWidth: root.keysWidth
                Layout.fillHeight: true
                Accessible.role: Accessible.Graphic
                Accessible.name: qsTr("Piano roll pitch names")

                onWidthChanged: requestPaint()
                onHeightChanged: requestPaint()

                onPaint: {
                    const ctx = freshContext();
                    ctx.clearRect(0, 0, width, height);
                    ctx.font = fontOf(9);
                    ctx.textBaseline = "middle";
                    const lane = root.laneHeight;
                    for (let pitch = root.highPitch; pitch >= root.lowPitch; --pitch) {
                        const y = (root.highPitch - pitch) * lane;
                        if (y + lane > height)
                            continue;
                        const black = Notes.isBlack(pitch);
                        ctx.fillStyle = black ? theme.colors.surfaceRaised : theme.colors.surface;
                        ctx.fillRect(0, y, width, lane - 1);
                        ctx.fillStyle = black ? theme.colors.textMuted : theme.colors.text;
                        ctx.fillText(Notes.name(pitch), 3, y + 8);
                    }
                }
            }

            Item {
                id: gridArea

                objectName: "gridArea"
                Layout.fillWidth: true
                Layout.fillHeight: true
                clip: true

                ScaledCanvas {
                    id: gridCanvas

                    anchors.fill: parent
                    Accessible.role: Accessible.Graphic
                    Accessible.name: qsTr("Piano roll grid: click to add or remove notes, drag to move or stretch them")

                    onWidthChanged: requestPaint()
                    onHeightChanged: requestPaint()

                    Connections {
                        target: root
                        function onResolutionChanged() { gridCanvas.requestPaint(); }
                        function onClipLengthChanged() { gridCanvas.requestPaint(); }
                        function onFitLowChanged() { root.repaintAll(); }
                        function onFitHighChanged() { root.repaintAll(); }
                    }

                    onPaint: {
                        const ctx = freshContext();
                        ctx.fillStyle = theme.colors.surface;
                        ctx.fillRect(0, 0, width, height);
                        const lane = root.laneHeight;
                        ctx.lineWidth = 1;
                        ctx.strokeStyle = theme.colors.border;
                        for (let r = 0; r <= root.highPitch - root.lowPitch; ++r) {
                            const y = r * lane;
                            if (y > height)
                                break;
                            if (Notes.isBlack(root.highPitch - r)) {
                                ctx.fillStyle = theme.colors.surfaceRaised;
                                ctx.fillRect(0, y, width, lane);
                            }
                            ctx.beginPath();
                            ctx.moveTo(0, Math.round(y) + 0.5);
                            ctx.lineTo(width, Math.round(y) + 0.5);
                            ctx.stroke();
                        }
                        const length = root.clipLength;
                        if (length <= 0)
                            return;
                        const beatPx = width / Math.max(length, 0.001);
                        const sub = 1 / root.resolution;
                        const lastBeat = Math.ceil(length + 0.001);
                        // Counted in steps, so a long clip gathers no rounding drift.
                        for (let i = 0; i * sub <= lastBeat; ++i) {
                            const b = i * sub;
                            const onBeat = Math.abs(b - Math.round(b)) < 0.001;
                            if (!onBeat && beatPx * sub < 5)
                                continue;
                            const x = Math.round(b / length * width) + 0.5;
                            ctx.strokeStyle = onBeat ? theme.colors.border : theme.colors.gridSub;
                            ctx.beginPath();
                            ctx.moveTo(x, 0);
                            ctx.lineTo(x, height);
                            ctx.stroke();
                        }
                    }
                }

                ScaledCanvas {
                    id: notesCanvas

                    objectName: "notesCanvas"
                    anchors.fill: parent

                    onWidthChanged: requestPaint()
                    onHeightChanged: requestPaint()

                    Connections {
                        target: root
                        function onNotesChanged() { notesCanvas.requestPaint(); }
                        function onFitLowChanged() { notesCanvas.requestPaint(); }
                        function onFitHighChanged() { notesCanvas.requestPaint(); }
                        function onClipLengthChanged() { notesCanvas.requestPaint(); }
                    }

                    onPaint: {
                        const ctx = freshContext();
                        ctx.clearRect(0, 0, width, height);
                        const length = Math.max(root.clipLength, 0.001);
                        const list = root.notes;
                        const soft = theme.colors.note;
                        const loud = theme.colors.noteHi;
                        for (let i = 0; i < list.length; ++i) {
                            const n = list[i];
                            const y = (root.highPitch - n.pitch) * root.laneHeight + 2;
                            if (y + 11 < 0 || y > height)
                                continue;
                            ctx.fillStyle = n.velocity >= 100 ? loud : soft;
                            ctx.fillRect(n.start / length * width, y,
                                         Math.max(3, n.length / length * width - 2), 11);
                        }
                    }
                }

                MouseArea {
                    id: mouse

                    objectName: "gridMouse"
                    anchors.fill: parent
                    acceptedButtons: Qt.LeftButton
                    hoverEnabled: true
                    cursorShape: root.dragMode === 2 ? Qt.SizeHorCursor : Qt.PointingHandCursor

                    onContainsMouseChanged: {
                        app.helpText = containsMouse
                                ? qsTr("The piano roll: every bar is a note of the selected clip. Click an empty cell to add a note (snapped to the chosen grid, and you hear it); click a note to remove it; drag a note to move or stretch it. Ctrl+Z undoes.")
                                : "";
                    }

                    onPressed: event => {
                        if (root.clipId === "" || root.clipLength <= 0)
                            return;
                        const raw = root.rawBeatAt(event.x, width);
                        const note = root.noteAt(raw, root.pitchAt(event.y));
                        if (note === null)
                            return;
                        const rightEnd = (note.start + note.length) / Math.max(root.clipLength, 0.001) * width;
                        root.startDrag(note, event.x >= rightEnd - 8 ? 2 : 1, raw);
                    }

                    onPositionChanged: event => {
                        if (root.dragMode === 0 || root.clipLength <= 0)
                            return;
                        const snap = 1 / root.resolution;
                        const raw = root.rawBeatAt(event.x, width);
                        if (root.dragMode === 1) {
                            // Beyond the shown rows the pitch goes on with the pointer, up to
                            // 0..127; the range fits to it again on the release.
                            const pitch = Math.min(127, Math.max(0, root.pitchAt(event.y)));
                            let start = Math.round((raw - root.dragGrabOffset) / snap) * snap;
                            start = Math.min(Math.max(start, 0), Math.max(0, root.clipLength - root.dragLength));
                            // Still in its own grid step: a move in pitch alone keeps the start
                            // exactly where it was, on the grid or not.
                            if (start === Math.round(root.dragOriginStart / snap) * snap)
                                start = root.dragOriginStart;
                            if (start !== root.dragStart || pitch !== root.dragPitch) {
                                root.dragMoved = true;
                                root.dragStart = start;
                                root.dragPitch = pitch;
                                project.editNote(root.trackId, root.clipId, root.dragNoteId, pitch,
                                                 root.dragVelocity, start, root.dragLength);
                            }
                        } else {
                            const end = Math.round(raw / snap) * snap;
                            let length = end - root.dragStart;
                            length = Math.min(Math.max(length, snap), Math.max(snap, root.clipLength - root.dragStart));
                            if (end === Math.round((root.dragOriginStart + root.dragOriginLength) / snap) * snap)
                                length = root.dragOriginLength;
                            if (length !== root.dragLength) {
                                root.dragMoved = true;
                                root.dragLength = length;
                                project.editNote(root.trackId, root.clipId, root.dragNoteId, root.dragPitch,
                                                 root.dragVelocity, root.dragStart, length);
                            }
                        }
                    }

                    onReleased: event => {
                        const mode = root.dragMode;
                        const noteId = root.dragNoteId;
                        const moved = root.dragMoved;
                        root.endDrag();
                        if (mode !== 0)
                            root.fitToNotes();
                        if (root.clipId === "" || root.clipLength <= 0)
                            return;
                        const pitch = root.pitchAt(event.y);
                        if (pitch < 0 || pitch > 127)
                            return;
                        if (mode === 0) {
                            app.noteStep("added note %1".arg(pitch));
                            project.addNote(root.trackId, root.clipId, pitch, 100, root.beatAt(event.x, width),
                                            1 / root.resolution);
                            auditionTimer.play(pitch);
                        } else if (!moved) {
                            app.noteStep("removed note %1".arg(pitch));
                            project.removeNote(root.trackId, root.clipId, noteId);
                        }
                    }

                    onCanceled: {
                        const mode = root.dragMode;
                        root.endDrag();
                        if (mode !== 0)
                            root.fitToNotes();
                    }
                }

                EmptyState {
                    anchors.centerIn: parent
                    width: Math.min(parent.width - 2 * theme.spacing, 520)
                    visible: root.clipId === "" || root.clipLength <= 0
                    title: qsTr("No clip selected")
                    hint: qsTr("Click a clip in the timeline above to see and edit its notes here.")
                }
            }
        }
    }
}
