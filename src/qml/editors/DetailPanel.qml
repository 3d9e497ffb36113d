import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The strip under the timeline: the play card, the end of the log, and the piano roll of
// the selected clip. It only routes: ids go down to the pages, their requests come up.
// The three pages live as long as the panel, so each keeps its own state across tabs.
Panel {
    id: root

    // 0 INSTRUMENT, 1 LOG, 2 PIANO.
    property int tab: 0
    property string pianoTrackId: ""
    property string pianoClipId: ""
    property string deviceTrackId: ""
    readonly property string monoFamily: Qt.platform.os === "windows" ? "Consolas" : "monospace"
    readonly property alias playCard: playCard
    // The narrowest the panel shows the play card whole.
    readonly property real narrowestWidth: playCard.narrowestWidth + 2 * playCard.anchors.margins + 2
    readonly property alias pianoRoll: pianoRoll

    readonly property var tabs: [
        {label: qsTr("INSTRUMENT"), help: qsTr("The instrument: play it on keys or pads, shape its sound, build a pattern on the step grid, or see the effects on the selected track.")},
        {label: qsTr("LOG"), help: qsTr("The flight recorder: what the app has been doing, and where its log file is.")},
        {label: qsTr("PIANO"), help: qsTr("The piano roll: see and edit the notes of the clip you selected in the timeline.")}
    ]

    signal openMidiSettings()
    signal stepClipCreated(string clipId)

    // Gives the computer keyboard to the instrument whenever its tab is shown.
    function focusPlay() {
        if (tab === 0)
            playCard.takeFocus();
    }

    // Deferred, so start-up switches and menus can call it while the window is still being
    // built; of two calls in one turn the later wins.
    function showInstrumentView(v) {
        Qt.callLater(root.applyInstrumentView, v);
    }

    function applyInstrumentView(v) {
        if (playCard)
            playCard.view = v;
    }

    // The instrument tab in view `v`.
    function openInstrumentView(v) {
        showInstrumentView(v);
        tab = 0;
    }

    function isErrorLine(line) {
        return line.indexOf(" ERROR ") >= 0 || line.indexOf(" FATAL ") >= 0;
    }

    // The colour of one log line: the level word between spaces, or an open action under an error.
    function logLineColor(line) {
        if (isErrorLine(line))
            return theme.colors.error;
        if (line.indexOf(" WARN ") >= 0)
            return theme.colors.warning;
        if (line.startsWith("    action:"))
            return theme.colors.accent2;
        return theme.colors.textMuted;
    }

    onTabChanged: focusPlay()

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 1
        spacing: 0

        Rectangle {
            objectName: "tabStrip"
            Layout.fillWidth: true
            Layout.preferredHeight: 30
            color: theme.colors.surfaceRaised

            Rectangle {
                anchors.bottom: parent.bottom
                width: parent.width
                height: 1
                color: theme.colors.border
            }

            TabStrip {
                anchors.fill: parent
                anchors.leftMargin: theme.spacing
                spacing: 2
                tabs: root.tabs
                current: root.tab
                namePrefix: "detailTab"
                tabPadding: 28
                tabHeight: height
                font.pixelSize: 11
                font.letterSpacing: 1.6
                onPicked: index => root.tab = index
            }
        }

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            PlayCard {
                id: playCard

                objectName: "playCard"
                anchors.fill: parent
                anchors.margins: theme.spacing * 1.5
                visible: root.tab === 0
                dropTrackId: root.deviceTrackId
                sequencerTrackId: root.deviceTrackId
                fxTrackId: root.deviceTrackId
                sequencerClipId: root.pianoClipId
                onOpenMidiSettings: root.openMidiSettings()
                onClipCreated: clipId => root.stepClipCreated(clipId)
            }

            ColumnLayout {
                objectName: "logPage"
                anchors.fill: parent
                anchors.margins: theme.spacing * 1.5
                visible: root.tab === 1
                spacing: theme.spacing

                RowLayout {
                    Layout.fillWidth: true
                    spacing: theme.spacing

                    FlatButton {
                        objectName: "writeTestError"
                        implicitHeight: 28
                        primary: true
                        text: qsTr("Write test error")
                        help: qsTr("Creates a harmless error on purpose so you can see how the flight recorder reports it below.")
                        onClicked: app.writeTestError()
                    }

                    FlatButton {
                        objectName: "openLogFolder"
                        implicitHeight: 28
                        text: qsTr("Open log folder")
                        help: qsTr("Opens the folder that holds ostrel.log, the file you would attach to a bug report.")
                        onClicked: app.openLogFolder()
                    }

                    Item { Layout.fillWidth: true }

                    Text {
                        objectName: "logPath"
                        Layout.maximumWidth: 480
                        Layout.fillWidth: true
                        horizontalAlignment: Text.AlignRight
                        text: app.logFilePath
                        color: theme.colors.textMuted
                        font.family: root.monoFamily
                        font.pixelSize: 11
                        elide: Text.ElideMiddle
                        Accessible.role: Accessible.StaticText
                        Accessible.name: qsTr("Log file location") + " " + app.logFilePath
                    }
                }

                Rectangle {
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    radius: theme.radius
                    color: theme.colors.surfaceRaised
                    clip: true

                    ListView {
                        id: logList

                        objectName: "logList"
                        anchors.fill: parent
                        anchors.margins: theme.spacing * 1.5
                        clip: true
                        boundsBehavior: Flickable.StopAtBounds
                        model: app.logTail.split("\n")
                        ScrollBar.vertical: ThinScrollBar {}

                        // The newest lines are the ones worth reading, but an error lists its
                        // open actions and recent steps under itself, enough to push it out of
                        // view: the newest error line is then brought back in, at the top.
                        function showNewest() {
                            positionViewAtEnd();
                            const lines = model;
                            for (let i = lines.length - 1; i >= 0; --i) {
                                if (root.isErrorLine(lines[i])) {
                                    positionViewAtIndex(i, ListView.Contain);
                                    return;
                                }
                            }
                        }

                        onModelChanged: Qt.callLater(logList.showNewest)

                        delegate: Text {
                            required property string modelData

                            objectName: "logLine"
                            width: ListView.view.width - 8
                            text: modelData
                            wrapMode: Text.WrapAnywhere
                            color: root.logLineColor(modelData)
                            font.family: root.monoFamily
                            font.pixelSize: 12
                        }
                    }
                }
            }

            PianoRoll {
                id: pianoRoll

                objectName: "pianoRoll"
                anchors.fill: parent
                anchors.margins: 1
                visible: root.tab === 2
                trackId: root.pianoTrackId
                clipId: root.pianoClipId
            }
        }
    }
}
