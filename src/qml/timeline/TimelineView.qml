import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "Tracks.js" as Tracks

// The arrangement: a ruler of bars and beats, one row per track (header and lane of clips),
// a sideways scroll bar and the playhead over them. Positions are beats; a bar is 4 beats.
// The view keeps no song state: every change is one call on `project`, and the rows are
// rebuilt when the project says it changed.
Panel {
    id: root

    property string selectedTrack: ""
    property string selectedClip: ""
    // Pixels per beat (the zoom) and the beat at the lanes' left edge (the scroll).
    property real ppb: 28
    property real viewStart: 0

    // The track headers: 288 pixels, or wider where the lanes keep three quarters of the
    // view, so that the instrument buttons show their names whole.
    readonly property int headerWidth: Math.round(Math.max(288, Math.min(headerRest + chipNeed, width / 4)))
    // What a header's second row holds besides the instrument button: its margins, spacing,
    // the volume slider at 56 pixels and the fx, ♪ and × buttons.
    readonly property int headerRest: 183
    // The widest instrument button the song's tracks need for their names, and the width
    // every header gives its button (or the audio mark), so the rows keep one set of columns.
    readonly property real chipNeed: {
        let widest = 84;
        for (const track of tracks) {
            if (track.kind !== "audio" && track.instrument !== "")
                widest = Math.max(widest, Math.ceil(chipMetrics.advanceWidth(track.instrument.replace("Modular ", ""))) + 32 + 22);
        }
        return widest;
    }
    readonly property real chipWidth: Math.max(84, Math.min(chipNeed, headerWidth - headerRest))
    readonly property int rowHeight: 68
    readonly property int rulerHeight: 28
    // The lanes end inside the view's right border; rows that do not all fit leave their
    // scroll bar a column of its own right of the lanes.
    readonly property real lanesWidth: Math.max(1, width - 1 - headerWidth - (rowsBar.visible ? rowsBar.width : 0))
    readonly property real visibleBeats: lanesWidth / ppb
    // The song's end rounded up to a bar, at least 16 beats, plus 16 beats of room.
    readonly property real totalBeats: Math.ceil(Math.max(project.lengthBeats, 16) / 4) * 4 + 16
    readonly property real snapGrid: ppb >= 64 ? 0.25 : ppb >= 32 ? 0.5 : 1.0
    readonly property real playheadBeat: transport.playing ? transport.positionBeats : transport.startBeat
    readonly property bool clipKeysOk: selectedClip !== "" && keysFree(Window.activeFocusItem)

    // One clip drag at a time: the preview the ghost and the dragged box show.
    property bool dragActive: false
    property real dragStartBeat: 0
    property real dragLengthBeats: 0
    property int dragRow: 0
    property string dragName: ""
    property color dragColor: theme.colors.accent

    // The song's tracks, read once per project change; a track's map is asked again only
    // when that track changed, and the others keep theirs.
    property var tracks: []
    readonly property alias contentY: trackList.contentY
    readonly property Item bodyItem: body

    signal clipSelected(string clipId, string trackId)
    signal effectsAdded()
    signal showEffects()

    // An instrument button's text, as FlatButton draws it.
    FontMetrics {
        id: chipMetrics

        font.family: theme.fontFamily
        font.pixelSize: theme.baseFontSize
        font.weight: Font.Medium
    }

    function clampView() {
        viewStart = Math.max(0, Math.min(viewStart, Math.max(0, totalBeats - visibleBeats)));
    }

    function zoomBy(factor, anchorX) {
        const beatAtAnchor = viewStart + anchorX / ppb;
        ppb = Math.max(8, Math.min(160, ppb * factor));
        viewStart = beatAtAnchor - anchorX / ppb;
        clampView();
    }

    function scrollBy(beats) {
        viewStart += beats;
        clampView();
    }

    // One step per event, its way from the vertical turn alone: a sideways wheel counts as
    // turned towards the person, as it does over the piano keys.
    function wheelUp(wheel) {
        return wheel.angleDelta.y > 0;
    }

    // Halves round upward, as Math.round does.
    function snap(beats) {
        return Math.round(beats / snapGrid) * snapGrid;
    }

    // Theme colours arrive as texts; Qt.lighter by 1 makes a colour of either.
    function withAlpha(c, a) {
        const rgb = Qt.lighter(c, 1);
        return Qt.rgba(rgb.r, rgb.g, rgb.b, a);
    }

    function trackColor(index) {
        const c = theme.colors["track" + (((index % 8) + 8) % 8 + 1)];
        return c !== undefined ? c : theme.colors.accent;
    }

    function rowAt(bodyY) {
        const row = Math.floor((bodyY + trackList.contentY) / rowHeight);
        return Math.max(0, Math.min(tracks.length - 1, row));
    }

    // The clip keys stay with a text box, a button, a switch, a slider or a knob that has
    // the keyboard: each of them uses Delete or the letters itself.
    function keysFree(item) {
        if (item === null || item === undefined)
            return true;
        const knob = typeof item.committed === "function" && item.bipolar !== undefined;
        return item.cursorPosition === undefined && item.checked === undefined && item.pressed === undefined
               && !knob;
    }

    function splitAtPlayhead() {
        if (selectedClip === "" || selectedTrack === "")
            return;
        const id = project.splitClip(selectedTrack, selectedClip, playheadBeat);
        app.noteStep(id !== "" ? "split the clip at the playhead" : "split: the playhead is not inside the selected clip");
        // The left part keeps the clip's id, but a split leaves neither part selected, however
        // the controller announces the steps of the change.
        if (id !== "" && selectedClip !== "") {
            selectedClip = "";
            clipSelected("", selectedTrack);
        }
    }

    function duplicateSelectedClip() {
        if (selectedClip === "" || selectedTrack === "")
            return;
        const id = project.duplicateClip(selectedTrack, selectedClip);
        if (id !== "") {
            selectedClip = id;
            clipSelected(id, selectedTrack);
        }
    }

    function deleteSelectedClip() {
        if (selectedClip === "" || selectedTrack === "")
            return;
        project.removeClip(selectedTrack, selectedClip);
    }

    function selectClip(trackId, clipId) {
        selectedTrack = trackId;
        selectedClip = clipId;
        clipSelected(clipId, trackId);
    }

    // The end of a clip gesture, given what the box held: the one project call.
    function finishClipDrag(trackId, clipId, resizing, startBeat, lengthBeats, row) {
        if (resizing) {
            project.resizeClip(trackId, clipId, lengthBeats);
            return;
        }
        const target = row >= 0 && row < tracks.length ? tracks[row].id : trackId;
        project.moveClip(trackId, clipId, target, startBeat);
        if (target !== trackId)
            selectClip(target, clipId);
    }

    function addMidiTrack() {
        selectedTrack = project.addTrack();
    }

    function addAudioTrack() {
        selectedTrack = project.addAudioTrack();
    }

    function dropInstrumentOnNewTrack(patchName) {
        const id = project.addTrack();
        project.setTrackInstrument(id, patchName);
        instrument.selectPatch(patchName);
        selectedTrack = id;
    }

    function dropInstrument(trackId, patchName) {
        project.setTrackInstrument(trackId, patchName);
        instrument.selectPatch(patchName);
        selectedTrack = trackId;
    }

    // rowX is the drop's x from the row's left edge; a drop on the header lands before viewStart.
    function dropSample(trackId, fileName, rowX) {
        const beat = Math.max(0, snap(viewStart + (rowX - headerWidth) / ppb));
        project.dropSample(trackId, fileName, beat);
        selectedTrack = trackId;
    }

    function dropEffect(trackId, deviceId, presetName) {
        project.addDevice(trackId, deviceId, presetName);
        selectedTrack = trackId;
        effectsAdded();
    }

    function openInstrumentMenu(trackId, button) {
        selectedTrack = trackId;
        instrumentMenu.track = trackId;
        instrumentMenu.popup(button, 0, button.height);
    }

    // The rows anew, with the list's scroll kept, then the selection checked against them.
    function refresh() {
        const y = trackList.contentY;
        tracks = Tracks.all(project, tracks);
        trackList.contentY = Math.max(0, Math.min(y, tracks.length * rowHeight - trackList.height));
        let track = null;
        for (let i = 0; i < tracks.length; ++i) {
            if (tracks[i].id === selectedTrack) {
                track = tracks[i];
                break;
            }
        }
        let clipThere = false;
        if (track !== null && selectedClip !== "") {
            for (let j = 0; j < track.clipList.length; ++j) {
                if (track.clipList[j].id === selectedClip) {
                    clipThere = true;
                    break;
                }
            }
        }
        if (track === null)
            selectedTrack = "";
        if (!clipThere)
            selectedClip = "";
        if (track === null || !clipThere)
            clipSelected(selectedClip, selectedTrack);
    }

    onWidthChanged: clampView()
    onTotalBeatsChanged: clampView()
    Component.onCompleted: tracks = Tracks.all(project, [])

    Connections {
        target: project

        function onProjectChanged() {
            root.refresh();
        }
    }

    // The view pages: once the playhead comes within a beat of the right edge, or jumps
    // back before the left edge, it moves to the left edge.
    Connections {
        target: transport

        function onBeatsChanged() {
            if (!transport.playing)
                return;
            const pos = transport.positionBeats;
            if (pos > root.viewStart + root.visibleBeats - 1 || pos < root.viewStart) {
                root.viewStart = pos;
                root.clampView();
            }
        }
    }

    Shortcut {
        objectName: "splitShortcut"
        sequence: "Ctrl+E"
        enabled: root.clipKeysOk
        onActivated: root.splitAtPlayhead()
    }

    Shortcut {
        objectName: "deleteShortcut"
        sequence: "Delete"
        enabled: root.clipKeysOk
        onActivated: root.deleteSelectedClip()
    }

    Shortcut {
        objectName: "duplicateShortcut"
        sequence: "Ctrl+D"
        enabled: root.clipKeysOk
        onActivated: root.duplicateSelectedClip()
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 1
        spacing: 0

        // The ruler row: the buttons over the headers, the ruler over the lanes.
        Item {
            Layout.fillWidth: true
            Layout.preferredHeight: root.rulerHeight
            z: 2

            Rectangle {
                width: root.headerWidth
                height: parent.height
                color: theme.colors.surface

                RowLayout {
                    anchors.fill: parent
                    anchors.leftMargin: 10
                    anchors.rightMargin: 8
                    spacing: 6

                    FlatButton {
                        id: addTrackButton

                        objectName: "addTrackButton"
                        Layout.preferredWidth: 80
                        Layout.preferredHeight: 22
                        text: qsTr("+ Track")
                        help: qsTr("Adds an empty track at the end of the project (undoable): a MIDI track (notes and an instrument) or an audio track (sound files).")
                        onClicked: trackMenu.popup(addTrackButton, 0, addTrackButton.height)
                    }

                    FlatButton {
                        objectName: "splitButton"
                        Layout.preferredWidth: 56
                        Layout.preferredHeight: 22
                        text: qsTr("Split")
                        help: qsTr("Cuts the selected clip in two at the playhead (click the ruler to place it). Shortcut: Ctrl+E. One undo step.")
                        enabled: root.selectedClip !== ""
                        opacity: enabled ? 1 : 0.45
                        onClicked: root.splitAtPlayhead()
                    }

                    Item {
                        Layout.fillWidth: true
                    }

                    FlatButton {
                        objectName: "zoomOutButton"
                        Layout.preferredWidth: 24
                        Layout.preferredHeight: 22
                        text: "\u2212"
                        help: qsTr("Zoom out: see more bars. The mouse wheel over the ruler does the same.")
                        onClicked: root.zoomBy(1 / 1.3, root.lanesWidth / 2)
                    }

                    FlatButton {
                        objectName: "zoomInButton"
                        Layout.preferredWidth: 24
                        Layout.preferredHeight: 22
                        text: "+"
                        help: qsTr("Zoom in: see fewer bars in more detail. The mouse wheel over the ruler does the same.")
                        onClicked: root.zoomBy(1.3, root.lanesWidth / 2)
                    }
                }
            }

            ScaledCanvas {
                id: ruler

                objectName: "ruler"
                x: root.headerWidth
                width: root.lanesWidth
                height: parent.height
                // A loop that starts left of the view would otherwise draw its band over the
                // buttons and on into the browser.
                clip: true

                onWidthChanged: requestPaint()
                Connections {
                    target: root

                    function onPpbChanged() {
                        ruler.requestPaint();
                    }

                    function onViewStartChanged() {
                        ruler.requestPaint();
                    }
                }
                Connections {
                    target: theme

                    function onThemeChanged() {
                        ruler.requestPaint();
                    }
                }

                onPaint: {
                    const ctx = freshContext();
                    ctx.fillStyle = theme.colors.surfaceRaised;
                    ctx.fillRect(0, 0, width, height);
                    const first = Math.floor(root.viewStart);
                    const last = Math.ceil(root.viewStart + root.visibleBeats);
                    const barPx = root.ppb * 4;
                    const labelEvery = barPx >= 44 ? 1 : barPx >= 22 ? 2 : 4;
                    ctx.font = fontOf(11);
                    ctx.textBaseline = "middle";
                    ctx.lineWidth = 1;
                    for (let b = first; b <= last; ++b) {
                        const bar = b % 4 === 0;
                        if (!bar && root.ppb < 14)
                            continue;
                        const x = Math.round((b - root.viewStart) * root.ppb) + 0.5;
                        ctx.beginPath();
                        if (bar) {
                            ctx.strokeStyle = theme.colors.textMuted;
                            ctx.moveTo(x, 4);
                        } else {
                            ctx.strokeStyle = theme.colors.border;
                            ctx.moveTo(x, height - 8);
                        }
                        ctx.lineTo(x, height);
                        ctx.stroke();
                        if (bar && (b / 4) % labelEvery === 0) {
                            ctx.fillStyle = theme.colors.text;
                            ctx.fillText(String(b / 4 + 1), x + 4, 11);
                        }
                    }
                    ctx.beginPath();
                    ctx.strokeStyle = theme.colors.border;
                    ctx.moveTo(0, height - 0.5);
                    ctx.lineTo(width, height - 0.5);
                    ctx.stroke();
                }

                // The loop along the ruler's bottom.
                Rectangle {
                    objectName: "loopBand"
                    x: (transport.loopStart - root.viewStart) * root.ppb
                    y: parent.height - height
                    width: (transport.loopEnd - transport.loopStart) * root.ppb
                    height: 6
                    color: transport.loopEnabled ? theme.colors.accent2 : theme.colors.textMuted
                    opacity: transport.loopEnabled ? 0.9 : 0.35
                    Accessible.ignored: true
                }

                MouseArea {
                    id: rulerMouse

                    property real anchorBeat: 0
                    property bool loopDrag: false

                    function beatAt(x) {
                        return Math.max(0, root.snap(root.viewStart + x / root.ppb));
                    }

                    objectName: "rulerMouse"
                    anchors.fill: parent
                    acceptedButtons: Qt.LeftButton
                    hoverEnabled: true
                    preventStealing: true

                    onEntered: app.helpText = qsTr("Click the ruler to put the playhead there (Play starts from it). Shift + drag chooses the loop. The mouse wheel zooms, Shift + wheel scrolls sideways.")
                    onExited: app.helpText = ""
                    onPressed: mouse => {
                        loopDrag = (mouse.modifiers & Qt.ShiftModifier) !== 0;
                        anchorBeat = beatAt(mouse.x);
                        if (!loopDrag)
                            transport.setStartBeat(anchorBeat);
                    }
                    onPositionChanged: mouse => {
                        if (!pressed)
                            return;
                        const b = beatAt(mouse.x);
                        if (loopDrag)
                            transport.setLoopRange(Math.min(anchorBeat, b), Math.max(anchorBeat, b));
                        else
                            transport.setStartBeat(b);
                    }
                    onWheel: wheel => {
                        const up = root.wheelUp(wheel);
                        if ((wheel.modifiers & Qt.ShiftModifier) !== 0)
                            root.scrollBy(up ? -4 : 4);
                        else
                            root.zoomBy(up ? 1.15 : 1 / 1.15, wheel.x);
                    }
                }
            }
        }

        // The body: rows over the grid, with the drops, the loop wash and the drag ghost.
        Item {
            id: body

            objectName: "timelineBody"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true

            // An instrument dropped below the rows (or in an empty song) gets a track of its own.
            DropArea {
                objectName: "newTrackDrop"
                anchors.fill: parent
                keys: ["ostrel/instrument"]

                onDropped: drop => {
                    const name = String(drop.source.patchName);
                    drop.accept(Qt.CopyAction);
                    root.dropInstrumentOnNewTrack(name);
                }
            }

            ScaledCanvas {
                id: grid

                objectName: "grid"
                x: root.headerWidth
                width: root.lanesWidth
                height: parent.height

                onWidthChanged: requestPaint()
                onHeightChanged: requestPaint()
                Connections {
                    target: root

                    function onPpbChanged() {
                        grid.requestPaint();
                    }

                    function onViewStartChanged() {
                        grid.requestPaint();
                    }
                }
                Connections {
                    target: theme

                    function onThemeChanged() {
                        grid.requestPaint();
                    }
                }

                onPaint: {
                    const ctx = freshContext();
                    ctx.strokeStyle = theme.colors.border;
                    ctx.lineWidth = 1;
                    const first = Math.floor(root.viewStart);
                    const last = Math.ceil(root.viewStart + root.visibleBeats);
                    for (let b = first; b <= last; ++b) {
                        const bar = b % 4 === 0;
                        if (!bar && root.ppb < 14)
                            continue;
                        const x = Math.round((b - root.viewStart) * root.ppb) + 0.5;
                        ctx.globalAlpha = bar ? 0.9 : 0.35;
                        ctx.beginPath();
                        ctx.moveTo(x, 0);
                        ctx.lineTo(x, height);
                        ctx.stroke();
                    }
                }
            }

            ListView {
                id: trackList

                objectName: "trackList"
                anchors.fill: parent
                clip: true
                boundsBehavior: Flickable.StopAtBounds
                // Rows off screen would only follow every zoom and scroll for nothing.
                cacheBuffer: 0
                // Rows by index, so a project change refreshes them in place (focus, hover and
                // a name being typed survive it); only a change of the number of tracks makes
                // them anew.
                model: root.tracks.length

                delegate: TimelineRow {
                    view: root
                }

                ScrollBar.vertical: ThinScrollBar {
                    id: rowsBar

                    objectName: "vScrollBar"
                    padding: 2
                }
            }

            // Over the lanes only: the headers stay untinted whatever the scroll.
            Item {
                x: root.headerWidth
                width: root.lanesWidth
                height: parent.height
                clip: true

                Rectangle {
                    objectName: "loopWash"
                    visible: transport.loopEnabled
                    x: (transport.loopStart - root.viewStart) * root.ppb
                    width: (transport.loopEnd - transport.loopStart) * root.ppb
                    height: parent.height
                    color: root.withAlpha(theme.colors.accent2, 0.07)
                    Accessible.ignored: true
                }
            }

            // What a clip drag would do, drawn over the rows.
            Rectangle {
                objectName: "dragGhost"
                z: 30
                visible: root.dragActive
                x: root.headerWidth + (root.dragStartBeat - root.viewStart) * root.ppb + 1
                y: root.dragRow * root.rowHeight - trackList.contentY + 5
                width: Math.max(4, root.dragLengthBeats * root.ppb - 2)
                height: root.rowHeight - 11
                radius: 4
                color: root.withAlpha(root.dragColor, 0.35)
                border.width: 2
                border.color: root.dragColor

                Text {
                    x: 6
                    y: 2
                    width: parent.width - 8
                    text: root.dragName
                    elide: Text.ElideRight
                    color: theme.colors.text
                    font.family: theme.fontFamily
                    font.pixelSize: 10
                }
            }

            // Ctrl + wheel zooms, Shift + wheel scrolls sideways; the plain wheel goes on to
            // the track list.
            MouseArea {
                objectName: "bodyWheel"
                anchors.fill: parent
                z: 20
                acceptedButtons: Qt.NoButton

                onWheel: wheel => {
                    const up = root.wheelUp(wheel);
                    if ((wheel.modifiers & Qt.ControlModifier) !== 0)
                        root.zoomBy(up ? 1.15 : 1 / 1.15, Math.max(0, wheel.x - root.headerWidth));
                    else if ((wheel.modifiers & Qt.ShiftModifier) !== 0)
                        root.scrollBy(up ? -4 : 4);
                    else
                        wheel.accepted = false;
                }
            }

            // The empty song says what to click.
            Column {
                objectName: "emptyMessage"
                z: 40
                visible: root.tracks.length === 0
                x: root.headerWidth + (root.lanesWidth - width) / 2
                anchors.verticalCenter: parent.verticalCenter
                spacing: theme.spacing

                Text {
                    id: emptyTitle

                    anchors.horizontalCenter: parent.horizontalCenter
                    text: qsTr("No tracks yet")
                    color: theme.colors.text
                    font.family: theme.fontFamily
                    font.pixelSize: 16
                    font.weight: Font.DemiBold
                }

                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    // Wraps in lanes too narrow for one line, and is left out of lanes too
                    // short for it, the title and the buttons.
                    width: Math.min(implicitWidth, root.lanesWidth - 2 * theme.spacing)
                    visible: emptyTitle.height + height + emptyButtons.height + 2 * parent.spacing <= parent.parent.height
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.WordWrap
                    text: qsTr("Add a track, give it an instrument, then press its ♪ button for a pattern.")
                    color: theme.colors.textMuted
                    font.family: theme.fontFamily
                    font.pixelSize: theme.baseFontSize
                }

                // Side by side, so the message fits the lanes of the smallest window.
                Row {
                    id: emptyButtons

                    anchors.horizontalCenter: parent.horizontalCenter
                    spacing: theme.spacing

                    FlatButton {
                        objectName: "emptyAddMidiButton"
                        height: 30
                        primary: true
                        text: qsTr("+ Add MIDI track")
                        help: qsTr("Adds an empty MIDI track at the end of the project.")
                        onClicked: root.addMidiTrack()
                    }

                    FlatButton {
                        objectName: "emptyAddAudioButton"
                        height: 30
                        text: qsTr("+ Add audio track")
                        help: qsTr("Adds an empty audio track (for sound files) at the end of the project.")
                        onClicked: root.addAudioTrack()
                    }
                }
            }
        }

        // The sideways scroll bar under the lanes.
        Item {
            Layout.fillWidth: true
            Layout.preferredHeight: 14

            Rectangle {
                width: parent.width
                height: 1
                color: theme.colors.border
            }

            ThinScrollBar {
                id: hbar

                objectName: "hScrollBar"
                x: root.headerWidth
                width: root.lanesWidth
                height: parent.height
                orientation: Qt.Horizontal
                // Also when the whole song fits: the handle then spans the lanes.
                policy: ScrollBar.AlwaysOn
                thickness: 6
                room: 14
                size: Math.min(1, root.visibleBeats / root.totalBeats)
                position: root.viewStart / root.totalBeats

                onPositionChanged: {
                    if (pressed) {
                        root.viewStart = position * root.totalBeats;
                        root.clampView();
                    }
                }
            }
        }
    }

    // The playhead, over everything but the scroll-bar row.
    Rectangle {
        id: playhead

        readonly property real laneX: (root.playheadBeat - root.viewStart) * root.ppb

        objectName: "playhead"
        z: 50
        x: 1 + root.headerWidth + laneX - 1
        y: 1
        width: 2
        height: root.height - 16
        color: theme.colors.accent2
        visible: laneX >= 0 && 1 + root.headerWidth + laneX <= root.width
        Accessible.ignored: true
    }

    FlatMenu {
        id: trackMenu

        objectName: "trackMenu"
        width: 220

        FlatMenuItem {
            objectName: "addMidiTrackItem"
            text: qsTr("MIDI track")
            keys: "Ctrl+T"
            help: qsTr("A track for notes: give it an instrument, then draw or play notes.")
            onTriggered: root.addMidiTrack()
        }

        FlatMenuItem {
            objectName: "addAudioTrackItem"
            text: qsTr("Audio track")
            keys: "Ctrl+Shift+T"
            help: qsTr("A track for sound files (WAV): drag a sample onto it. Effects go on it like on any track.")
            onTriggered: root.addAudioTrack()
        }
    }

    InstrumentMenu {
        id: instrumentMenu

        objectName: "instrumentMenu"
    }
}
