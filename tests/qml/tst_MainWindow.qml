import QtQuick
import QtTest
import Ostrel.App

Item {
    id: stage

    width: 200
    height: 100

    Component { id: mainComponent; Main {} }

    // Another program's window, to switch to.
    Component { id: otherComponent; Window { visible: true; width: 100; height: 100 } }

    TestCase {
        name: "MainWindow"
        when: windowShown

        function init() {
            testHost.resetControllers();
            settings.setValue("appearance.reduce_motion", true);
            settings.setValue("appearance.show_help_strip", true);
            app.helpText = "";
        }

        function cleanup() {
            // A help text the pointer queued for later is written before the window goes.
            wait(0);
            testHost.resetControllers();
            settings.resetToDefault("appearance.show_help_strip");
        }

        // The window, shown and holding the keyboard, so that its shortcuts answer.
        function makeWindow() {
            const window = createTemporaryObject(mainComponent, stage);
            verify(window);
            // A top-level window, as the program's: one that belongs to the test's window
            // counts as active while any window of that family is.
            window.transientParent = null;
            window.requestActivate();
            tryVerify(() => window.active, 5000, "the window never became active");
            waitForRendering(window.contentItem);
            return window;
        }

        function part(window, name) {
            const found = findChild(window.contentItem.parent, name);
            verify(found, "no " + name);
            return found;
        }

        function test_window_size_and_title() {
            const window = makeWindow();
            compare(window.width, 1320);
            compare(window.height, 860);
            compare(window.minimumWidth, 940);
            compare(window.minimumHeight, 640);
            compare(window.title, "Untitled  -  Ostrel  " + app.versionString);
            project.setTempo(100);
            compare(window.title, "Untitled *  -  Ostrel  " + app.versionString);
        }

        // Help strip

        function test_help_strip_shows_what_the_pointer_is_over() {
            const window = makeWindow();
            const help = part(window, "helpText");
            compare(help.text, "Point at anything to see what it does.");
            const play = part(window, "playButton");
            mouseMove(play, play.width / 2, play.height / 2);
            verify(play.help !== "");
            compare(help.text, play.help);
            mouseMove(part(window, "topBar"), 4, 4);
            tryCompare(help, "text", "Point at anything to see what it does.");
        }

        function test_without_the_help_strip_the_body_reaches_the_bottom() {
            const window = makeWindow();
            const strip = part(window, "helpStrip");
            const body = part(window, "body");
            verify(strip.visible);
            compare(body.mapToItem(null, 0, body.height).y, window.height - 40);
            settings.setValue("appearance.show_help_strip", false);
            verify(!strip.visible);
            tryCompare(strip, "height", 0);
            compare(body.mapToItem(null, 0, body.height).y, window.height);
        }

        // Space and the keys that step aside

        function test_space_starts_and_stops_the_clock() {
            const window = makeWindow();
            keyClick(Qt.Key_Space);
            verify(transport.playing);
            keyClick(Qt.Key_Space);
            verify(!transport.playing);
        }

        function test_space_in_a_text_field_types_and_does_not_play() {
            const window = makeWindow();
            keyClick(Qt.Key_Comma, Qt.ControlModifier);
            const field = part(window, "searchField");
            mouseClick(field);
            verify(field.activeFocus);
            keyClick(Qt.Key_A);
            keyClick(Qt.Key_Space);
            keyClick(Qt.Key_B);
            compare(field.text, "a b");
            verify(!transport.playing);
        }

        function test_space_on_a_focused_button_or_switch_does_not_play_data() {
            return [{tag: "button", name: "loopButton", property: "loopEnabled"},
                    {tag: "switch", name: "metronomeToggle", property: "metronome"}];
        }

        function test_space_on_a_focused_button_or_switch_does_not_play(data) {
            const window = makeWindow();
            const control = part(window, data.name);
            control.forceActiveFocus(Qt.TabFocusReason);
            verify(control.activeFocus);
            keyClick(Qt.Key_Space);
            // The control takes the Space itself.
            verify(transport[data.property]);
            verify(!transport.playing);
        }

        function test_switching_away_releases_every_held_note() {
            const window = makeWindow();
            instrument.keyDown(0);
            instrument.keyDown(4);
            compare(instrument.activeNotes.length, 2);
            const other = createTemporaryObject(otherComponent, stage);
            other.transientParent = null;
            waitForRendering(other.contentItem);
            other.requestActivate();
            tryVerify(() => !window.active, 5000, "the window kept the keyboard");
            compare(instrument.activeNotes.length, 0);
        }

        // Undo and redo through the project

        function test_undo_and_redo_keys_reach_the_project() {
            const window = makeWindow();
            project.renameProject("Night drive");
            keyClick(Qt.Key_Z, Qt.ControlModifier);
            compare(project.name, "Untitled");
            keyClick(Qt.Key_Y, Qt.ControlModifier);
            compare(project.name, "Night drive");
            keyClick(Qt.Key_Z, Qt.ControlModifier);
            keyClick(Qt.Key_Z, Qt.ControlModifier | Qt.ShiftModifier);
            compare(project.name, "Night drive");
            compare(window.title, "Night drive *  -  Ostrel  " + app.versionString);
        }

        // The Settings sheet

        function test_settings_sheet_opens_over_the_body_and_closes() {
            const window = makeWindow();
            const sheet = part(window, "settingsPanel");
            const body = part(window, "body");
            verify(!sheet.visible);
            keyClick(Qt.Key_Comma, Qt.ControlModifier);
            verify(sheet.visible);
            // The bars and the help strip stay outside the sheet.
            const top = sheet.mapToItem(null, 0, 0);
            const bodyTop = body.mapToItem(null, 0, 0);
            compare(top.y, bodyTop.y);
            compare(sheet.height, body.height);
            waitForRendering(sheet);
            keyClick(Qt.Key_Escape);
            verify(!sheet.visible);

            window.openSettings("midi");
            verify(sheet.visible);
            compare(sheet.page, "midi");
            const backdrop = part(window, "backdrop");
            mouseClick(backdrop, 8, 8);
            verify(!sheet.visible);
            // An empty page opens the page shown last.
            window.openSettings("");
            compare(sheet.page, "midi");
        }
    }
}
