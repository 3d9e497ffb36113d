import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The Settings sheet: a dimmed backdrop with a card of pages. The rows are not written
// here: they come from the settings bridge, so every visible setting of the registry
// shows up by itself. Four pages carry a hand-made section above their rows.
Item {
    id: root

    property string page: "appearance"
    property bool showAdvanced: false
    readonly property bool searching: searchField.text.trim() !== ""
    // Computed again after every settings change, so the rows show fresh values.
    readonly property var rows: {
        settings.revision;
        if (searching)
            return settings.search(searchField.text, showAdvanced);
        if (page === "about")
            return [];
        return settings.entries(page, showAdvanced);
    }
    // These pages have no rows of their own; their section is the page.
    readonly property bool sectionFillsPage: page === "audio" || page === "midi" || page === "instrument"
    readonly property bool pageHasAdvanced: {
        settings.revision;
        return searching || page === "about" || settings.hasAdvanced(page);
    }

    function openPage(name) {
        if (name !== undefined && name !== "")
            root.page = name;
        root.visible = true;
        rowList.showTop();
        card.forceActiveFocus();
    }

    function close() {
        root.visible = false;
        searchField.clear();
    }

    function refreshDevicesFor(name) {
        if (name === "audio")
            audio.refreshDevices();
        else if (name === "midi")
            midi.refreshDevices();
    }

    function categoryLabel(id) {
        const list = settings.categories;
        for (let i = 0; i < list.length; ++i) {
            if (list[i].id === id)
                return list[i].label;
        }
        return "";
    }

    // Whether a page's own section shows: on its page, and not while searching.
    function showsSection(name) {
        return !searching && page === name;
    }

    // Every page opens at its top.
    function showPage(name) {
        searchField.clear();
        root.page = name;
        rowList.showTop();
    }

    visible: false

    // The device lists are fresh each time the Audio or MIDI page comes into view.
    onPageChanged: if (visible) refreshDevicesFor(page)
    onVisibleChanged: if (visible) refreshDevicesFor(page)

    Rectangle {
        anchors.fill: parent
        color: theme.colors.background
        opacity: 0.82
    }

    MouseArea {
        objectName: "backdrop"
        anchors.fill: parent
        hoverEnabled: true
        onClicked: root.close()
        onWheel: wheel => wheel.accepted = true
    }

    Card {
        id: card

        objectName: "settingsCard"
        anchors.centerIn: parent
        width: Math.min(1000, root.width - 48)
        height: Math.min(660, root.height - 48)
        clip: true

        Accessible.role: Accessible.Dialog
        Accessible.name: qsTr("Settings")

        Keys.onEscapePressed: root.close()

        // A click on the card never reaches the backdrop.
        MouseArea {
            anchors.fill: parent
            onClicked: card.forceActiveFocus()
        }

        RowLayout {
            anchors.fill: parent
            spacing: 0

            // The pages' rail scrolls in a window too short for all its buttons.
            Flickable {
                id: railView

                readonly property real margin: theme.spacing * 2.5

                objectName: "railView"
                Layout.preferredWidth: 200 + 2 * margin
                Layout.fillHeight: true
                contentWidth: width
                contentHeight: rail.height + 2 * margin
                flickableDirection: Flickable.VerticalFlick
                boundsBehavior: Flickable.StopAtBounds
                clip: true

                ScrollBar.vertical: ThinScrollBar { padding: 2 }

                ColumnLayout {
                    id: rail

                    objectName: "rail"
                    x: railView.margin
                    y: railView.margin
                    width: 200
                    height: Math.max(implicitHeight, railView.height - 2 * railView.margin)
                    spacing: theme.spacing

                    Text {
                        Layout.fillWidth: true
                        text: qsTr("Settings")
                        color: theme.colors.text
                        font.family: theme.fontFamily
                        font.pixelSize: 20
                        font.weight: Font.DemiBold
                    }

                    FlatTextField {
                        id: searchField

                        objectName: "searchField"
                        Layout.fillWidth: true
                        Layout.topMargin: theme.spacing
                        implicitHeight: 36
                        leftPadding: 12
                        rightPadding: 12
                        clip: true
                        placeholderText: activeFocus ? "" : qsTr("Search settings")
                        help: qsTr("Type a word to find a setting on any page.")
                        Accessible.name: qsTr("Search settings")

                        onActiveFocusChanged: if (activeFocus) app.helpText = help
                        // Esc leaves the whole sheet, not only the box.
                        Keys.onEscapePressed: root.close()
                    }

                    Repeater {
                        model: settings.categories

                        FlatButton {
                            required property var modelData

                            objectName: "pageButton_" + modelData.id
                            Layout.fillWidth: true
                            text: modelData.label
                            textAlign: Text.AlignLeft
                            selected: !root.searching && root.page === modelData.id
                            help: qsTr("Show the %1 settings.").arg(modelData.label)
                            onClicked: root.showPage(modelData.id)
                        }
                    }

                    FlatButton {
                        objectName: "pageButton_about"
                        Layout.fillWidth: true
                        text: qsTr("About")
                        textAlign: Text.AlignLeft
                        selected: !root.searching && root.page === "about"
                        help: qsTr("Version, licence and credits.")
                        onClicked: root.showPage("about")
                    }

                    Item { Layout.fillHeight: true }
                }
            }

            Rectangle {
                Layout.preferredWidth: 1
                Layout.fillHeight: true
                color: theme.colors.border
            }

            ColumnLayout {
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.margins: theme.spacing * 3
                spacing: theme.spacing * 1.5

                RowLayout {
                    Layout.fillWidth: true
                    spacing: theme.spacing * 1.5

                    Text {
                        objectName: "pageTitle"
                        Layout.fillWidth: true
                        text: root.searching ? qsTr("Search results")
                                             : root.page === "about" ? qsTr("About Ostrel") : root.categoryLabel(root.page)
                        color: theme.colors.text
                        font.family: theme.fontFamily
                        font.pixelSize: 22
                        font.weight: Font.DemiBold
                        elide: Text.ElideRight
                    }

                    Text {
                        objectName: "restartNotice"
                        visible: settings.restartNeeded
                        text: qsTr("Restart Ostrel to apply all changes")
                        color: theme.colors.warning
                        font.family: theme.fontFamily
                        font.pixelSize: 12
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                    }

                    FlatButton {
                        objectName: "closeButton"
                        text: qsTr("Close")
                        implicitHeight: 32
                        help: qsTr("Close the settings (Esc).")
                        onClicked: root.close()
                    }
                }

                ListView {
                    id: rowList

                    objectName: "rowList"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    visible: root.searching || root.page !== "about"
                    clip: true
                    spacing: 0
                    boundsBehavior: Flickable.StopAtBounds
                    model: root.rows
                    // A page's section grows upward, its rows keeping their place, when it
                    // changes height after the page opens (its device list filled in): until
                    // the person scrolls, the page is brought back to its top.
                    property bool keepsTop: true

                    function showTop() {
                        keepsTop = true;
                        positionViewAtBeginning();
                    }

                    onMovementStarted: keepsTop = false

                    Connections {
                        target: rowList.headerItem

                        function onHeightChanged() {
                            if (rowList.keepsTop)
                                rowList.positionViewAtBeginning();
                        }
                    }

                    ScrollBar.vertical: ThinScrollBar { padding: 2 }

                    // The page's section scrolls with its rows, so a long list of files
                    // never squeezes the settings out of a small window.
                    header: ColumnLayout {
                        width: rowList.width - 12
                        spacing: theme.spacing * 1.5

                        AudioSection {
                            Layout.fillWidth: true
                            visible: root.showsSection("audio")
                        }

                        ThemeFilesSection {
                            Layout.fillWidth: true
                            visible: root.showsSection("appearance")
                        }

                        PatchFilesSection {
                            Layout.fillWidth: true
                            visible: root.showsSection("instrument")
                        }

                        MidiSection {
                            Layout.fillWidth: true
                            visible: root.showsSection("midi")
                        }

                        // The gap between a section and the first row.
                        Item {
                            Layout.preferredHeight: theme.spacing * 0.5
                            visible: !root.searching
                                     && ["audio", "appearance", "instrument", "midi"].includes(root.page)
                        }
                    }

                    delegate: SettingRow {
                        required property var modelData

                        entry: modelData
                        width: ListView.view.width - 12
                    }

                    Text {
                        objectName: "emptyNote"
                        anchors.centerIn: parent
                        visible: rowList.count === 0
                                 && (root.searching || !root.sectionFillsPage)
                        text: root.searching ? qsTr("No settings match that word.") : qsTr("Nothing here yet.")
                        color: theme.colors.textMuted
                        font.family: theme.fontFamily
                        font.pixelSize: theme.baseFontSize
                    }
                }

                ColumnLayout {
                    objectName: "aboutPage"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    visible: !root.searching && root.page === "about"
                    spacing: theme.spacing * 1.5

                    Text {
                        objectName: "versionText"
                        Layout.fillWidth: true
                        text: qsTr("Version %1").arg(app.versionString)
                        color: theme.colors.text
                        font.family: theme.fontFamily
                        font.pixelSize: 16
                        font.weight: Font.Medium
                    }

                    Text {
                        Layout.fillWidth: true
                        text: qsTr("Ostrel is a small studio for making music: play the instrument, record what you play, arrange it on the timeline and export the song as a WAV file.")
                        color: theme.colors.textMuted
                        font.family: theme.fontFamily
                        font.pixelSize: theme.baseFontSize
                        wrapMode: Text.WordWrap
                        lineHeight: 1.3
                    }

                    Text {
                        Layout.fillWidth: true
                        text: qsTr("Point at anything and the help strip at the bottom of the window says what it does. Your settings are saved the moment you change them.")
                        color: theme.colors.text
                        font.family: theme.fontFamily
                        font.pixelSize: theme.baseFontSize
                        wrapMode: Text.WordWrap
                        lineHeight: 1.3
                    }

                    Text {
                        Layout.fillWidth: true
                        text: qsTr("Ostrel is built with Qt, PortAudio and RtMidi; thanks to their authors. Your settings are kept in the plain text file named below.")
                        color: theme.colors.textMuted
                        font.family: theme.fontFamily
                        font.pixelSize: 13
                        wrapMode: Text.WordWrap
                        lineHeight: 1.3
                    }

                    FolderPath {
                        objectName: "settingsFileText"
                        text: qsTr("Settings file: %1").arg(settings.filePath)
                    }

                    Item { Layout.fillHeight: true }
                }

                RowLayout {
                    objectName: "footer"
                    Layout.fillWidth: true
                    visible: root.pageHasAdvanced && root.page !== "about"
                    spacing: theme.spacing * 1.5

                    Toggle {
                        objectName: "advancedToggle"
                        checked: root.showAdvanced
                        name: qsTr("Show advanced settings")
                        help: qsTr("Also show rarely needed settings.")
                        onToggled: value => root.showAdvanced = value
                    }

                    Text {
                        text: qsTr("Show advanced settings")
                        color: theme.colors.textMuted
                        font.family: theme.fontFamily
                        font.pixelSize: 13
                    }

                    Item { Layout.fillWidth: true }
                }
            }
        }
    }
}
