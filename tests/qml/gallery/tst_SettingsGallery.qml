import QtQuick
import QtTest
import Ostrel.App

// Every page of the Settings sheet in every built-in theme, over a window's content,
// saved as pictures to look at (testHost.galleryFolder, or $OSTREL_GALLERY_DIR). Fails
// when any text of the sheet is cut off.
Item {
    id: stage

    width: 1280
    height: 800

    Component {
        id: windowComponent

        Rectangle {
            property alias panel: panel

            width: stage.width
            height: stage.height
            color: theme.colors.background

            // Something under the backdrop, as the window would have.
            TransportBar {
                x: 0
                y: 0
                width: parent.width
                height: 48
            }

            SettingsPanel {
                id: panel

                anchors.fill: parent
            }
        }
    }

    TestCase {
        id: testCase

        name: "SettingsGallery"
        when: windowShown

        function initTestCase() {
            testHost.setMidiInputs(["Studio Keys 49", "USB MIDI Interface"]);
            midi.refreshDevices();
            midi.selectDevice("Studio Keys 49");
            testHost.playMidi([0x90, 60, 100]);
            testHost.playMidi([0x80, 60, 0]);
            instrument.saveCurrentPatchAs("Warm Lead");
            testHost.emptyFolder(testHost.exportFolder);
            theme.exportTheme("dark");
        }

        function cleanupTestCase() {
            midi.selectDevice("");
            testHost.setMidiInputs([]);
            midi.refreshDevices();
            instrument.selectPatch("Modular Lead");
            instrument.removeUserPatch("Warm Lead");
            testHost.emptyFolder(testHost.exportFolder);
            theme.refreshImportFiles();
            theme.currentId = "graphite";
            testHost.resetControllers();
        }

        function init() {
            settings.setValue("appearance.reduce_motion", true);
            testHost.resetControllers();
        }

        // Text items that are cut off, with their text.
        function truncatedTexts(item) {
            let found = [];
            if (item.visible === false)
                return found;
            if (item.truncated === true)
                found.push(item.text);
            for (let i = 0; i < item.children.length; ++i)
                found = found.concat(truncatedTexts(item.children[i]));
            return found;
        }

        // Many theme files and a small window: the page must still show its settings.
        function test_a_crowded_appearance_page_in_a_small_window() {
            for (const id of ["steel", "light", "high-contrast", "graphite"])
                theme.exportTheme(id);
            const window = createTemporaryObject(windowComponent, stage);
            verify(window);
            window.width = 1024;
            window.height = 640;
            window.panel.openPage("appearance");
            waitForRendering(window);
            compare(truncatedTexts(window.panel), []);
            // The settings stay in reach: the section scrolls away with the list.
            const list = findChild(window.panel, "rowList");
            list.positionViewAtEnd();
            waitForRendering(window);
            verify(list.itemAtIndex(3) !== null);
            grabImage(window).save(testHost.galleryFolder + "/settings-crowded-appearance.png");
            list.positionViewAtBeginning();
            waitForRendering(window);
            grabImage(window).save(testHost.galleryFolder + "/settings-crowded-appearance-top.png");
            testHost.emptyFolder(testHost.exportFolder);
            theme.exportTheme("dark");
        }

        function test_every_page_in_every_theme_data() {
            const rows = [];
            for (const id of theme.themeIds) {
                for (const page of ["appearance", "audio", "midi", "instrument", "api", "logging", "about", "search"])
                    rows.push({tag: id + "-" + page, themeId: id, page: page});
            }
            return rows;
        }

        function test_every_page_in_every_theme(data) {
            theme.currentId = data.themeId;
            const window = createTemporaryObject(windowComponent, stage);
            verify(window);
            const panel = window.panel;
            panel.showAdvanced = data.page === "logging";
            panel.openPage(data.page === "search" ? "appearance" : data.page);
            if (data.page === "search") {
                const field = findChild(panel, "searchField");
                mouseClick(field);
                for (const character of "size")
                    keyClick(character);
            }
            waitForRendering(window);
            compare(truncatedTexts(window), []);
            const picture = grabImage(window);
            compare(picture.width, stage.width);
            picture.save(testHost.galleryFolder + "/settings-" + data.themeId + "-" + data.page + ".png");
        }
    }
}
