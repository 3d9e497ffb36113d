import QtQuick
import QtQuick.Layouts
import "Colors.js" as Colors
import "TextSize.js" as TextSize

// The strip with the song clock: record, play, tempo, position, beat lights, metronome,
// loop and the engine load. A view only: every text, colour and selection is a binding on
// `transport`, `audio` and `project`, so changes from elsewhere show here too.
Item {
    id: root

    // The window decides which track to record onto.
    signal recordPressed()

    readonly property bool recording: project.recording

    readonly property string monospace: Qt.platform.os === "windows" ? "Consolas" : "monospace"

    // The space between two groups: twice the spacing, down to three quarters of it in the
    // narrowest window, where the groups at their sizes and the margins leave no more.
    component Gap: Item {
        Layout.fillWidth: true
        Layout.minimumWidth: theme.spacing * 0.75
        Layout.preferredWidth: theme.spacing * 2
        Layout.maximumWidth: theme.spacing * 2
    }

    // What the bar needs besides the gaps, with the engine text on two lines.
    readonly property real groupsNeed: recordButton.Layout.preferredWidth + playButton.Layout.preferredWidth
                                       + tempoGroup.implicitWidth + positionDisplay.Layout.preferredWidth
                                       + beatLights.implicitWidth + metronomeToggle.implicitWidth + metronomeGroup.spacing
                                       + metronomeLabel.implicitWidth + loopButton.Layout.preferredWidth
                                       + engineText.twoLineWidth
    // The margins, and the gaps at their narrowest: six, and the stretch before the engine.
    readonly property real gapsNeed: 2 * theme.spacing * 3 + 7 * theme.spacing * 0.75

    // Writes a display's help sentence while the pointer is over it.
    component HelpArea: MouseArea {
        id: area

        property string help: ""

        // Written again once the leave of the neighbour the pointer came from is through.
        function repeatHelp() {
            if (containsMouse)
                app.helpText = help;
        }

        anchors.fill: parent
        acceptedButtons: Qt.NoButton
        hoverEnabled: true
        onEntered: {
            app.helpText = help;
            Qt.callLater(() => area.repeatHelp());
        }
        onExited: app.helpText = ""
    }

    implicitHeight: 48

    Rectangle {
        anchors.top: parent.top
        width: parent.width
        height: 1
        color: theme.colors.border
    }

    Rectangle {
        anchors.bottom: parent.bottom
        width: parent.width
        height: 1
        color: theme.colors.border
    }

    // The gaps give way in a narrow window, and the engine text takes two lines; every group
    // keeps its size.
    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: theme.spacing * 3
        anchors.rightMargin: theme.spacing * 3
        spacing: 0

        FlatButton {
            id: recordButton

            objectName: "recordButton"
            Layout.preferredWidth: 76
            Layout.preferredHeight: 32
            text: qsTr("Record")
            // Room for the recording dot, so it never touches the text.
            rightPadding: 10
            selected: root.recording
            help: root.recording
                  ? qsTr("Stop recording: everything you played is kept as one clip on the selected track.")
                  : qsTr("Record what you play (keys, pads, computer or MIDI keyboard) into a clip on the selected track. Plays the clock if it is stopped; press Record again to keep the notes.")
            onClicked: root.recordPressed()

            Rectangle {
                objectName: "recordDot"
                x: recordButton.width - 12
                y: recordButton.height / 2 - 3
                width: 6
                height: 6
                radius: 3
                color: theme.colors.error
                visible: root.recording
            }
        }

        Gap {}

        FlatButton {
            id: playButton

            objectName: "playButton"
            Layout.preferredWidth: 84
            Layout.preferredHeight: 32
            primary: true
            text: transport.playing ? qsTr("Stop") : qsTr("Play")
            help: transport.playing
                  ? qsTr("Stop the song clock (also keeps any recording you made). Shortcut: Space (while the keys have focus).")
                  : qsTr("Start the song clock from the playhead (bar 1 unless you clicked the timeline ruler). With the metronome on you hear a click on every beat. Shortcut: Space.")
            onClicked: transport.togglePlay()
        }

        Gap {}

        RowLayout {
            id: tempoGroup

            spacing: theme.spacing

            FlatButton {
                objectName: "slowerButton"
                Layout.preferredWidth: 32
                Layout.preferredHeight: 32
                text: "\u2212"
                help: qsTr("Slow down by one beat per minute.")
                onClicked: transport.nudgeTempo(-1)
            }

            Item {
                objectName: "tempoDisplay"
                Layout.preferredWidth: 92
                Layout.preferredHeight: 32

                Accessible.role: Accessible.StaticText
                Accessible.name: qsTr("Tempo") + " " + transport.tempo.toFixed(1) + " " + qsTr("beats per minute")

                Text {
                    objectName: "tempoText"
                    anchors.centerIn: parent
                    // Lifted clear of the unit in the corner.
                    anchors.verticalCenterOffset: -3
                    text: transport.tempo.toFixed(1)
                    color: theme.colors.text
                    font.family: root.monospace
                    font.pixelSize: 20
                    font.weight: Font.DemiBold
                }

                Text {
                    anchors.right: parent.right
                    anchors.bottom: parent.bottom
                    text: "BPM"
                    color: theme.colors.textMuted
                    font.family: theme.fontFamily
                    font.pixelSize: TextSize.atLeast(9, Screen.devicePixelRatio)
                    font.letterSpacing: 1
                }

                HelpArea {
                    help: qsTr("The tempo in beats per minute. Turn the mouse wheel over it to change it.")
                    onWheel: wheelEvent => {
                        transport.nudgeTempo(wheelEvent.angleDelta.y > 0 ? 1 : -1);
                        wheelEvent.accepted = true;
                    }
                }
            }

            FlatButton {
                objectName: "fasterButton"
                Layout.preferredWidth: 32
                Layout.preferredHeight: 32
                text: "+"
                help: qsTr("Speed up by one beat per minute.")
                onClicked: transport.nudgeTempo(1)
            }

            FlatButton {
                objectName: "tapButton"
                Layout.preferredWidth: 92
                Layout.preferredHeight: 32
                text: qsTr("Tap tempo")
                help: qsTr("Tap tempo: click this button in time with a song (at least twice) and Ostrel sets the tempo to match. A pause of two seconds starts over.")
                onClicked: transport.tap()
            }
        }

        Gap {}

        Item {
            id: positionDisplay

            objectName: "positionDisplay"
            Layout.preferredWidth: 92
            Layout.preferredHeight: 32

            Accessible.role: Accessible.StaticText
            Accessible.name: qsTr("Song position") + " " + transport.positionText
                             + (transport.status ? ", " + transport.status : "")

            Text {
                objectName: "positionText"
                anchors.centerIn: parent
                // On one line with the tempo.
                anchors.verticalCenterOffset: -3
                text: transport.positionText
                // The clock holds while the song is not rendered that far yet.
                color: transport.status ? theme.colors.warning
                                        : transport.playing ? theme.colors.accent2 : theme.colors.textMuted
                font.family: root.monospace
                font.pixelSize: 20
                font.weight: Font.DemiBold
            }

            HelpArea {
                help: qsTr("Where the song clock is: bar, beat and sixteenth note.")
            }
        }

        Gap {}

        Row {
            id: beatLights

            // An unlit light is only its ring: in the border colour where that stands out 3:1
            // from the bar, else in the muted text colour.
            readonly property color ring: Colors.standingOut([theme.colors.border, theme.colors.textMuted],
                                                             theme.colors.background, 3)

            objectName: "beatLights"
            spacing: 4

            Accessible.role: Accessible.StaticText
            Accessible.name: qsTr("Beat") + " " + transport.beat

            Repeater {
                model: 4

                Rectangle {
                    required property int index
                    readonly property bool lit: transport.beat === index + 1

                    width: 10
                    height: 10
                    radius: 5
                    border.width: 1
                    border.color: lit ? "transparent" : beatLights.ring
                    color: lit ? (index === 0 ? theme.colors.accent : theme.colors.accent2) : "transparent"
                }
            }
        }

        Gap {}

        RowLayout {
            id: metronomeGroup

            spacing: theme.spacing

            Toggle {
                id: metronomeToggle

                objectName: "metronomeToggle"
                name: qsTr("Metronome")
                checked: transport.metronome
                help: qsTr("A click on every beat while the clock runs (press Play); the first beat of each bar is higher. The four lights beside the counter blink along even with the sound off.")
                onToggled: value => transport.setMetronome(value)
            }

            Text {
                id: metronomeLabel

                text: qsTr("Metronome")
                color: theme.colors.text
                font.family: theme.fontFamily
                font.pixelSize: theme.baseFontSize
            }

            // Left out when the bar has no room for it whole.
            Text {
                objectName: "metronomeHint"
                visible: transport.metronome && !transport.playing
                         && root.width >= root.groupsNeed + root.gapsNeed + metronomeGroup.spacing + Math.ceil(implicitWidth)
                text: qsTr("clicks while playing")
                color: theme.colors.textMuted
                font.family: theme.fontFamily
                font.pixelSize: 11
            }
        }

        Gap {}

        FlatButton {
            id: loopButton

            objectName: "loopButton"
            Layout.preferredWidth: 64
            Layout.preferredHeight: 32
            text: qsTr("Loop")
            selected: transport.loopEnabled
            help: qsTr("Repeat a stretch of the song while playing. Choose it by dragging on the timeline ruler with Shift held; the band on the ruler shows it. Shortcut: Ctrl+L")
            onClicked: transport.setLoopEnabled(!transport.loopEnabled)
        }

        // Takes what the groups leave, so the engine text stands at the right end.
        Item {
            Layout.fillWidth: true
            Layout.minimumWidth: theme.spacing * 0.75
            Layout.preferredWidth: theme.spacing * 2
        }

        Text {
            id: engineText

            // The narrowest the text reads whole, broken onto two lines at a blank.
            readonly property real twoLineWidth: {
                const words = text.split(" ");
                let narrowest = engineMetrics.advanceWidth(text);
                for (let k = 1; k < words.length; ++k) {
                    narrowest = Math.min(narrowest, Math.max(engineMetrics.advanceWidth(words.slice(0, k).join(" ")),
                                                             engineMetrics.advanceWidth(words.slice(k).join(" "))));
                }
                return Math.ceil(narrowest) + 1;
            }

            objectName: "engineText"
            // Its whole width (the layout rounds a width down, which would break the line).
            Layout.fillWidth: true
            Layout.minimumWidth: twoLineWidth
            Layout.preferredWidth: Math.ceil(implicitWidth)
            Layout.maximumWidth: Math.ceil(implicitWidth)
            text: audio.engineRunning ? qsTr("Engine  %1 %").arg(audio.cpuPercent.toFixed(1)) : qsTr("Sound card closed")
            color: audio.cpuPercent > 80 ? theme.colors.warning : theme.colors.textMuted
            font.family: theme.fontFamily
            font.pixelSize: 12
            horizontalAlignment: Text.AlignRight
            wrapMode: Text.WordWrap
            maximumLineCount: 2
            Accessible.role: Accessible.StaticText
            Accessible.name: text

            FontMetrics {
                id: engineMetrics

                font: engineText.font
            }
        }

    }
}
