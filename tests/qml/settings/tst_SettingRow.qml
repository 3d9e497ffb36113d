import QtQuick
import QtTest
import Ostrel.App

Item {
    id: stage

    width: 760
    height: 300

    Component {
        id: rowComponent

        SettingRow {
            x: 10
            y: 10
            width: 740
        }
    }

    // A row in a window of its own, on a screen of the size and scale asked for.
    Component {
        id: screenWindowComponent

        Window {
            property alias row: placedRow

            visible: true
            width: 760
            height: 200

            SettingRow {
                id: placedRow

                x: 10
                y: 10
                width: 740
            }
        }
    }

    TestCase {
        id: testCase

        name: "SettingRow"
        when: windowShown

        function init() {
            settings.setValue("appearance.reduce_motion", true);
            app.helpText = "";
            mouseMove(stage, stage.width - 1, stage.height - 1);
        }

        function cleanup() {
            // A help text the pointer queued for later is written before the controls go.
            wait(0);
            for (const id of ["appearance.show_help_strip", "audio.sample_rate", "audio.buffer_size", "api.port",
                              "appearance.custom_theme", "appearance.theme", "appearance.ui_scale"])
                settings.resetToDefault(id);
            theme.currentId = "graphite";
        }

        function entryFor(id) {
            for (const category of settings.categories) {
                for (const entry of settings.entries(category.id, true)) {
                    if (entry.id === id)
                        return entry;
                }
            }
            return null;
        }

        function makeRow(entry) {
            const row = createTemporaryObject(rowComponent, stage, {entry: entry});
            verify(row);
            waitForRendering(row);
            return row;
        }

        function child(item, name) {
            const found = findChild(item, name);
            verify(found, "no " + name);
            return found;
        }

        // The option button of a segmented control that reads text.
        function optionButton(row, text) {
            const control = child(row, "rowControl").item;
            for (let i = 0; i < control.children.length; ++i) {
                if (control.children[i].text === text)
                    return control.children[i];
            }
            fail("no option " + text);
            return null;
        }

        // A theme given on the command line is in use without being stored: the row lights it,
        // and picking the stored theme puts that one back in use.
        function test_the_theme_row_shows_the_theme_in_use() {
            compare(settings.value("appearance.theme"), "graphite");
            theme.currentId = "light";
            const row = makeRow(entryFor("appearance.theme"));
            compare([optionButton(row, "Ostrel Light").selected, optionButton(row, "Ostrel Graphite").selected],
                    [true, false]);
            mouseClick(optionButton(row, "Ostrel Graphite"));
            compare(theme.currentId, "graphite");
            compare(settings.value("appearance.theme"), "graphite");
            verify(optionButton(row, "Ostrel Graphite").selected);
        }

        function test_boolean_row_flips_the_setting_and_waits_for_the_new_map() {
            const row = makeRow(entryFor("appearance.show_help_strip"));
            const toggle = child(row, "rowControl").item;
            compare(toggle.checked, true);
            verify(!child(row, "resetLink").visible);
            mouseClick(toggle);
            compare(settings.value("appearance.show_help_strip"), false);
            // The switch shows the stored value only once the sheet hands it a fresh map.
            compare(toggle.checked, true);
            row.entry = entryFor("appearance.show_help_strip");
            compare(toggle.checked, false);
            verify(child(row, "resetLink").visible);
            compare(child(row, "refusalText").visible, false);
        }

        function test_reset_link_sends_the_default() {
            settings.setValue("audio.sample_rate", "96000");
            const row = makeRow(entryFor("audio.sample_rate"));
            const link = child(row, "resetLink");
            verify(link.visible);
            compare(link.Accessible.name, "Reset Sample rate (Hz) to its default value");
            mouseClick(link);
            compare(settings.value("audio.sample_rate"), "48000");
            row.entry = entryFor("audio.sample_rate");
            verify(!link.visible);
        }

        function test_choice_row_sends_the_picked_value() {
            const row = makeRow(entryFor("audio.sample_rate"));
            verify(!row.wide);
            const control = child(row, "rowControl").item;
            compare(control.current, "48000");
            mouseClick(optionButton(row, "44100"));
            compare(settings.value("audio.sample_rate"), "44100");
        }

        function test_choice_with_more_than_four_options_goes_below_the_text() {
            const wide = makeRow(entryFor("audio.buffer_size"));
            verify(wide.wide);
            const label = child(wide, "rowLabel");
            const control = child(wide, "rowControl");
            verify(control.mapToItem(wide, 0, 0).y > label.mapToItem(wide, 0, 0).y + label.height);
            fuzzyCompare(control.mapToItem(wide, 0, 0).x, 0, 1);
            mouseClick(optionButton(wide, "1024"));
            compare(settings.value("audio.buffer_size"), "1024");

            const narrow = makeRow(entryFor("audio.sample_rate"));
            const narrowControl = child(narrow, "rowControl");
            verify(narrowControl.mapToItem(narrow, 0, 0).x > stage.width / 3);
        }

        function test_slider_steps_by_five_over_a_wide_range_and_by_one_over_a_narrow_one() {
            const wide = makeRow({id: "appearance.ui_scale", type: "integer", label: "Interface size (%)", help: "",
                                  value: 100, isDefault: true, min: 75, max: 200, choices: []});
            compare(child(wide, "rowSlider").stepSize, 5);
            const narrow = makeRow({id: "instrument.level", type: "real", label: "Volume", help: "",
                                    value: 0.7, isDefault: true, min: 0, max: 1, choices: []});
            compare(child(narrow, "rowSlider").stepSize, 1);
            // The number rounds halves upward.
            compare(child(narrow, "rowNumber").text, "1");
        }

        // On the 1366 x 768 screen that scales by 125 %, 100 % leaves the smallest window
        // whole; the slider moved to 200 % says, before the size is applied, that the window
        // would not fit: at 125 % a 1366 x 768 screen was too small for the smallest window.
        function test_an_interface_size_too_large_for_the_screen_is_told_before_it_is_applied() {
            const screen = Array.from(Qt.application.screens).find(s => s.name === "interface-125");
            verify(screen);
            const window = createTemporaryObject(screenWindowComponent, stage, {x: screen.virtualX + 10, y: screen.virtualY + 10});
            verify(window);
            window.transientParent = null;
            window.row.entry = entryFor("appearance.ui_scale");
            waitForRendering(window.contentItem);
            compare(window.screen.name, "interface-125");
            const warning = child(window.row, "sizeWarning");
            compare(warning.text, "");
            verify(!warning.visible);
            const slider = child(window.row, "rowSlider");
            mousePress(slider, slider.width - 2, slider.height / 2);
            tryCompare(window.row, "sliderValue", 200);
            compare(settings.value("appearance.ui_scale"), 100);
            verify(warning.visible);
            const free = [Math.round(Math.min(screen.width, screen.desktopAvailableWidth) * 1.25),
                          Math.round(Math.min(screen.height, screen.desktopAvailableHeight) * 1.25)];
            compare(free, [1366, 768]);
            compare(warning.text, "At 200 % the smallest window is 2350 × 1250 pixels, larger than the 1366 × 768 this screen has free: part of the window would lie off the screen.");
            mouseRelease(slider, slider.width - 2, slider.height / 2);
            compare(settings.value("appearance.ui_scale"), 200);
            verify(warning.visible);
        }

        function test_slider_commits_a_keyboard_step() {
            const row = makeRow(entryFor("api.port"));
            const slider = child(row, "rowSlider");
            compare(child(row, "rowNumber").text, "8642");
            slider.forceActiveFocus(Qt.TabFocusReason);
            keyClick(Qt.Key_Right);
            compare(settings.value("api.port"), 8647);
            compare(child(row, "rowNumber").text, "8647");
        }

        function test_slider_commits_once_when_a_drag_ends() {
            const row = makeRow(entryFor("api.port"));
            const slider = child(row, "rowSlider");
            valueSpy.clear();
            const spy = valueSpy;
            mouseDrag(slider, slider.width / 2, slider.height / 2, slider.width / 4, 0);
            compare(spy.count, 1);
            const stored = settings.value("api.port");
            verify(stored > 8642);
            // The handle snaps to the slider's steps, counted from its lower end.
            compare((stored - 1024) % 5, 0);
            compare(child(row, "rowNumber").text, String(stored));
        }

        function test_text_row_sends_its_text_when_the_edit_ends() {
            const row = makeRow({id: "appearance.custom_theme", type: "text", label: "My theme", help: "Your own theme.",
                                 value: "", isDefault: true, min: 0, max: 0, choices: []});
            const field = child(row, "rowTextField");
            compare(field.Accessible.name, "My theme");
            compare(field.width, 240);
            compare(field.height, 34);
            mouseClick(field);
            keyClick(Qt.Key_M);
            keyClick(Qt.Key_E);
            keyClick(Qt.Key_Return);
            compare(settings.value("appearance.custom_theme"), "me");

            // Leaving the field ends the edit too; an unchanged text changes nothing.
            revisionSpy.clear();
            const spy = revisionSpy;
            mouseClick(field);
            mouseClick(stage, stage.width - 2, stage.height - 2);
            stage.forceActiveFocus();
            compare(spy.count, 0);
            compare(settings.value("appearance.custom_theme"), "me");
        }

        // The bridge's own maps never offer a refused value from a slider or a switch; maps
        // that claim more than the setting takes show that these rows say so too.
        function test_a_refused_value_shows_why_data() {
            return [
                {tag: "text", entry: {id: "api.port", type: "text", label: "API port", help: "", value: "8642",
                                      isDefault: true, min: 1024, max: 65535, choices: []},
                 gesture: "type", setting: "api.port", kept: 8642, why: "API port did not accept that text."},
                {tag: "choice", entry: {id: "audio.sample_rate", type: "choice", label: "Sample rate (Hz)", help: "",
                                        value: "48000", isDefault: true, min: 0, max: 0,
                                        choices: [{value: "12345", label: "12345"}, {value: "44100", label: "44100"}]},
                 gesture: "pick", setting: "audio.sample_rate", kept: "48000",
                 why: "Sample rate (Hz) takes only one of the options shown."},
                {tag: "slider", entry: {id: "api.port", type: "integer", label: "API port", help: "", value: 50,
                                        isDefault: true, min: 0, max: 100, choices: []},
                 gesture: "step", setting: "api.port", kept: 8642, why: "API port takes a whole number from 0 to 100."},
                {tag: "switch", entry: {id: "audio.sample_rate", type: "boolean", label: "Sample rate (Hz)", help: "",
                                        value: false, isDefault: true, min: 0, max: 0, choices: []},
                 gesture: "flip", setting: "audio.sample_rate", kept: "48000",
                 why: "Sample rate (Hz) takes only on or off."},
            ];
        }

        function test_a_refused_value_shows_why(data) {
            const row = makeRow(data.entry);
            if (data.gesture === "type") {
                // A number setting given words: the store refuses it and nothing changes.
                const field = child(row, "rowTextField");
                mouseClick(field);
                field.selectAll();
                keyClick(Qt.Key_A);
                keyClick(Qt.Key_Return);
            } else if (data.gesture === "pick") {
                mouseClick(optionButton(row, "12345"));
            } else if (data.gesture === "step") {
                child(row, "rowSlider").forceActiveFocus(Qt.TabFocusReason);
                keyClick(Qt.Key_Right);
            } else {
                mouseClick(child(row, "rowControl").item);
            }
            compare(settings.value(data.setting), data.kept);
            const refusal = child(row, "refusalText");
            verify(refusal.visible);
            compare(refusal.text, data.why);
            verify(Qt.colorEqual(refusal.color, theme.colors.warning));
            if (data.gesture === "pick") {
                // An accepted choice clears it.
                mouseClick(optionButton(row, "44100"));
                compare(settings.value(data.setting), "44100");
                verify(!refusal.visible);
            }
        }

        function test_hover_writes_the_help_and_leaving_clears_it() {
            const entry = entryFor("appearance.show_help_strip");
            const row = makeRow(entry);
            mouseMove(row, 40, row.height / 2);
            compare(app.helpText, entry.help);
            mouseMove(stage, stage.width - 1, stage.height - 1);
            compare(app.helpText, "");
        }

        function test_moving_from_the_control_to_the_text_keeps_the_help() {
            const entry = entryFor("appearance.show_help_strip");
            const row = makeRow(entry);
            const toggle = child(row, "rowControl").item;
            mouseMove(toggle, toggle.width / 2, toggle.height / 2);
            compare(app.helpText, entry.help);
            const label = child(row, "rowLabel");
            mouseMove(label, 10, label.height / 2);
            mouseMove(label, 12, label.height / 2);
            compare(app.helpText, entry.help);
        }

        function test_height_is_the_content_and_three_spacings() {
            const row = makeRow(entryFor("appearance.show_help_strip"));
            const grid = child(row, "rowLabel").parent.parent;
            compare(row.height, grid.implicitHeight + theme.spacing * 3);
        }

        SignalSpy {
            id: valueSpy

            target: settings
            signalName: "valueChanged"
        }

        SignalSpy {
            id: revisionSpy

            target: settings
            signalName: "revisionChanged"
        }
    }
}
