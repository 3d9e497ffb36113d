import QtQuick
import QtQuick.Layouts

// "My themes" on the Appearance page: export the current theme, import theme files from
// the export folder, remove the user's own themes. A view over `theme`; every message
// comes from it.
ColumnLayout {
    id: root

    spacing: theme.spacing * 1.5

    // Files copied into the export folder meanwhile show up when the page comes into view.
    onVisibleChanged: if (visible) theme.refreshImportFiles()
    Component.onCompleted: if (visible) theme.refreshImportFiles()

    Text {
        text: qsTr("My themes")
        color: theme.colors.text
        font.family: theme.fontFamily
        font.pixelSize: theme.baseFontSize
        font.weight: Font.Medium
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: theme.spacing

        FlatButton {
            objectName: "exportTheme"
            text: qsTr("Export this theme")
            help: qsTr("Saves the theme you are using as a small text file in the export folder, to share it or keep a copy.")
            onClicked: theme.exportTheme(theme.currentId)
        }

        FlatButton {
            objectName: "openThemeFolder"
            text: qsTr("Open folder")
            help: qsTr("Opens the export folder. Put theme files there to import them.")
            onClicked: theme.openExportFolder()
        }

        FlatButton {
            objectName: "refreshThemes"
            text: qsTr("Refresh")
            help: qsTr("Look for theme files in the export folder again.")
            onClicked: theme.refreshImportFiles()
        }

        Item { Layout.fillWidth: true }
    }

    FolderPath {
        objectName: "exportFolder"
        text: theme.exportDirectory
        Accessible.name: qsTr("Export folder") + " " + theme.exportDirectory
    }

    Repeater {
        model: theme.importFiles

        FileRow {
            id: importRow

            objectName: "importRow"

            FlatButton {
                objectName: "importButton"
                text: qsTr("Import")
                implicitHeight: 28
                help: qsTr("Checks %1 and adds it to your themes. A theme with the same id as an existing one is refused.").arg(importRow.modelData)
                onClicked: theme.importTheme(importRow.modelData)
            }
        }
    }

    Text {
        objectName: "noImportFiles"
        Layout.fillWidth: true
        visible: theme.importFiles.length === 0
        text: qsTr("No theme files in the export folder yet. Export one, or copy a theme file into the folder.")
        color: theme.colors.textMuted
        font.family: theme.fontFamily
        font.pixelSize: 12
        wrapMode: Text.WordWrap
    }

    Repeater {
        model: theme.themeIds.filter(id => theme.isUserTheme(id))

        FileRow {
            id: ownRow

            objectName: "ownThemeRow"
            text: qsTr("Your theme: %1").arg(theme.nameForId(ownRow.modelData))
            textColor: theme.colors.textMuted

            FlatButton {
                objectName: "removeTheme"
                text: qsTr("Remove")
                implicitHeight: 28
                help: qsTr("Deletes this theme from your themes folder. The exported file, if any, stays where it is.")
                onClicked: {
                    // The window falls back to the built-in theme before this one goes.
                    if (settings.value("appearance.custom_theme") === ownRow.modelData)
                        settings.setValue("appearance.custom_theme", "");
                    theme.removeTheme(ownRow.modelData);
                }
            }
        }
    }

    StatusLine {
        objectName: "themeMessage"
        visible: theme.fileMessage !== ""
        text: theme.fileMessage
        problem: theme.fileProblem
    }

    SectionRule {}
}
