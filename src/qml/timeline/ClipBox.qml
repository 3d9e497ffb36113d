import QtQuick

// One clip in a lane: its name over a picture of its notes or of its sound. A press selects
// it; a drag moves it (onto another track too) or, from the right edge, resizes it. The
// drag is previewed in the view and makes its one project call at the release.
Rectangle {
    id: box

    required property var modelData
    property Item view: null
    property string trackId: ""
    property int rowIndex: 0
    property color trackColor: theme.colors.accent
    property bool muted: false

    readonly property string clipId: modelData.id
    readonly property bool selected: clipId === view.selectedClip && trackId === view.selectedTrack
    property bool beingDragged: false
    readonly property bool followsDrag: beingDragged && !mouse.crossing
    readonly property real shownStart: followsDrag ? view.dragStartBeat : modelData.start
    readonly property real shownLength: followsDrag ? view.dragLengthBeats : modelData.length

    objectName: "clip_" + clipId
    x: (shownStart - view.viewStart) * view.ppb + 1
    y: 5
    width: Math.max(4, shownLength * view.ppb - 2)
    height: view.rowHeight - 11
    radius: 4
    clip: true
    visible: x + width > 0 && x < view.lanesWidth
    color: selected ? view.withAlpha(theme.colors.selection, 0.25) : view.withAlpha(trackColor, 0.30)
    border.width: selected ? 2 : 1
    border.color: selected ? theme.colors.selection : trackColor
    opacity: muted || (beingDragged && mouse.crossing) ? 0.4 : 1

    // The name and the picture exist only while the box is in view: a zoom changes the
    // width of every box of the song, and laying out hidden names costs more than the rest.
    Loader {
        objectName: "clipName"
        x: 6
        y: 2
        width: box.width - 8
        active: box.visible

        sourceComponent: Text {
            text: box.modelData.name
            elide: Text.ElideRight
            color: theme.colors.text
            font.family: theme.fontFamily
            font.pixelSize: 10
        }
    }

    Loader {
        y: 14
        width: box.width
        height: box.height - 16
        active: box.visible

        sourceComponent: ScaledCanvas {
            id: picture

            // The clip's notes, asked at the first paint: a change of the clip makes the
            // box anew.
            property var notes: null

            objectName: "clipPicture"
            onWidthChanged: requestPaint()
            onHeightChanged: requestPaint()

            Connections {
                target: theme

                function onThemeChanged() {
                    picture.requestPaint();
                }
            }

            onPaint: {
                const ctx = freshContext();
                ctx.fillStyle = box.trackColor;
                const clip = box.modelData;
                if (clip.audio)
                    paintAudio(ctx, clip);
                else
                    paintNotes(ctx, clip);
            }

            function paintAudio(ctx, clip) {
                const peaks = clip.peaks;
                const total = clip.audioSeconds;
                if (!peaks || peaks.length === 0 || !(total > 0))
                    return;
                const n = peaks.length;
                const clipSeconds = clip.length * 60 / project.tempo;
                const from = clip.offsetSeconds / total * n;
                const to = Math.min(n, (clip.offsetSeconds + clipSeconds) / total * n);
                for (let x = 0; x < width; ++x) {
                    const bin = Math.floor(from + (to - from) * x / Math.max(1, width));
                    if (bin < 0 || bin >= n || bin >= to)
                        break;
                    const h = Math.max(1, Math.min(1, peaks[bin]) * (height - 2));
                    ctx.fillRect(x, height / 2 - h / 2, 1, h);
                }
            }

            function paintNotes(ctx, clip) {
                if (notes === null)
                    notes = project.clipNoteList(box.trackId, box.clipId);
                if (notes.length === 0)
                    return;
                let lo = 127;
                let hi = 0;
                for (const note of notes) {
                    lo = Math.min(lo, note[0]);
                    hi = Math.max(hi, note[0]);
                }
                const span = Math.max(hi - lo, 11) + 1;
                const len = Math.max(clip.length, 0.001);
                const nh = Math.max(2, Math.min(4, height / span));
                for (const note of notes) {
                    const nx = note[1] / len * width;
                    const nw = Math.max(1.5, note[2] / len * width);
                    const ny = (1 - (note[0] - lo + 0.5) / span) * (height - nh);
                    ctx.fillRect(nx, ny, nw, nh);
                }
            }
        }
    }

    MouseArea {
        id: mouse

        property bool onEdge: false
        property bool crossing: false
        property bool resizing: false
        property real pressBodyX: 0
        property real origStart: 0
        property real origLength: 0

        objectName: "clipMouse"
        anchors.fill: parent
        acceptedButtons: Qt.LeftButton
        hoverEnabled: true
        preventStealing: true
        cursorShape: pressed ? (resizing ? Qt.SizeHorCursor : Qt.ClosedHandCursor)
                             : (onEdge ? Qt.SizeHorCursor : Qt.OpenHandCursor)

        function reset() {
            box.view.dragActive = false;
            box.beingDragged = false;
            crossing = false;
        }

        onEntered: app.helpText = qsTr("Click to select this clip and open its notes below. Drag to move it (onto another track too), drag its right edge to make it longer or shorter. Delete removes it, Ctrl+D copies it. Everything can be undone.")
        onExited: app.helpText = ""
        onPositionChanged: mouseEvent => {
            if (!pressed) {
                onEdge = mouseEvent.x > box.width - 8;
                return;
            }
            const view = box.view;
            const pt = mapToItem(view.bodyItem, mouseEvent.x, mouseEvent.y);
            if (!box.beingDragged) {
                const middle = mapToItem(view.bodyItem, 0, height / 2).y;
                if (Math.abs(pt.x - pressBodyX) < 4 && Math.abs(pt.y - middle) <= 22)
                    return;
                view.dragActive = true;
                box.beingDragged = true;
                view.dragName = box.modelData.name;
                view.dragColor = box.trackColor;
            }
            const dx = (pt.x - pressBodyX) / view.ppb;
            if (resizing) {
                view.dragStartBeat = origStart;
                view.dragLengthBeats = Math.max(view.snapGrid, view.snap(origLength + dx));
                view.dragRow = box.rowIndex;
                crossing = false;
            } else {
                view.dragStartBeat = Math.max(0, view.snap(origStart + dx));
                view.dragLengthBeats = origLength;
                view.dragRow = view.rowAt(pt.y);
                crossing = view.dragRow !== box.rowIndex;
            }
        }
        onPressed: mouseEvent => {
            const view = box.view;
            // The keys go to the clip, not to a text box that had them.
            view.forceActiveFocus();
            view.selectClip(box.trackId, box.clipId);
            resizing = mouseEvent.x > box.width - 8;
            pressBodyX = mapToItem(view.bodyItem, mouseEvent.x, mouseEvent.y).x;
            origStart = box.modelData.start;
            origLength = box.modelData.length;
            view.dragStartBeat = origStart;
            view.dragLengthBeats = origLength;
        }
        onReleased: {
            const view = box.view;
            const wasDragging = view.dragActive && box.beingDragged;
            const trackId = box.trackId;
            const clipId = box.clipId;
            const wasResizing = resizing;
            const start = view.dragStartBeat;
            const length = view.dragLengthBeats;
            const row = view.dragRow;
            reset();
            if (wasDragging)
                view.finishClipDrag(trackId, clipId, wasResizing, start, length, row);
        }
        onCanceled: reset()
    }
}
