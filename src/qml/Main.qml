import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T

// The program's one window: the top bar and the transport above, the browser, the timeline
// and the detail panel in the body, the help strip below, and the Settings sheet over the
// body. It owns the window-wide shortcuts.
ApplicationWindow {
    id: root

    // Outer left and right margin of the top bar and the help strip.
    readonly property int pad: theme.spacing * 3
    property bool showBrowser: true
    property bool showDetail: true

    // Shows the Settings sheet on a page; an empty page shows the page it showed last.
    function openSettings(page) {
        settingsPanel.openPage(page);
    }

    // Space starts and stops the clock unless the focused item uses it itself: a text box
    // being typed in, or a button or switch that has the keyboard.
    function spaceIsFree(item) {
        return item === null || (item.cursorPosition === undefined && item.checked === undefined
                                 && item.pressed === undefined);
    }

    width: 1320
    height: 860
    minimumWidth: 940
    minimumHeight: 640
    visible: true
    color: theme.colors.background
    title: project.name + (project.dirty ? " *" : "") + "  -  " + qsTr("Ostrel") + "  " + app.versionString

    Behavior on color {
        enabled: !settings.reduceMotion

        ColorAnimation { duration: 160 }
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

    header: Column {
        Item {
            objectName: "topBar"
            width: parent.width
            height: 46

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
            SplitView.preferredWidth: 250
            SplitView.minimumWidth: 200
            SplitView.maximumWidth: 420
        }

        SplitView {
            objectName: "rightPane"
            orientation: Qt.Vertical
            handle: splitHandle
            SplitView.fillWidth: true

            TimelineView {
                id: timeline

                objectName: "timeline"
                SplitView.fillHeight: true
                SplitView.minimumHeight: 170
            }

            DetailPanel {
                id: detail

                objectName: "detail"
                visible: root.showDetail
                SplitView.preferredHeight: 310
                SplitView.minimumHeight: 200
                SplitView.maximumHeight: 520
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
