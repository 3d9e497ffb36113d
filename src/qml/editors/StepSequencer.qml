import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "Notes.js" as Notes
import "Colors.js" as Colors
import "Tracks.js" as Tracks

// The step grid of the instrument screen: one row per sound (a drum of the track's kit or a
// note of a scale), one cell per step of the shown bar. A click places or removes a note, a
// right-click changes how hard it is played; both are `project`'s undoable note edits, so
// the piano roll shows the same clip. A bar is always 4 beats here.
Panel {
    id: root

    property string trackId: ""
    property string clipId: ""
    // A clip made here shows at once without writing over `clipId`, so the owner's binding
    // of `clipId` goes on working; the next clip id from the owner takes over again.
    property string madeClipId: ""
    readonly property string shownClipId: shownClip()

    signal clipCreated(string clipId)

    // View settings, kept while the grid lives.
    property string scale: "minor"
    property int octaveShift: 0
    property int noteSteps: 1
    property int bar: 0
    property string stepDivision: "1/16"
    property int clipBars: 1

    // Read from the project on each refresh.
    property var track: null
    property int trackIndex: -1
    property real clipStart: 0
    property real clipLength: 0
    property var notes: []
    property var lookup: ({})

    readonly property real stepBeats: beatsOf(stepDivision)
    readonly property int stepsPerBar: Math.round(4 / stepBeats)
    readonly property real labelWidth: 84
    readonly property string instrumentName: track !== null ? track.instrument : ""
    readonly property string category: {
        if (instrumentName === "")
            return "synth";
        const found = instrument.patchCategories[instrumentName];
        return found !== undefined ? found : "synth";
    }
    readonly property bool drums: category === "drums"
    readonly property int barCount: Math.max(1, Math.ceil(clipLength / 4))
    readonly property int stepsShown: Math.max(0, Math.min(stepsPerBar, Math.round((clipLength - bar * 4) / stepBeats)))
    readonly property color trackColor: {
        const key = "track" + (((trackIndex % 8) + 8) % 8 + 1);
        const value = theme.colors[key];
        return value !== undefined ? value : theme.colors.accent;
    }
    // The fills of empty cells hardly differ from the panel's (white on white in a light
    // theme), so they also get an edge that stands out 3:1 from the panel.
    readonly property color emptyCellEdge: Colors.standingOut([theme.colors.border, theme.colors.textMuted],
                                                              theme.colors.surface, 3)
    // The absolute step under the play position; it is not wrapped into the clip.
    readonly property int playStep: transport.playing && clipLength > 0
                                    ? Math.floor((transport.positionBeats - clipStart) / stepBeats + 0.000001) : -1
    // {pitch, label} top to bottom; replaced only when they differ, so the cells are made
    // again only when the rows themselves change, not on every edit.
    property var rows: []
    property string rowsKey: ""

    // The instrument this grid last gave the live instrument, as name + "|" + settings.
    property string soundKey: ""
    property bool givingSound: false
    readonly property alias auditionPitch: auditionTimer.pitch
    property bool refreshing: false

    readonly property var kitRows: [{pitch: 49, label: qsTr("Crash")}, {pitch: 46, label: qsTr("Open hat")},
                                    {pitch: 45, label: qsTr("High tom")}, {pitch: 42, label: qsTr("Closed hat")},
                                    {pitch: 41, label: qsTr("Low tom")}, {pitch: 39, label: qsTr("Clap")},
                                    {pitch: 38, label: qsTr("Snare")}, {pitch: 36, label: qsTr("Kick")}]

    // Read through a function: a handler of a change of `clipId` may run before the bindings
    // that follow it.
    function shownClip() {
        return madeClipId !== "" ? madeClipId : clipId;
    }

    function beatsOf(division) {
        return division === "1/16" ? 0.25 : division === "1/8" ? 0.5 : division === "1/8t" ? 1 / 3 : 1.0;
    }

    // The step nearest a start, halves rounding upward. Read from the division itself: a
    // refresh on a division change may run before the bindings that follow it.
    function stepOf(start) {
        return Math.floor(start / beatsOf(stepDivision) + 0.5);
    }

    function makeRows(track, drums, name, category, scale, octaveShift) {
        if (drums && name === "Drum Rack") {
            const pads = track !== null && track.instrumentConfig && Array.isArray(track.instrumentConfig.pads)
                    ? track.instrumentConfig.pads : [];
            const made = [];
            for (let pitch = 51; pitch >= 36; --pitch) {
                let label = "";
                for (const pad of pads) {
                    if (pad && pad.note === pitch && typeof pad.sample === "string")
                        label = pad.sample.replace(/\.wav$/i, "");
                }
                made.push({pitch: pitch, label: label !== "" ? label : qsTr("Pad %1").arg(pitch - 35)});
            }
            return made;
        }
        if (drums)
            return kitRows;
        const root = Math.min(108, Math.max(0, (category === "bass" ? 36 : 60) + octaveShift));
        const intervals = scale === "major" ? [0, 2, 4, 5, 7, 9, 11, 12]
                        : scale === "chromatic" ? [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12]
                        : [0, 2, 3, 5, 7, 8, 10, 12];
        const made = [];
        for (let i = intervals.length - 1; i >= 0; --i) {
            const pitch = root + intervals[i];
            if (pitch <= 127)
                made.push({pitch: pitch, label: Notes.name(pitch)});
        }
        return made;
    }

    function updateRows() {
        const made = makeRows(track, drums, instrumentName, category, scale, octaveShift);
        const key = JSON.stringify(made);
        if (key !== rowsKey) {
            rowsKey = key;
            rows = made;
        }
    }

    // Everything is worked out first and stored at the end, so that the rows and cells are
    // not taken down and made again on every edit.
    function refresh() {
        const shown = shownClip();
        const foundTrack = Tracks.find(project, trackId, null);
        const foundIndex = foundTrack !== null ? foundTrack.index : -1;
        let clip = null;
        if (foundTrack !== null) {
            for (const c of foundTrack.clipList) {
                if (c.id === shown)
                    clip = c;
            }
        }
        const read = [];
        const keys = {};
        if (foundTrack !== null && clip !== null && clip.length > 0) {
            // Start and length exactly, so that a right-click writes back the times it read.
            for (const note of Notes.read(project.clipNotes(trackId, shown), project.clipNoteList(trackId, shown))) {
                read.push(note);
                keys[note.pitch + ":" + stepOf(note.start)] = note;
            }
        }
        refreshing = true;
        track = foundTrack;
        trackIndex = foundIndex;
        clipStart = clip !== null ? clip.start : 0;
        clipLength = clip !== null ? clip.length : 0;
        clipBars = clip !== null ? Math.max(1, Math.ceil(clip.length / 4)) : 1;
        notes = read;
        lookup = keys;
        refreshing = false;
        updateRows();
        if (bar >= barCount)
            bar = barCount - 1;
    }

    // Plays the track's own instrument with its settings (a Sampler's sound, a Drum Rack's
    // pads, FM tweaks), not merely the instrument of that name.
    function useTrackSound() {
        if (track === null || instrumentName === "")
            return;
        const config = JSON.stringify(track.instrumentConfig || {});
        const key = instrumentName + "|" + config;
        if (key === soundKey && instrument.patchName === instrumentName)
            return;
        givingSound = true;
        instrument.useTrackInstrument(instrumentName, config, project.samplesDirectory);
        givingSound = false;
        soundKey = key;
    }

    function audition(pitch) {
        useTrackSound();
        auditionTimer.play(pitch);
    }

    function cellNote(pitch, step) {
        const note = lookup[pitch + ":" + step];
        return note !== undefined ? note : null;
    }

    function clickCell(pitch, index) {
        const step = bar * stepsPerBar + index;
        const note = cellNote(pitch, step);
        if (note !== null) {
            project.removeNote(trackId, shownClip(), note.id);
            return;
        }
        const length = (drums ? 1 : noteSteps) * stepBeats;
        const start = step * stepBeats;
        project.addNote(trackId, shownClip(), pitch, 100, start, Math.min(length, clipLength - start));
        audition(pitch);
    }

    function rightClickCell(pitch, index) {
        const note = cellNote(pitch, bar * stepsPerBar + index);
        if (note === null)
            return;
        const v = note.velocity;
        const velocity = v <= 75 ? 100 : v <= 100 ? 127 : 60;
        project.editNote(trackId, shownClip(), note.id, note.pitch, velocity, note.start, note.length);
    }

    function newClip() {
        let start = 0;
        if (track !== null) {
            for (const c of track.clipList)
                start = Math.max(start, c.start + c.length);
        }
        const id = project.addEmptyClip(trackId, start, 4.0);
        if (id === "")
            return;
        madeClipId = id;
        bar = 0;
        refresh();
        clipCreated(id);
    }

    function pickBars(value) {
        if (track === null || clipLength <= 0)
            return;
        const n = parseInt(value);
        project.resizeClip(trackId, shownClip(), n * 4);
        clipBars = n;
    }

    onTrackIdChanged: { bar = 0; refresh(); }
    onClipIdChanged: {
        madeClipId = "";
        bar = 0;
        refresh();
    }
    onStepDivisionChanged: { bar = 0; refresh(); }
    onScaleChanged: updateRows()
    onOctaveShiftChanged: updateRows()
    onCategoryChanged: if (!refreshing) updateRows()
    Component.onCompleted: refresh()

    Connections {
        target: project
        // A change of another track leaves the grid as it is.
        function onProjectChanged() {
            if (root.track === null ? root.trackId !== "" : !Tracks.current(project, root.track))
                root.refresh();
        }
    }

    // Someone else changed what the live instrument plays: give the track's sound again.
    Connections {
        target: instrument
        function onPatchChanged() {
            if (!root.givingSound)
                root.soundKey = "";
        }
    }

    Audition {
        id: auditionTimer

        interval: 200
    }

    // Nothing to program: no track, or no clip of it.
    EmptyState {
        anchors.centerIn: parent
        width: Math.min(parent.width - 4 * theme.spacing, 560)
        visible: root.track === null || root.clipLength <= 0
        title: root.track === null ? qsTr("No track selected")
                                   : qsTr("No clip selected on “%1”").arg(root.track.name)
        hint: root.track === null
              ? qsTr("Click a track in the timeline, then come back here to program a pattern.")
              : qsTr("Click one of its clips in the timeline, or start a new one-bar clip here.")

        FlatButton {
            objectName: "newClipButton"
            anchors.horizontalCenter: parent.horizontalCenter
            visible: root.track !== null
            primary: true
            implicitHeight: 30
            text: qsTr("New 1-bar clip")
            help: qsTr("Adds an empty one-bar clip to this track (after its last clip) and opens it here. One undo step.")
            onClicked: root.newClip()
        }
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: theme.spacing
        spacing: theme.spacing
        visible: root.track !== null && root.clipLength > 0

        // One row when the panel is wide enough, wrapped onto more rows when it is not.
        Flow {
            objectName: "header"
            Layout.fillWidth: true
            spacing: theme.spacing

            Item {
                height: 28
                width: headerLabels.implicitWidth

                Row {
                    id: headerLabels

                    anchors.verticalCenter: parent.verticalCenter
                    spacing: theme.spacing

                    Text {
                        objectName: "trackName"
                        text: root.track !== null ? root.track.name : ""
                        color: theme.colors.text
                        font.family: theme.fontFamily
                        font.pixelSize: 13
                        font.weight: Font.DemiBold
                    }

                    Text {
                        objectName: "instrumentLine"
                        text: root.instrumentName === "" ? qsTr("· no instrument yet: give the track one to hear the steps")
                              : root.drums ? qsTr("· drum kit") : qsTr("· %1").arg(root.category)
                        color: root.instrumentName === "" ? theme.colors.warning : theme.colors.textMuted
                        font.family: theme.fontFamily
                        font.pixelSize: 12
                    }
                }
            }

            Segmented {
                objectName: "scaleChooser"
                visible: !root.drums
                buttonHeight: 28
                buttonWidth: 58
                spacing: 2
                options: [{value: "minor", label: qsTr("Minor")}, {value: "major", label: qsTr("Major")},
                          {value: "chromatic", label: qsTr("All")}]
                current: root.scale
                help: qsTr("Which notes the rows are: a minor scale, a major scale or every semitone.")
                onPicked: value => root.scale = value
            }

            Row {
                visible: !root.drums
                spacing: 2

                FlatButton {
                    objectName: "octaveDown"
                    width: 56
                    implicitHeight: 28
                    text: qsTr("Oct −")
                    help: qsTr("Move the rows one octave lower.")
                    onClicked: root.octaveShift = Math.max(-36, root.octaveShift - 12)
                }

                FlatButton {
                    objectName: "octaveUp"
                    width: 56
                    implicitHeight: 28
                    text: qsTr("Oct +")
                    help: qsTr("Move the rows one octave higher.")
                    onClicked: root.octaveShift = Math.min(36, root.octaveShift + 12)
                }
            }

            Segmented {
                objectName: "lengthChooser"
                visible: !root.drums
                buttonHeight: 28
                buttonWidth: 44
                spacing: 2
                options: [{value: "1", label: "1/16"}, {value: "2", label: "1/8"}, {value: "4", label: "1/4"}]
                current: String(root.noteSteps)
                help: qsTr("How long each new note lasts: a sixteenth, an eighth or a quarter note.")
                onPicked: value => root.noteSteps = parseInt(value)
            }

            Segmented {
                objectName: "divisionChooser"
                buttonHeight: 28
                buttonWidth: 44
                spacing: 2
                options: [{value: "1/16", label: "1/16"}, {value: "1/8", label: "1/8"},
                          {value: "1/8t", label: "1/8ᵗ"}, {value: "1/4", label: "1/4"}]
                current: root.stepDivision
                help: qsTr("How fine the grid is: sixteenths, eighths, eighth triplets or quarters. Changing it re-draws the grid.")
                onPicked: value => root.stepDivision = value
            }

            Segmented {
                objectName: "barsChooser"
                buttonHeight: 28
                buttonWidth: 32
                spacing: 2
                options: [{value: "1", label: "1"}, {value: "2", label: "2"}, {value: "4", label: "4"},
                          {value: "8", label: "8"}]
                current: String(root.clipBars)
                help: qsTr("How many bars long this clip is. Picking a bigger number stretches the clip; picking one with no clip here starts a new clip of that length.")
                onPicked: value => root.pickBars(value)
            }

            Row {
                visible: root.barCount > 1
                spacing: theme.spacing

                FlatButton {
                    objectName: "previousBar"
                    width: 30
                    implicitWidth: 30
                    implicitHeight: 28
                    text: "◀"
                    help: qsTr("The previous bar of this clip.")
                    enabled: root.bar > 0
                    opacity: enabled ? 1 : 0.4
                    onClicked: root.bar = Math.max(0, root.bar - 1)
                }

                Text {
                    objectName: "barCounter"
                    height: 28
                    verticalAlignment: Text.AlignVCenter
                    text: qsTr("Bar %1 / %2").arg(root.bar + 1).arg(root.barCount)
                    color: theme.colors.textMuted
                    font.family: theme.fontFamily
                    font.pixelSize: 12
                }

                FlatButton {
                    objectName: "nextBar"
                    width: 30
                    implicitWidth: 30
                    implicitHeight: 28
                    text: "▶"
                    help: qsTr("The next bar of this clip.")
                    enabled: root.bar < root.barCount - 1
                    opacity: enabled ? 1 : 0.4
                    onClicked: root.bar = Math.min(root.barCount - 1, root.bar + 1)
                }
            }
        }

        // Rows that do not fit, each high enough for its name, scroll up from below the edge; the
        // scroll bar then takes a column of its own right of the last step.
        Flickable {
            id: gridArea

            objectName: "gridArea"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            contentWidth: width
            contentHeight: root.rows.length * rowHeight
            flickableDirection: Flickable.VerticalFlick
            boundsBehavior: Flickable.StopAtBounds
            interactive: contentHeight > height

            ScrollBar.vertical: ThinScrollBar {
                id: rowsBar

                objectName: "rowsScrollBar"
                padding: 1
            }

            readonly property real cellWidth: Math.max(8, (width - root.labelWidth - (rowsBar.visible ? rowsBar.width : 0))
                                                          / root.stepsPerBar)
            readonly property real rowHeight: root.rows.length === 0 ? 20
                                              : Math.max(14, Math.min(26, height / root.rows.length))
            // The shown bar's cell under the play position; -1 when it lies elsewhere.
            readonly property int playCell: root.playStep - root.bar * root.stepsPerBar

            Repeater {
                model: root.rows

                Item {
                    id: row

                    required property var modelData
                    required property int index

                    objectName: "row" + index
                    y: index * gridArea.rowHeight
                    width: gridArea.width
                    height: gridArea.rowHeight

                    Text {
                        objectName: "rowLabel"
                        width: root.labelWidth - 8
                        height: parent.height
                        horizontalAlignment: Text.AlignRight
                        verticalAlignment: Text.AlignVCenter
                        elide: Text.ElideRight
                        text: row.modelData.label
                        color: theme.colors.textMuted
                        font.family: theme.fontFamily
                        font.pixelSize: 10
                    }

                    Repeater {
                        model: root.stepsShown

                        Rectangle {
                            id: cell

                            required property int index
                            readonly property var note: root.cellNote(row.modelData.pitch, root.bar * root.stepsPerBar + index)
                            readonly property bool playing: index === gridArea.playCell

                            objectName: "cell" + index
                            x: root.labelWidth + index * gridArea.cellWidth
                            width: gridArea.cellWidth - 2
                            height: gridArea.rowHeight - 2
                            radius: 3
                            color: note !== null ? Qt.rgba(root.trackColor.r, root.trackColor.g, root.trackColor.b,
                                                     0.45 + 0.55 * note.velocity / 127)
                                   : index % 4 === 0 ? theme.colors.surfaceRaised
                                   : Qt.darker(theme.colors.surfaceRaised, 1.12)
                            border.width: playing ? 2 : 1
                            border.color: playing ? theme.colors.accent2 : note !== null ? root.trackColor : root.emptyCellEdge

                            Accessible.role: Accessible.CheckBox
                            Accessible.checkable: true
                            Accessible.checked: note !== null
                            Accessible.name: row.modelData.label + ", " + qsTr("step %1").arg(index + 1)

                            MouseArea {
                                anchors.fill: parent
                                acceptedButtons: Qt.LeftButton | Qt.RightButton
                                hoverEnabled: true
                                onContainsMouseChanged: {
                                    app.helpText = containsMouse
                                            // The row's label may be a sample's name: it goes in last, so a "%1" in it stays as it is.
                                            ? qsTr("Click to place or remove a note here (%2, step %1). Right-click a note to make it softer or harder.")
                                              .arg(cell.index + 1).arg(row.modelData.label)
                                            : "";
                                }
                                onClicked: event => {
                                    if (event.button === Qt.RightButton)
                                        root.rightClickCell(row.modelData.pitch, cell.index);
                                    else
                                        root.clickCell(row.modelData.pitch, cell.index);
                                }
                            }
                        }
                    }
                }
            }
        }
    }
}
