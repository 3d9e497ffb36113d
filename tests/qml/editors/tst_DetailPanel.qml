import QtQuick
import QtTest
import Ostrel.App

// The detail panel's routing: its tabs, the keyboard focus, the deferred view switch, the
// ids handed to the play card and the piano roll, and the log page over a real log file.
Item {
    id: stage

    width: 1200
    height: 420

    Component { id: panelComponent; DetailPanel { width: 1200; height: 360 } }
    Component { id: fieldComponent; FlatTextField { y: 380; width: 200 } }

    TestCase {
        name: "DetailPanel"
        when: windowShown

        SignalSpy { id: spy }

        function init() {
            testHost.resetControllers();
            settings.setValue("appearance.reduce_motion", true);
            app.helpText = "";
        }

        function cleanup() {
            // A help text the pointer queued for later is written before the panel goes.
            wait(0);
            testHost.removeFile(app.logFilePath);
            app.refreshLog();
            testHost.resetControllers();
        }

        function makePanel() {
            const panel = createTemporaryObject(panelComponent, stage);
            verify(panel);
            waitForRendering(panel);
            return panel;
        }

        function part(item, name) {
            const found = findChild(item, name);
            verify(found, "no " + name);
            return found;
        }

        function pages(panel) {
            return [panel.playCard.visible, part(panel, "logPage").visible, panel.pianoRoll.visible];
        }

        function writeLog(lines) {
            verify(testHost.writeFile(app.logFilePath, lines.join("\n")));
            app.refreshLog();
        }

        function logLines(panel) {
            const list = part(panel, "logList");
            const lines = [];
            for (let i = 0; i < list.count; ++i) {
                list.positionViewAtIndex(i, ListView.Contain);
                list.forceLayout();
                lines.push(list.itemAtIndex(i));
            }
            return lines;
        }

        // Tabs

        function test_the_strip_shows_one_page_at_a_time() {
            const panel = makePanel();
            compare(panel.tab, 0);
            compare(pages(panel), [true, false, false]);
            mouseClick(part(panel, "detailTab1"));
            compare(panel.tab, 1);
            compare(pages(panel), [false, true, false]);
            mouseClick(part(panel, "detailTab2"));
            compare(pages(panel), [false, false, true]);
            panel.tab = 0;
            compare(pages(panel), [true, false, false]);
            compare(["detailTab0", "detailTab1", "detailTab2"].map(n => part(panel, n).Accessible.name),
                    ["INSTRUMENT", "LOG", "PIANO"]);
        }

        function test_a_tab_writes_its_help_while_the_pointer_is_on_it() {
            const panel = makePanel();
            mouseMove(part(panel, "detailTab1"), 5, 5);
            tryCompare(app, "helpText", "The flight recorder: what the app has been doing, and where its log file is.");
            mouseMove(part(panel, "detailTab2"), 5, 5);
            tryCompare(app, "helpText", "The piano roll: see and edit the notes of the clip you selected in the timeline.");
            mouseMove(stage, 1190, 410);
            tryCompare(app, "helpText", "");
        }

        function test_only_the_instrument_tab_takes_the_keyboard_focus() {
            const panel = makePanel();
            const field = createTemporaryObject(fieldComponent, stage);
            field.forceActiveFocus();
            panel.tab = 1;
            verify(field.activeFocus);
            panel.tab = 2;
            verify(field.activeFocus);
            mouseClick(part(panel, "detailTab0"));
            verify(panel.playCard.activeFocus);
            // The computer keyboard plays at once.
            keyPress(Qt.Key_A);
            compare(instrument.activeNotes, [60]);
            keyRelease(Qt.Key_A);
        }

        function test_pages_keep_their_state_across_tabs() {
            const panel = makePanel();
            panel.playCard.view = "fx";
            panel.tab = 1;
            panel.tab = 2;
            panel.tab = 0;
            compare(panel.playCard.view, "fx");
        }

        // The view switch

        function test_the_view_changes_on_the_next_turn_and_the_later_call_wins() {
            const panel = makePanel();
            panel.tab = 1;
            panel.showInstrumentView("grid");
            compare(panel.playCard.view, "keys");
            tryCompare(panel.playCard, "view", "grid");
            compare(panel.tab, 1);

            panel.showInstrumentView("fx");
            panel.showInstrumentView("keys");
            panel.showInstrumentView("fx");
            compare(panel.playCard.view, "grid");
            wait(0);
            compare(panel.playCard.view, "fx");
        }

        // Ids and signals

        function test_the_selection_reaches_the_play_card_and_the_roll() {
            const panel = makePanel();
            panel.deviceTrackId = "t1";
            panel.pianoTrackId = "t2";
            panel.pianoClipId = "c9";
            const card = panel.playCard;
            compare([card.dropTrackId, card.sequencerTrackId, card.fxTrackId, card.sequencerClipId],
                    ["t1", "t1", "t1", "c9"]);
            compare([panel.pianoRoll.trackId, panel.pianoRoll.clipId], ["t2", "c9"]);
            panel.pianoClipId = "";
            compare(card.sequencerClipId, "");
            compare(panel.pianoRoll.clipId, "");
        }

        function test_the_play_cards_requests_come_up() {
            const panel = makePanel();
            spy.signalName = "openMidiSettings";
            spy.target = panel;
            spy.clear();
            mouseClick(part(panel.playCard, "midiButton"));
            compare(spy.count, 1);

            spy.signalName = "stepClipCreated";
            spy.clear();
            panel.playCard.clipCreated("c42");
            compare(spy.count, 1);
            compare(spy.signalArguments[0][0], "c42");
        }

        // The log page

        function test_without_a_log_file_one_line_says_so() {
            testHost.removeFile(app.logFilePath);
            app.refreshLog();
            const panel = makePanel();
            panel.tab = 1;
            const lines = logLines(panel);
            compare(lines.length, 1);
            compare(lines[0].text, "(the log file does not exist yet)");
            verify(Qt.colorEqual(lines[0].color, theme.colors.textMuted));
        }

        function test_log_lines_take_the_colour_of_their_level() {
            const panel = makePanel();
            panel.tab = 1;
            writeLog(["2026-12-07 10:00:00.000 INFO  app: started",
                      "2026-12-07 10:00:01.000 ERROR test: broken",
                      "2026-12-07 10:00:01.000 FATAL core: gone",
                      "    action: Main window > Write test error button",
                      "2026-12-07 10:00:02.000 WARN audio: late",
                      "2026-12-07 10:00:03.000 INFO ui: WARNING, ERRORS and FATALITY stay quiet",
                      "  action: not four spaces"]);
            const colors = logLines(panel).map(line => line.color);
            const expected = ["textMuted", "error", "error", "accent2", "warning", "textMuted", "textMuted"];
            compare(colors.length, expected.length);
            for (let i = 0; i < expected.length; ++i)
                verify(Qt.colorEqual(colors[i], theme.colors[expected[i]]), "line " + i + " is not " + expected[i]);
            compare(logLines(panel)[0].font.family, "monospace");
        }

        function test_the_log_scrolls_to_its_newest_line() {
            const panel = makePanel();
            panel.tab = 1;
            const lines = [];
            for (let i = 0; i < 200; ++i)
                lines.push("2026-12-07 10:00:00.000 INFO  app: line " + i);
            writeLog(lines);
            const list = part(panel, "logList");
            tryVerify(() => list.atYEnd && list.contentHeight > list.height);
            writeLog(lines.concat(["2026-12-07 10:00:00.000 WARN  app: the last"]));
            tryVerify(() => list.atYEnd);
            // Only the last 6000 bytes are read: the newest line is the list's last.
            verify(list.count < 201);
            const last = list.itemAtIndex(list.count - 1);
            verify(last);
            compare(last.text, "2026-12-07 10:00:00.000 WARN  app: the last");
        }

        // An error as the log file holds it: the line, its open action and its recent steps,
        // more of them than the list shows at once. The button's click makes the list re-read.
        function test_the_newest_error_line_stays_in_view_after_a_test_error() {
            const panel = makePanel();
            panel.tab = 1;
            const lines = [];
            for (let i = 0; i < 20; ++i)
                lines.push("2026-12-07T10:00:00.000Z INFO [app] line " + i + "  (thread 0001)");
            lines.push("2026-12-07T10:00:01.000Z ERROR [test] This is a test error, created on purpose to show "
                       + "the flight recorder.  (thread 0001)");
            lines.push("    action: Main window > Write test error button");
            lines.push("    recent steps (oldest first):");
            for (let i = 0; i < 32; ++i)
                lines.push("      10:00:00.5" + String(i).padStart(2, "0") + " [ui] step " + i);
            verify(testHost.writeFile(app.logFilePath, lines.join("\n")));
            const list = part(panel, "logList");
            mouseClick(part(panel, "writeTestError"));
            const errorShown = () => {
                const shown = list.contentItem.children;
                for (let i = 0; i < shown.length; ++i) {
                    const line = shown[i];
                    if (line.objectName !== "logLine" || line.text.indexOf(" ERROR ") < 0)
                        continue;
                    const top = line.mapToItem(list, 0, 0).y;
                    return top >= 0 && top + line.height <= list.height;
                }
                return false;
            };
            tryVerify(errorShown, 2000, "the error line is out of view");
            verify(list.contentHeight > list.height);
        }

        function test_the_test_error_button_refreshes_the_log_and_the_path_is_named() {
            const panel = makePanel();
            panel.tab = 1;
            spy.signalName = "logChanged";
            spy.target = app;
            spy.clear();
            const button = part(panel, "writeTestError");
            compare(button.text, "Write test error");
            verify(button.primary);
            mouseClick(button);
            compare(spy.count, 1);
            const path = part(panel, "logPath");
            compare(path.text, app.logFilePath);
            compare(path.Accessible.name, "Log file location " + app.logFilePath);
            verify(path.width <= 480);
            compare(part(panel, "openLogFolder").text, "Open log folder");
        }
    }
}
