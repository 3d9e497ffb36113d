import QtQuick
import QtTest
import Ostrel.App

// The browser's three tabs and the detail panel's log, once per built-in theme, saved as
// pictures to look at (testHost.galleryFolder, or $OSTREL_GALLERY_DIR). The test also
// fails when a text that should fit is cut off.
Item {
    id: stage

    width: 1240
    height: 760

    Component {
        id: sheetComponent

        Rectangle {
            property alias browser: browser
            property alias detail: detail

            width: stage.width
            height: stage.height
            color: theme.colors.background

            BrowserPanel {
                id: browser

                width: 260
                height: parent.height
            }

            DetailPanel {
                id: detail

                x: 263
                y: parent.height - 320
                width: parent.width - 263
                height: 320
            }
        }
    }

    Component { id: windowComponent; Main {} }

    TestCase {
        name: "BrowserGallery"
        when: windowShown

        property string samplesFolder: ""

        function initTestCase() {
            samplesFolder = project.samplesDirectory;
            verify(samplesFolder !== "");
        }

        function init() {
            settings.setValue("appearance.reduce_motion", true);
            testHost.resetControllers();
        }

        function cleanup() {
            wait(0);
            testHost.emptyFolder(samplesFolder);
            testHost.removeFile(app.logFilePath);
            app.refreshLog();
            testHost.resetControllers();
            theme.currentId = "graphite";
        }

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

        // The long sample name is there to show how a name that does not fit ends.
        function save(sheet, name) {
            waitForRendering(sheet);
            compare(truncatedTexts(sheet).filter(t => !t.startsWith("Vocal chop")), []);
            grabImage(sheet).save(testHost.galleryFolder + "/" + theme.currentId + "-" + name + ".png");
        }

        function test_browser_and_log_in_every_theme_data() {
            return theme.themeIds.map(id => ({tag: id, themeId: id}));
        }

        function test_browser_and_log_in_every_theme(data) {
            theme.currentId = data.themeId;
            for (const name of ["Kick 808.wav", "Snare Tight.WAV", "Vocal chop with a rather long name.wav"])
                verify(testHost.writeFile(samplesFolder + "/" + name, "RIFF"));
            verify(testHost.writeFile(app.logFilePath, [
                "2026-12-07 10:00:00.000 INFO  app: started in 412 ms",
                "2026-12-07 10:00:01.000 WARN  audio: the sound card is late by 3 ms",
                "2026-12-07 10:00:02.000 ERROR test: This is a test error, created on purpose to show the flight recorder.",
                "    action: Main window > Write test error button",
                "2026-12-07 10:00:03.000 INFO  ui: clicked 'Write test error'"].join("\n")));
            app.refreshLog();
            project.renameProject("Night Drive");
            project.setTempo(96);
            instrument.selectPatch("Modular Bass");

            const sheet = createTemporaryObject(sheetComponent, stage);
            verify(sheet);
            sheet.detail.tab = 1;
            save(sheet, "browser-instruments");

            sheet.browser.tab = 1;
            const effects = findChild(sheet.browser, "effectList");
            effects.forceLayout();
            waitForRendering(sheet);
            mouseClick(effects.itemAtIndex(1));
            save(sheet, "browser-effects");

            sheet.browser.tab = 2;
            const samples = findChild(sheet.browser, "sampleList");
            samples.forceLayout();
            // The label half-way through a drag.
            const row = samples.itemAtIndex(0);
            verify(row);
            mousePress(row, 40, 14);
            mouseMove(row, 60, 40, -1, Qt.LeftButton);
            mouseMove(row, 400, 200, -1, Qt.LeftButton);
            save(sheet, "browser-samples");
            mouseRelease(row, 400, 200);

            testHost.emptyFolder(samplesFolder);
            project.refreshSamples();
            save(sheet, "browser-samples-empty");

            // The narrowest the window lets the browser be.
            sheet.browser.width = 200;
            sheet.browser.tab = 0;
            save(sheet, "browser-narrow");
        }

        // The two panels in their places in the window.
        function test_the_window_with_the_browser_and_the_detail_panel() {
            instrument.selectPatch("Modular Lead");
            const window = createTemporaryObject(windowComponent, stage);
            verify(window);
            waitForRendering(window.contentItem);
            const browser = findChild(window.contentItem, "browser");
            const detail = findChild(window.contentItem, "detail");
            verify(browser.width >= 200 && browser.width <= 420);
            verify(detail.height >= 200 && detail.height <= 520);
            compare(truncatedTexts(browser), []);
            grabImage(window.contentItem).save(testHost.galleryFolder + "/" + theme.currentId + "-window.png");
        }
    }
}
