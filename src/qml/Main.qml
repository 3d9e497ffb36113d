import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import "Tracks.js" as Tracks
import "WindowSize.js" as WindowSize

// The program's one window: the top bar and the transport above, the browser, the timeline
// and the detail panel in the body, the help strip below, and the Settings sheet over the
// body. It owns the window-wide shortcuts.
ApplicationWindow {
    id: root

    // Outer left and right margin of the top bar and the help strip.
    readonly property int pad: theme.spacing * 3
    // Shorter than the old smallest window: the top bar folds away and the timeline gives
    // the detail panel more of the height.
    readonly property bool shortWindow: height < WindowSize.shortBelow
    property bool showBrowser: true
    property bool showDetail: true
    // For the menu bar.
    readonly property var timelineView: timeline
    readonly property var detailView: detail
    // Instrument and settings last handed to the instrument screen, and the track map they
    // were read from.
    property string lastPlayKey: ""
    property var playTrack: null

    // Shows the Settings sheet on a page; an empty page shows the page it showed last.
    function openSettings(page) {
        settingsPanel.openPage(page);
    }

    // Takes menu n of the menu bar (0 File .. 4 Help) and pops it up under its title.
    function openMenu(n) {
        const menu = mainMenu.menuAt(n);
        if (menu)
            menu.popup(mainMenu.itemAt(n), 0, mainMenu.height);
    }

    // The track a load or a take goes to, which becomes the selection: the selected track,
    // else the last track that `accept` takes (none when it is null), else a new track of
    // `kind` ("midi" or "audio").
    function targetTrack(accept, kind) {
        let target = timeline.selectedTrack;
        if (target === "") {
            for (let i = project.trackRevisions.length - 1; i >= 0 && target === "" && accept !== null; --i) {
                const track = project.trackAt(i);
                if (accept(track))
                    target = track.id;
            }
            if (target === "")
                target = kind === "audio" ? project.addAudioTrack() : project.addTrack();
            timeline.selectedTrack = target;
        }
        return target;
    }

    // The target is the selected track, or a new MIDI track; the instrument screen plays the
    // patch at once.
    function loadInstrument(patchName) {
        const target = targetTrack(null, "midi");
        project.setTrackInstrument(target, patchName);
        instrument.selectPatch(patchName);
    }

    // The target is the selected track, else the last audio track, else a new one; the
    // sound lands at the playhead.
    function loadSample(fileName) {
        const target = targetTrack(track => track.kind === "audio", "audio");
        project.dropSample(target, fileName, timeline.playheadBeat);
    }

    // The target is the selected track, else the last track of either kind, else a new MIDI
    // track; the track's effect chain is shown.
    function loadEffect(deviceId, presetName) {
        const target = targetTrack(track => true, "midi");
        project.addDevice(target, deviceId, presetName);
        showEffectChain();
    }

    // Shows the detail panel on a tab (0 INSTRUMENT, 1 LOG, 2 PIANO).
    function showDetailTab(tab) {
        root.showDetail = true;
        detail.tab = tab;
    }

    // Shows the detail panel's instrument tab in a view ("keys", "grid" or "fx").
    function showInstrumentView(view) {
        root.showDetail = true;
        detail.openInstrumentView(view);
    }

    function showEffectChain() {
        showInstrumentView("fx");
    }

    // Stopping only stops. Starting records onto the selected track, or a new MIDI track; a
    // track without an instrument gets the one being played, so the take can be heard.
    function toggleRecording() {
        if (project.recording) {
            project.stopRecording();
            return;
        }
        const target = targetTrack(null, "midi");
        if (project.trackInstrument(target) === "")
            project.setTrackInstrument(target, instrument.patchName);
        project.startRecording(target);
    }

    // The window only writes the setting: the start-up applies it, and every colour follows
    // the theme.
    function pickTheme(id) {
        app.noteStep(qsTr("switched theme to %1").arg(id));
        if (theme.isUserTheme(id)) {
            settings.setValue("appearance.custom_theme", id);
        } else {
            settings.setValue("appearance.theme", id);
            settings.setValue("appearance.custom_theme", "");
        }
        // Picking the stored theme while another is shown (--theme) changes no setting.
        if (theme.currentId !== id)
            theme.currentId = id;
    }

    // The instrument screen plays the selected MIDI track's instrument with its settings;
    // an unchanged instrument and settings are not handed over again, and an unchanged track
    // is not read again.
    function syncPlayToTrack() {
        const id = timeline.selectedTrack;
        const track = Tracks.find(project, id, root.playTrack);
        root.playTrack = track;
        if (track === null || track.kind !== "midi" || track.instrument === "")
            return;
        const config = JSON.stringify(track.instrumentConfig);
        const key = track.instrument + "|" + config;
        if (key === root.lastPlayKey)
            return;
        root.lastPlayKey = key;
        instrument.useTrackInstrument(track.instrument, config, project.samplesDirectory);
    }

    // Selects each listed track in turn, so the last one ends selected.
    function selectLastTrackWhere(accept) {
        for (const track of project.tracks) {
            if (accept(track))
                timeline.selectedTrack = track.id;
        }
    }

    function showDevicesDemo() {
        const tracks = project.tracks;
        if (tracks.length > 2)
            timeline.selectedTrack = tracks[2].id;
        showEffectChain();
    }

    function showStepDemo() {
        const tracks = project.tracks;
        if (tracks.length > 0 && tracks[0].clipList.length > 0) {
            timeline.selectedTrack = tracks[0].id;
            timeline.selectedClip = tracks[0].clipList[0].id;
        }
        showInstrumentView("grid");
    }

    function showFmDemo() {
        selectLastTrackWhere(track => track.instrument.startsWith("FM"));
        showEffectChain();
    }

    function showRackDemo() {
        selectLastTrackWhere(track => track.instrument === "Drum Rack");
        showEffectChain();
        browser.tab = 2;
    }

    function showSamplesDemo() {
        browser.tab = 2;
    }

    // Space starts and stops the clock unless the focused item uses it itself: a text box
    // being typed in, or a button or switch that has the keyboard.
    function spaceIsFree(item) {
        return item === null || (item.cursorPosition === undefined && item.checked === undefined
                                 && item.pressed === undefined);
    }

    width: 1320
    height: 860
    minimumWidth: WindowSize.minimumWidth
    minimumHeight: WindowSize.minimumHeight
    visible: true
    color: theme.colors.background
    title: project.name + (project.dirty ? " *" : "") + "  -  " + qsTr("Ostrel") + "  " + app.versionString
    menuBar: MainMenu {
        id: mainMenu

        objectName: "mainMenu"
        host: root
    }

    Behavior on color {
        enabled: !settings.reduceMotion

        ColorAnimation { duration: 160 }
    }

    // A screen smaller than the first size, that holds the smallest, gets a window no larger
    // than its free area. A screen too small for any, as the setting of the interface size has
    // said, gets the smallest window with its top left corner, title and menus on the screen.
    Component.onCompleted: {
        const free = app.freeScreenArea(root);
        if (free.width >= minimumWidth && free.height >= minimumHeight) {
            width = Math.min(width, free.width);
            height = Math.min(height, free.height);
        } else if (free.width > 0 && free.height > 0) {
            width = minimumWidth;
            height = minimumHeight;
            x = free.x;
            y = free.y;
        }
    }

    // No note stays held while another program has the keyboard.
    onActiveChanged: if (!active) instrument.releaseAll()

    // Every note played goes to the recorder, which keeps it only while recording.
    Connections {
        target: instrument

        function onNoteOn(pitch, velocity) {
            project.recordNote(pitch, velocity);
        }

        function onNoteOff(pitch) {
            project.recordNoteOff(pitch);
        }
    }

    // Every project change may have changed the selected track's instrument.
    Connections {
        target: project

        function onProjectChanged() {
            root.syncPlayToTrack();
        }
    }

    Connections {
        target: transportBar

        function onRecordPressed() {
            root.toggleRecording();
        }
    }

    Connections {
        target: browser

        function onLoadInstrument(patchName) {
            root.loadInstrument(patchName);
        }

        function onLoadEffect(deviceId, presetName) {
            root.loadEffect(deviceId, presetName);
        }

        function onLoadSample(fileName) {
            root.loadSample(fileName);
        }
    }

    Connections {
        target: timeline

        // A new selection always hands its instrument over once.
        function onSelectedTrackChanged() {
            root.lastPlayKey = "";
            root.syncPlayToTrack();
        }

        function onEffectsAdded() {
            detail.openInstrumentView("fx");
        }

        function onShowEffects() {
            root.showEffectChain();
        }

        // A MIDI clip opens the piano roll, an audio clip the effect chain; with the clip
        // selection gone the piano roll gives way to the instrument screen.
        function onClipSelected(clipId, trackId) {
            if (clipId !== "") {
                if (project.trackKind(trackId) === "audio")
                    detail.openInstrumentView("fx");
                else
                    detail.tab = 2;
            } else if (detail.tab === 2) {
                detail.tab = 0;
            }
        }
    }

    Connections {
        target: detail

        function onOpenMidiSettings() {
            root.openSettings("midi");
        }

        function onStepClipCreated(clipId) {
            timeline.selectedClip = clipId;
        }
    }

    // The panels work on the timeline's selection.
    Binding {
        target: browser
        property: "selectedTrack"
        value: timeline.selectedTrack
    }

    Binding {
        target: detail
        property: "pianoTrackId"
        value: timeline.selectedTrack
    }

    Binding {
        target: detail
        property: "deviceTrackId"
        value: timeline.selectedTrack
    }

    Binding {
        target: detail
        property: "pianoClipId"
        value: timeline.selectedClip
    }

    header: Column {
        // Only the name and version: a window too short for the old smallest size gives its
        // height to the body.
        Item {
            objectName: "topBar"
            width: parent.width
            height: visible ? 46 : 0
            visible: !root.shortWindow

            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: root.pad
                anchors.rightMargin: root.pad
                spacing: theme.spacing * 1.5

                Image {
                    Layout.preferredWidth: 28
                    Layout.preferredHeight: 28
                    source: "qrc:/icons/ostrel-64.png"
                    sourceSize.width: 28
                    sourceSize.height: 28
                    smooth: true
                    Accessible.ignored: true
                }

                Text {
                    text: qsTr("Ostrel")
                    color: theme.colors.text
                    font.family: theme.fontFamily
                    font.pixelSize: 17
                    font.weight: Font.DemiBold
                }

                Rectangle {
                    objectName: "versionPill"
                    Layout.leftMargin: theme.spacing
                    Layout.preferredHeight: 22
                    Layout.preferredWidth: versionText.implicitWidth + 20
                    radius: height / 2
                    color: "transparent"
                    border.width: 1
                    border.color: theme.colors.border
                    Accessible.role: Accessible.StaticText
                    Accessible.name: qsTr("Version") + " " + app.versionString

                    Text {
                        id: versionText

                        anchors.centerIn: parent
                        text: app.channel.toUpperCase() + "  ·  " + app.versionString
                        color: theme.colors.textMuted
                        font.family: theme.fontFamily
                        font.pixelSize: 12
                        font.letterSpacing: 0.6
                    }
                }

                Item {
                    Layout.fillWidth: true
                }
            }

            Rectangle {
                anchors.bottom: parent.bottom
                width: parent.width
                height: 1
                color: theme.colors.border
            }
        }

        TransportBar {
            id: transportBar

            objectName: "transportBar"
            width: parent.width
        }
    }

    // The body: the browser on the left, the timeline over the detail panel on the right.
    SplitView {
        id: body

        objectName: "body"
        anchors.fill: parent
        orientation: Qt.Horizontal
        handle: splitHandle

        BrowserPanel {
            id: browser

            objectName: "browser"
            visible: root.showBrowser
            // In a narrow window the browser gives way, down to its least width, before the
            // detail panel has less than its play card needs.
            SplitView.preferredWidth: Math.max(200, Math.min(250, root.width - 3 - (root.showDetail ? detail.narrowestWidth : 0)))
            SplitView.minimumWidth: 200
            SplitView.maximumWidth: 420
        }

        SplitView {
            id: rightPane

            objectName: "rightPane"
            orientation: Qt.Vertical
            handle: splitHandle
            SplitView.fillWidth: true

            TimelineView {
                id: timeline

                objectName: "timeline"
                SplitView.fillHeight: true
                SplitView.minimumHeight: root.shortWindow ? WindowSize.shortTimelineLeast : WindowSize.timelineLeast
            }

            DetailPanel {
                id: detail

                objectName: "detail"
                visible: root.showDetail
                SplitView.preferredHeight: 310
                SplitView.minimumHeight: 200
                // No taller than the timeline's least height leaves, so the panel never runs
                // under the help strip.
                SplitView.maximumHeight: Math.max(SplitView.minimumHeight,
                                                  Math.min(520, rightPane.height - timeline.SplitView.minimumHeight - 3))
            }
        }
    }

    Component {
        id: splitHandle

        Rectangle {
            implicitWidth: 3
            implicitHeight: 3
            color: T.SplitHandle.pressed ? theme.colors.accent
                                         : T.SplitHandle.hovered ? theme.colors.textMuted : theme.colors.background
        }
    }

    // Over the body only: the bars above and the help strip stay in reach.
    SettingsPanel {
        id: settingsPanel

        objectName: "settingsPanel"
        anchors.fill: parent
        z: 100
    }

    footer: Item {
        objectName: "helpStrip"
        visible: settings.showHelpStrip
        height: visible ? 40 : 0

        Rectangle {
            anchors.top: parent.top
            width: parent.width
            height: 1
            color: theme.colors.border
        }

        RowLayout {
            anchors.fill: parent
            anchors.leftMargin: root.pad
            anchors.rightMargin: root.pad
            spacing: theme.spacing * 1.5

            Text {
                text: qsTr("HELP")
                color: theme.colors.accent2
                font.family: theme.fontFamily
                font.pixelSize: 11
                font.weight: Font.DemiBold
                font.letterSpacing: 1.4
            }

            Text {
                objectName: "helpText"
                Layout.fillWidth: true
                text: app.helpText !== "" ? app.helpText : qsTr("Point at anything to see what it does.")
                color: theme.colors.textMuted
                font.family: theme.fontFamily
                font.pixelSize: 13
                elide: Text.ElideRight
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }

            Text {
                objectName: "startupTime"
                visible: app.startupMs >= 0
                text: qsTr("Started in %1 ms").arg(app.startupMs)
                color: theme.colors.textMuted
                font.family: theme.fontFamily
                font.pixelSize: 12
            }
        }
    }

    Shortcut {
        sequence: "Ctrl+Z"
        onActivated: project.undo()
    }

    Shortcut {
        sequences: ["Ctrl+Y", "Ctrl+Shift+Z"]
        onActivated: project.redo()
    }

    Shortcut {
        sequence: "Ctrl+S"
        onActivated: project.save()
    }

    Shortcut {
        sequence: "Ctrl+N"
        onActivated: project.newProject()
    }

    Shortcut {
        sequence: "Ctrl+L"
        onActivated: transport.setLoopEnabled(!transport.loopEnabled)
    }

    Shortcut {
        sequence: "Ctrl+Q"
        onActivated: Qt.quit()
    }

    Shortcut {
        sequence: "Ctrl+T"
        onActivated: timeline.selectedTrack = project.addTrack()
    }

    Shortcut {
        sequence: "Ctrl+Shift+T"
        onActivated: timeline.selectedTrack = project.addAudioTrack()
    }

    Shortcut {
        sequence: "Ctrl+="
        onActivated: timeline.zoomBy(1.3, timeline.lanesWidth / 2)
    }

    Shortcut {
        sequence: "Ctrl+-"
        onActivated: timeline.zoomBy(1 / 1.3, timeline.lanesWidth / 2)
    }

    Shortcut {
        sequence: "Ctrl+Alt+B"
        onActivated: root.showBrowser = !root.showBrowser
    }

    Shortcut {
        sequence: "Ctrl+Alt+D"
        onActivated: root.showDetail = !root.showDetail
    }

    Shortcut {
        objectName: "spaceShortcut"
        sequence: "Space"
        enabled: root.spaceIsFree(root.activeFocusItem)
        onActivated: transport.togglePlay()
    }

    Shortcut {
        sequence: "Ctrl+,"
        onActivated: root.openSettings("")
    }
}
