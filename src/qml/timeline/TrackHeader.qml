import QtQuick
import QtQuick.Layouts
import "Colors.js" as Colors

// The header of a track row: colour strip, name, mute and solo on the first line;
// instrument, volume, effects, starter pattern and remove on the second. Each control makes
// one call on `project`; the row is rebuilt from the project afterwards.
Rectangle {
    id: header

    property Item view: null
    // A TrackMap of project.tracks.
    property var track: ({id: "", name: "", kind: "midi", instrument: "", muted: false, solo: false, volume: 1,
                          deviceList: []})
    property color trackColor: theme.colors.accent
    property bool selected: false

    readonly property string trackId: track.id
    readonly property bool audioTrack: track.kind === "audio"
    readonly property int effectCount: track.deviceList ? track.deviceList.length : 0
    // The instrument button's width, the same in every row of the view.
    readonly property real chipWidth: view && view.chipWidth !== undefined ? view.chipWidth : 84

    // The instrument's name as a button shows it.
    function shortName(name) {
        return name.replace("Modular ", "");
    }

    function categoryOf(name) {
        if (name === "")
            return "";
        const category = instrument.patchCategories[name];
        return category !== undefined ? category : "";
    }

    color: selected ? theme.colors.surfaceRaised : theme.colors.surface

    // Under the controls: a click on the header selects the track.
    MouseArea {
        objectName: "headerMouse"
        anchors.fill: parent
        hoverEnabled: true

        onEntered: app.helpText = qsTr("Click a track to select it. Double-click an instrument in the browser to put it on the selected track.")
        onExited: app.helpText = ""
        onClicked: header.view.selectedTrack = header.trackId
    }

    Rectangle {
        objectName: "colorStrip"
        width: 5
        height: parent.height - 1
        color: header.trackColor
    }

    Rectangle {
        anchors.bottom: parent.bottom
        width: parent.width
        height: 1
        color: theme.colors.border
    }

    Rectangle {
        anchors.right: parent.right
        width: 1
        height: parent.height
        color: theme.colors.border
    }

    // The raised fill alone is too close to the others' to tell: the selected header is also
    // edged in the colour selected clips wear, or the first colour that stands out 3:1.
    Rectangle {
        objectName: "selectedEdge"
        visible: header.selected
        anchors.fill: parent
        anchors.leftMargin: 5
        color: "transparent"
        border.width: 2
        border.color: Colors.standingOut([theme.colors.selection || theme.colors.accent, theme.colors.accent,
                                          theme.colors.accent2, theme.colors.text],
                                         theme.colors.surfaceRaised, 3)
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.leftMargin: 13
        anchors.rightMargin: 8
        anchors.topMargin: 5
        anchors.bottomMargin: 6
        spacing: 6

        RowLayout {
            Layout.fillWidth: true
            spacing: 4

            FlatTextField {
                id: nameField

                // The project's name for the track: shown unless the person is typing.
                readonly property string projectName: header.track.name

                objectName: "nameField"
                Layout.fillWidth: true
                Layout.minimumWidth: 60
                Layout.preferredHeight: 26
                font.pixelSize: 13
                topPadding: 0
                bottomPadding: 0
                help: qsTr("The name of this track. Press Enter to keep the change (it can be undone).")

                Component.onCompleted: text = projectName
                onProjectNameChanged: if (!activeFocus) text = projectName
                // A refused or trimmed name: the box shows what the project kept.
                function showProjectName() {
                    if (!activeFocus)
                        text = projectName;
                }

                onActiveFocusChanged: if (activeFocus) header.view.selectedTrack = header.trackId
                onEdited: finalText => {
                    project.renameTrack(header.trackId, finalText);
                    Qt.callLater(showProjectName);
                }
            }

            FlatButton {
                objectName: "muteButton"
                Layout.preferredWidth: 26
                Layout.preferredHeight: 26
                text: "M"
                selected: header.track.muted
                help: qsTr("Mute: silence this track in the mix.")
                onClicked: project.setTrackMuted(header.trackId, !header.track.muted)
            }

            FlatButton {
                objectName: "soloButton"
                Layout.preferredWidth: 26
                Layout.preferredHeight: 26
                text: "S"
                selected: header.track.solo
                help: qsTr("Solo: hear only the soloed tracks.")
                onClicked: project.setTrackSolo(header.trackId, !header.track.solo)
            }
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 4

            FlatButton {
                objectName: "audioButton"
                visible: header.audioTrack
                enabled: false
                Layout.preferredWidth: header.chipWidth
                Layout.preferredHeight: 26
                text: qsTr("audio")
                iconName: "sampler"
                help: qsTr("An audio track: it plays sound files. Drag a sample here from the browser's SAMPLES list.")
            }

            FlatButton {
                id: instrumentButton

                objectName: "instrumentButton"
                visible: !header.audioTrack
                Layout.preferredWidth: header.chipWidth
                Layout.preferredHeight: 26
                text: header.track.instrument === "" ? qsTr("no sound") : header.shortName(header.track.instrument)
                iconName: header.categoryOf(header.track.instrument)
                textAlign: Text.AlignLeft
                selected: header.track.instrument !== ""
                help: qsTr("Which instrument plays this track's notes. Click to choose one from the list, or drag an instrument here from the browser.")
                onClicked: header.view.openInstrumentMenu(header.trackId, instrumentButton)
            }

            FlatSlider {
                objectName: "volumeSlider"
                Layout.fillWidth: true
                Layout.preferredWidth: 40
                Layout.preferredHeight: 26
                from: 0
                to: 1.5
                value: header.track.volume
                help: qsTr("This track's volume in the mix. Applied when you let go; one undo step.")
                onCommitted: finalValue => project.setTrackVolume(header.trackId, finalValue)
            }

            FlatButton {
                id: fxButton

                objectName: "fxButton"
                // Wider for a count of two digits, taken from the volume slider, so the
                // number never gives way to an ellipsis.
                Layout.preferredWidth: Math.max(38, Math.ceil(fxButton.contentItem.implicitWidth) + 10)
                Layout.preferredHeight: 26
                text: header.effectCount > 0 ? qsTr("fx %1").arg(header.effectCount) : qsTr("fx")
                selected: header.effectCount > 0
                help: qsTr("The effects on this track: click to see and edit them on the instrument screen's FX view. Drag an effect from the browser onto the track to add one.")
                onClicked: {
                    const view = header.view;
                    view.selectedTrack = header.trackId;
                    view.showEffects();
                }
            }

            // An audio track has no pattern: its place stays empty, so the fx and × buttons
            // keep the columns of the other rows.
            Item {
                visible: header.audioTrack
                Layout.preferredWidth: 26
                Layout.preferredHeight: 26
            }

            FlatButton {
                objectName: "patternButton"
                visible: !header.audioTrack
                Layout.preferredWidth: 26
                Layout.preferredHeight: 26
                text: "♪"
                help: qsTr("Add a 4-bar starter pattern after the last clip of this track (a drum beat on a drum track, an arpeggio otherwise). An empty track also gets an instrument.")
                onClicked: {
                    const id = header.trackId;
                    header.view.selectedTrack = id;
                    project.addPattern(id);
                }
            }

            FlatButton {
                objectName: "removeButton"
                Layout.preferredWidth: 26
                Layout.preferredHeight: 26
                text: "×"
                help: qsTr("Remove this track and everything on it. Undo brings it back.")
                onClicked: project.removeTrack(header.trackId)
            }
        }
    }
}
