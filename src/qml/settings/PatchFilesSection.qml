import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// "Your patches" on the Instrument page: save the patch being played under a new name,
// play or remove the user's own patches. A view over `instrument`; every message comes
// from it.
ColumnLayout {
    id: root

    spacing: theme.spacing * 1.5

    // A file edited meanwhile is read again when the page comes into view.
    onVisibleChanged: if (visible) instrument.refreshPatches()
    Component.onCompleted: if (visible) instrument.refreshPatches()

    Text {
        Layout.fillWidth: true
        text: qsTr("Your patches")
        color: theme.colors.text
        font.family: theme.fontFamily
        font.pixelSize: theme.baseFontSize
        font.weight: Font.Medium
    }

    Text {
        Layout.fillWidth: true
        text: qsTr("A patch is a saved modular instrument: which modules, how their knobs are set and how they are cabled. Save the one you are playing under a new name, open the file in a text editor to change it, press Refresh, and it appears next to the built-in patches on the PLAY card.")
        color: theme.colors.textMuted
        font.family: theme.fontFamily
        font.pixelSize: 12
        lineHeight: 1.25
        wrapMode: Text.WordWrap
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: theme.spacing

        // Not the committing text field: the name is used only when the person saves.
        TextField {
            id: nameField

            objectName: "patchNameField"
            Layout.fillWidth: true
            implicitHeight: 34
            placeholderText: qsTr("Name for the patch you are playing")
            maximumLength: 40
            color: theme.colors.text
            placeholderTextColor: theme.colors.textMuted
            selectionColor: theme.colors.accent
            selectedTextColor: theme.colors.onAccent
            font.family: theme.fontFamily
            font.pixelSize: theme.baseFontSize
            selectByMouse: true
            hoverEnabled: true
            leftPadding: 10
            rightPadding: 10
            verticalAlignment: TextInput.AlignVCenter
            Accessible.name: qsTr("Patch name")

            onHoveredChanged: app.helpText = hovered
                              ? qsTr("Type a name for a copy of the patch you are playing (letters, digits, spaces, - and _).")
                              : ""
            // Also for a name of blanks: the controller says why it refuses it.
            onAccepted: saveButton.clicked()

            background: Rectangle {
                radius: theme.radius
                color: theme.colors.surfaceRaised
                border.width: 1
                border.color: nameField.activeFocus ? theme.colors.accent : theme.colors.border
            }
        }

        FlatButton {
            id: saveButton

            objectName: "savePatch"
            primary: true
            text: qsTr("Save as")
            enabled: nameField.text.trim() !== ""
            help: qsTr("Saves the patch you are playing under this name in your patches folder and selects it.")
            onClicked: {
                if (instrument.saveCurrentPatchAs(nameField.text))
                    nameField.clear();
            }
        }
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: theme.spacing

        FlatButton {
            objectName: "openPatchFolder"
            text: qsTr("Open folder")
            help: qsTr("Opens the folder that holds your patch files.")
            onClicked: instrument.openPatchesFolder()
        }

        FlatButton {
            objectName: "refreshPatches"
            text: qsTr("Refresh")
            help: qsTr("Reads the patches folder again, for example after you edited a file.")
            onClicked: instrument.refreshPatches()
        }

        Item { Layout.fillWidth: true }
    }

    FolderPath {
        objectName: "patchesFolder"
        text: instrument.patchesDirectory
        Accessible.name: qsTr("Patches folder") + " " + instrument.patchesDirectory
    }

    Repeater {
        model: instrument.userPatchNames

        FileRow {
            id: patchRow

            objectName: "patchRow"
            textName: "patchRowText"
            text: patchRow.modelData + (instrument.patchName === patchRow.modelData ? "   ·   " + qsTr("playing") : "")

            FlatButton {
                objectName: "playPatch"
                text: qsTr("Play")
                implicitHeight: 28
                help: qsTr("Switch the PLAY card to this patch.")
                onClicked: instrument.selectPatch(patchRow.modelData)
            }

            FlatButton {
                objectName: "removePatch"
                text: qsTr("Remove")
                implicitHeight: 28
                help: qsTr("Deletes this patch file from your patches folder.")
                onClicked: instrument.removeUserPatch(patchRow.modelData)
            }
        }
    }

    Text {
        objectName: "noPatches"
        Layout.fillWidth: true
        visible: instrument.userPatchNames.length === 0
        text: qsTr("You have no patches of your own yet.")
        color: theme.colors.textMuted
        font.family: theme.fontFamily
        font.pixelSize: 12
        wrapMode: Text.WordWrap
    }

    StatusLine {
        objectName: "patchMessage"
        visible: instrument.patchFilesMessage !== ""
        text: instrument.patchFilesMessage
        problem: instrument.patchFilesProblem
    }

    SectionRule {}
}
