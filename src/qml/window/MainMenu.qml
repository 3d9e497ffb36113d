import QtQuick
import QtQuick.Controls.Basic

// The menu bar of the main window: the one-off commands. Every item calls what a button or
// a shortcut elsewhere calls; the shortcut texts are labels only.
MenuBar {
    id: root

    required property var host

    // A menu item whose tick shows the model: `isOn` reads it, `flip` changes it. Choosing
    // the item flips its own tick too, so once the command has run the tick is bound to the
    // model again.
    component TickItem: FlatMenuItem {
        id: tickItem

        property var isOn: () => false
        property var flip: () => {}

        checkable: true
        checked: isOn()
        onTriggered: {
            flip();
            tickItem.checked = Qt.binding(isOn);
        }
    }

    implicitHeight: 30

    delegate: MenuBarItem {
        id: barItem

        objectName: "menuBarItem"
        implicitHeight: 30
        leftPadding: 12
        rightPadding: 12

        contentItem: Text {
            text: barItem.text
            color: theme.colors.text
            font.family: theme.fontFamily
            font.pixelSize: theme.baseFontSize
            verticalAlignment: Text.AlignVCenter
        }

        // Also while its menu is open some other way (the window's openMenu), so the
        // title shows whose menu it is.
        background: Rectangle {
            objectName: "menuBarItemBackground"
            color: barItem.highlighted || (barItem.menu !== null && barItem.menu.visible)
                   ? theme.colors.surfaceRaised : "transparent"
        }
    }

    background: Rectangle {
        implicitHeight: 30
        color: theme.colors.surface

        Rectangle {
            anchors.bottom: parent.bottom
            width: parent.width
            height: 1
            color: theme.colors.border
        }
    }

    FlatMenu {
        objectName: "fileMenu"
        title: qsTr("File")

        FlatMenuItem {
            objectName: "newProjectItem"
            text: qsTr("New project")
            keys: "Ctrl+N"
            help: qsTr("Start an empty project. With unsaved changes, choose it twice to discard them.")
            onTriggered: project.newProject()
        }

        FlatMenu {
            id: openMenu

            objectName: "openProjectMenu"
            title: qsTr("Open project")
            onAboutToShow: project.refreshProjects()

            Instantiator {
                model: project.projectFiles

                delegate: FlatMenuItem {
                    required property string modelData

                    objectName: "projectItem"
                    text: modelData.replace(".ostproj", "")
                    help: qsTr("Open %1").arg(modelData)
                    onTriggered: project.openProject(modelData)
                }

                onObjectAdded: (index, object) => openMenu.insertItem(index, object)
                onObjectRemoved: (index, object) => openMenu.removeItem(object)
            }

            FlatMenuItem {
                objectName: "noProjectsItem"
                text: qsTr("No saved projects yet")
                enabled: false
                visible: project.projectFiles.length === 0
                height: visible ? implicitHeight : 0
            }
        }

        FlatMenuItem {
            objectName: "saveProjectItem"
            text: qsTr("Save project")
            keys: "Ctrl+S"
            help: qsTr("Save the project as a .ostproj file in your projects folder.")
            onTriggered: project.save()
        }

        FlatMenuSeparator {}

        FlatMenuItem {
            objectName: "renderItem"
            text: qsTr("Render to WAV")
            help: qsTr("Play the whole project into a WAV file in the exports folder.")
            onTriggered: project.renderToWav()
        }

        FlatMenuItem {
            objectName: "samplesFolderItem"
            text: qsTr("Show samples folder")
            help: qsTr("Open the folder for your sound files: copy .wav files into it and they appear in the browser's SAMPLES list.")
            onTriggered: project.openSamplesFolder()
        }

        FlatMenuItem {
            objectName: "projectsFolderItem"
            text: qsTr("Show projects folder")
            help: qsTr("Open the folder that holds your saved projects.")
            onTriggered: project.openProjectsFolder()
        }

        FlatMenuSeparator {}

        FlatMenuItem {
            objectName: "quitItem"
            text: qsTr("Quit")
            keys: "Ctrl+Q"
            help: qsTr("Close Ostrel.")
            onTriggered: Qt.quit()
        }
    }

    FlatMenu {
        objectName: "editMenu"
        title: qsTr("Edit")

        FlatMenuItem {
            objectName: "undoItem"
            text: project.canUndo ? qsTr("Undo %1").arg(project.undoText) : qsTr("Undo")
            keys: "Ctrl+Z"
            enabled: project.canUndo
            help: qsTr("Take back the last change.")
            onTriggered: project.undo()
        }

        FlatMenuItem {
            objectName: "redoItem"
            text: project.canRedo ? qsTr("Redo %1").arg(project.redoText) : qsTr("Redo")
            keys: "Ctrl+Y"
            enabled: project.canRedo
            help: qsTr("Do the change you took back again.")
            onTriggered: project.redo()
        }

        FlatMenuSeparator {}

        FlatMenuItem {
            objectName: "splitItem"
            text: qsTr("Split clip at playhead")
            keys: "Ctrl+E"
            enabled: root.host.timelineView.selectedClip !== ""
            help: qsTr("Cut the selected clip in two at the playhead.")
            onTriggered: root.host.timelineView.splitAtPlayhead()
        }

        FlatMenuItem {
            objectName: "duplicateItem"
            text: qsTr("Duplicate clip")
            keys: "Ctrl+D"
            enabled: root.host.timelineView.selectedClip !== ""
            help: qsTr("Copy the selected clip and put the copy right after it.")
            onTriggered: root.host.timelineView.duplicateSelectedClip()
        }

        FlatMenuItem {
            objectName: "deleteItem"
            text: qsTr("Delete clip")
            keys: "Del"
            enabled: root.host.timelineView.selectedClip !== ""
            help: qsTr("Remove the selected clip.")
            onTriggered: root.host.timelineView.deleteSelectedClip()
        }

        FlatMenuSeparator {}

        FlatMenuItem {
            objectName: "addMidiTrackItem"
            text: qsTr("Add MIDI track")
            keys: "Ctrl+T"
            help: qsTr("Add an empty track for notes and an instrument.")
            onTriggered: root.host.timelineView.selectedTrack = project.addTrack()
        }

        FlatMenuItem {
            objectName: "addAudioTrackItem"
            text: qsTr("Add audio track")
            keys: "Ctrl+Shift+T"
            help: qsTr("Add an empty track for sound files (WAV) and effects.")
            onTriggered: root.host.timelineView.selectedTrack = project.addAudioTrack()
        }
    }

    FlatMenu {
        objectName: "viewMenu"
        title: qsTr("View")

        TickItem {
            objectName: "browserItem"
            text: qsTr("Browser")
            keys: "Ctrl+Alt+B"
            help: qsTr("Show or hide the browser on the left.")
            isOn: () => root.host.showBrowser
            flip: () => root.host.showBrowser = !root.host.showBrowser
        }

        TickItem {
            objectName: "detailItem"
            text: qsTr("Detail panel")
            keys: "Ctrl+Alt+D"
            help: qsTr("Show or hide the panel along the bottom (play, piano roll, log).")
            isOn: () => root.host.showDetail
            flip: () => root.host.showDetail = !root.host.showDetail
        }

        TickItem {
            objectName: "helpStripItem"
            text: qsTr("Help strip")
            help: qsTr("Show or hide the line at the bottom that explains whatever you point at.")
            isOn: () => settings.showHelpStrip
            flip: () => settings.setValue("appearance.show_help_strip", !settings.showHelpStrip)
        }

        FlatMenuSeparator {}

        FlatMenuItem {
            objectName: "instrumentTabItem"
            text: qsTr("Instrument tab")
            help: qsTr("Play the instrument on keys or pads, shape its sound, grid or effects.")
            onTriggered: root.host.showDetailTab(0)
        }

        FlatMenuItem {
            objectName: "stepGridItem"
            text: qsTr("Step grid")
            help: qsTr("Program a pattern by clicking squares on the instrument's grid.")
            onTriggered: root.host.showInstrumentView("grid")
        }

        FlatMenuItem {
            objectName: "effectsItem"
            text: qsTr("Effects (FX)")
            help: qsTr("See and edit the effects on the selected track.")
            onTriggered: root.host.showInstrumentView("fx")
        }

        FlatMenuItem {
            objectName: "pianoTabItem"
            text: qsTr("Piano roll tab")
            help: qsTr("Edit the notes of the selected clip.")
            onTriggered: root.host.showDetailTab(2)
        }

        FlatMenuItem {
            objectName: "logTabItem"
            text: qsTr("Log tab")
            help: qsTr("The flight recorder: what the app has been doing.")
            onTriggered: root.host.showDetailTab(1)
        }

        FlatMenuSeparator {}

        FlatMenuItem {
            objectName: "zoomInItem"
            text: qsTr("Zoom timeline in")
            keys: "Ctrl+="
            help: qsTr("See fewer bars in more detail. Ctrl + mouse wheel does the same.")
            onTriggered: root.host.timelineView.zoomBy(1.3, root.host.timelineView.lanesWidth / 2)
        }

        FlatMenuItem {
            objectName: "zoomOutItem"
            text: qsTr("Zoom timeline out")
            keys: "Ctrl+-"
            help: qsTr("See more bars.")
            onTriggered: root.host.timelineView.zoomBy(1 / 1.3, root.host.timelineView.lanesWidth / 2)
        }
    }

    FlatMenu {
        objectName: "optionsMenu"
        title: qsTr("Options")

        FlatMenuItem {
            objectName: "settingsItem"
            text: qsTr("Settings…")
            keys: "Ctrl+,"
            help: qsTr("Change the app's options.")
            onTriggered: root.host.openSettings("")
        }

        FlatMenuItem {
            objectName: "audioDeviceItem"
            text: qsTr("Audio device…")
            help: qsTr("Choose the sound card, sample rate and buffer size.")
            onTriggered: root.host.openSettings("audio")
        }

        FlatMenuItem {
            objectName: "midiKeyboardItem"
            text: qsTr("MIDI keyboard…")
            help: qsTr("Choose a MIDI keyboard or controller.")
            onTriggered: root.host.openSettings("midi")
        }

        FlatMenuSeparator {}

        FlatMenu {
            id: themeMenu

            objectName: "themeMenu"
            title: qsTr("Theme")

            Instantiator {
                model: theme.themeIds

                delegate: TickItem {
                    id: themeItem

                    required property string modelData

                    objectName: "themeItem"
                    text: theme.nameForId(modelData)
                    help: qsTr("Switch the look of the whole app to “%1”. Colours come from a theme file, so you can add your own.").arg(text)
                    isOn: () => theme.currentId === themeItem.modelData
                    flip: () => root.host.pickTheme(themeItem.modelData)
                }

                onObjectAdded: (index, object) => themeMenu.insertItem(index, object)
                onObjectRemoved: (index, object) => themeMenu.removeItem(object)
            }
        }

        FlatMenuSeparator {}

        TickItem {
            objectName: "metronomeItem"
            text: qsTr("Metronome")
            help: qsTr("A click on every beat while the clock runs.")
            isOn: () => transport.metronome
            flip: () => transport.setMetronome(!transport.metronome)
        }

        TickItem {
            objectName: "loopItem"
            text: qsTr("Loop")
            keys: "Ctrl+L"
            help: qsTr("Repeat the looped stretch of the song while playing.")
            isOn: () => transport.loopEnabled
            flip: () => transport.setLoopEnabled(!transport.loopEnabled)
        }
    }

    FlatMenu {
        objectName: "helpMenu"
        title: qsTr("Help")

        FlatMenuItem {
            objectName: "aboutItem"
            text: qsTr("About Ostrel")
            help: qsTr("The version, licence and credits.")
            onTriggered: root.host.openSettings("about")
        }

        FlatMenuItem {
            objectName: "logFolderItem"
            text: qsTr("Open log folder")
            help: qsTr("Open the folder that holds ostrel.log, the file you would attach to a bug report.")
            onTriggered: app.openLogFolder()
        }

        FlatMenuItem {
            objectName: "testErrorItem"
            text: qsTr("Write test error")
            help: qsTr("Creates a harmless error on purpose so you can see how the flight recorder reports it.")
            onTriggered: app.writeTestError()
        }
    }
}
