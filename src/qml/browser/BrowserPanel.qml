import QtQuick
import QtQuick.Layouts

// The left column of the window: the project's name, its unsaved mark and last message,
// then instruments, effects and sound files to pick from, one search box for all three.
// It decides nothing about tracks: a double-click asks the window, a drag the drop target.
Panel {
    id: root

    // The timeline's selected track (empty = none); the window decides where items go.
    property string selectedTrack: ""
    // 0 instruments, 1 effects, 2 samples.
    property int tab: 0
    readonly property string searchWords: searchField.text.trim().toLowerCase()

    readonly property var tabs: [
        {label: qsTr("INSTRUMENTS"), help: qsTr("Instruments to play and to put on MIDI tracks, listed by kind."),
         placeholder: qsTr("Search instruments")},
        {label: qsTr("EFFECTS"), help: qsTr("Effects (with presets) to put on any track."),
         placeholder: qsTr("Search effects and presets")},
        {label: qsTr("SAMPLES"), help: qsTr("Sound files (.wav) from your samples folder, to drop on an audio track."),
         placeholder: qsTr("Search samples")}
    ]

    signal loadInstrument(string patchName)
    signal loadEffect(string deviceId, string presetName)
    signal loadSample(string fileName)

    // The controller keeps the name trimmed and refuses a blank one: show what it kept.
    function showStoredName() {
        if (!nameField.activeFocus && nameField.text !== project.name) {
            nameField.remove(0, nameField.length);
            nameField.insert(0, project.name);
        }
    }

    // Files copied into the folder while the program runs show up when the tab is opened.
    onTabChanged: if (tab === 2) project.refreshSamples()

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: theme.spacing * 1.5
        spacing: theme.spacing

        // Anchored, not a row: a row that was laid out while the mark was hidden left it over
        // the heading when the mark appeared at 150 % on a small screen.
        Item {
            Layout.fillWidth: true
            implicitHeight: Math.max(heading.implicitHeight, unsavedMark.implicitHeight)

            Text {
                id: heading

                anchors.left: parent.left
                anchors.verticalCenter: parent.verticalCenter
                text: qsTr("PROJECT")
                color: theme.colors.accent2
                font.family: theme.fontFamily
                font.pixelSize: 11
                font.weight: Font.DemiBold
                font.letterSpacing: 1.6
            }

            Text {
                id: unsavedMark

                objectName: "unsavedMark"
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                visible: project.dirty
                text: qsTr("● unsaved")
                color: theme.colors.warning
                font.family: theme.fontFamily
                font.pixelSize: 11
            }
        }

        FlatTextField {
            id: nameField

            objectName: "projectName"
            Layout.fillWidth: true
            implicitHeight: 28
            text: project.name
            placeholderText: qsTr("Project name")
            help: qsTr("The name of your song. Press Enter to keep the change (it can be undone).")
            onEdited: finalText => {
                project.renameProject(finalText);
                Qt.callLater(root.showStoredName);
            }
        }

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 4

            Text {
                objectName: "projectMessage"
                Layout.fillWidth: true
                visible: project.message !== ""
                text: project.message
                color: project.problem ? theme.colors.warning : theme.colors.textMuted
                font.family: theme.fontFamily
                font.pixelSize: 11
                wrapMode: Text.WordWrap
                maximumLineCount: 3
                elide: Text.ElideRight
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }

            Rectangle {
                Layout.fillWidth: true
                Layout.preferredHeight: 1
                color: theme.colors.border
            }
        }

        // In a narrow panel the three tabs share the width.
        TabStrip {
            objectName: "tabRow"
            Layout.fillWidth: true
            tabs: root.tabs
            current: root.tab
            fit: true
            onPicked: index => root.tab = index
        }

        // No commit step: the lists follow every keystroke.
        FlatTextField {
            id: searchField

            objectName: "browserSearch"
            Layout.fillWidth: true
            implicitHeight: 28
            placeholderText: root.tabs[Math.max(0, Math.min(2, root.tab))].placeholder
            help: qsTr("Type part of a name or a kind (synth, bass, pad, drums, delay, reverb...) to filter the list.")
        }

        StackLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.minimumHeight: 60
            currentIndex: root.tab

            InstrumentsTab {
                objectName: "instrumentsTab"
                words: root.searchWords
                onLoadInstrument: patchName => root.loadInstrument(patchName)
            }

            EffectsTab {
                objectName: "effectsTab"
                words: root.searchWords
                onLoadEffect: (deviceId, presetName) => root.loadEffect(deviceId, presetName)
            }

            SamplesTab {
                objectName: "samplesTab"
                words: root.searchWords
                onLoadSample: fileName => root.loadSample(fileName)
            }
        }
    }
}
