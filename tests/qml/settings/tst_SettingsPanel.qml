import QtQuick
import QtTest
import Ostrel.App

Item {
    id: stage

    width: 1280
    height: 800

    Component {
        id: panelComponent

        SettingsPanel {
            anchors.fill: parent
        }
    }

    SignalSpy {
        id: midiSpy

        target: midi
        signalName: "devicesChanged"
    }

    SignalSpy {
        id: audioSpy

        target: audio
        signalName: "devicesChanged"
    }

    TestCase {
        id: testCase

        name: "SettingsPanel"
        when: windowShown

        function init() {
            settings.setValue("appearance.reduce_motion", true);
            app.helpText = "";
            testHost.resetControllers();
        }

        function cleanup() {
            // A help text the pointer queued for later is written before the controls go.
            wait(0);
            settings.resetToDefault("api.enabled");
        }

        function makePanel() {
            const panel = createTemporaryObject(panelComponent, stage);
            verify(panel);
            return panel;
        }

        function child(item, name) {
            const found = findChild(item, name);
            verify(found, "no " + name);
            return found;
        }

        function sections(panel) {
            const card = child(panel, "settingsCard");
            return {
                audio: findChild(card, "audioStatus").parent.parent,
                midi: findChild(card, "midiStatus").parent,
                themes: findChild(card, "exportTheme").parent.parent,
                patches: findChild(card, "savePatch").parent.parent
            };
        }

        function visibleSections(panel) {
            const all = sections(panel);
            return Object.keys(all).filter(key => all[key].visible).sort();
        }

        function rowIds(panel) {
            return panel.rows.map(entry => entry.id);
        }

        function typeText(text) {
            for (const character of text)
                keyClick(character);
        }

        function test_opens_on_the_last_page_and_the_first_time_on_appearance() {
            const panel = makePanel();
            verify(!panel.visible);
            panel.openPage("");
            verify(panel.visible);
            compare(panel.page, "appearance");
            verify(child(panel, "settingsCard").activeFocus);
            compare(child(panel, "pageTitle").text, "Appearance");
            panel.openPage("api");
            panel.close();
            panel.openPage("");
            compare(panel.page, "api");
            compare(child(panel, "pageTitle").text, "Local API");
        }

        function test_each_page_shows_its_title_section_and_rows_data() {
            return [
                {tag: "appearance", title: "Appearance", sections: ["themes"],
                 rows: ["appearance.theme", "appearance.ui_scale", "appearance.reduce_motion", "appearance.show_help_strip"]},
                {tag: "audio", title: "Audio", sections: ["audio"], rows: ["audio.sample_rate", "audio.buffer_size"]},
                {tag: "midi", title: "MIDI", sections: ["midi"], rows: []},
                {tag: "instrument", title: "Instrument", sections: ["patches"], rows: []},
                {tag: "api", title: "Local API", sections: [], rows: ["api.enabled"]},
                {tag: "logging", title: "Logging", sections: [], rows: []}
            ];
        }

        function test_each_page_shows_its_title_section_and_rows(data) {
            const panel = makePanel();
            panel.openPage(data.tag);
            waitForRendering(panel);
            compare(child(panel, "pageTitle").text, data.title);
            compare(visibleSections(panel), data.sections);
            compare(rowIds(panel), data.rows);
            compare(child(panel, "rowList").count, data.rows.length);
            verify(child(panel, "pageButton_" + data.tag).selected);
            verify(!child(panel, "aboutPage").visible);
            // Pages filled by their section say nothing about an empty list.
            const note = child(panel, "emptyNote");
            compare(note.visible, data.tag === "logging");
            if (note.visible)
                compare(note.text, "Nothing here yet.");
        }

        function test_a_page_button_shows_its_page() {
            const panel = makePanel();
            panel.openPage("appearance");
            mouseClick(child(panel, "pageButton_audio"));
            compare(panel.page, "audio");
            compare(visibleSections(panel), ["audio"]);
            verify(!child(panel, "pageButton_appearance").selected);
        }

        function test_an_unknown_page_is_empty() {
            const panel = makePanel();
            panel.openPage("nowhere");
            compare(child(panel, "pageTitle").text, "");
            compare(visibleSections(panel), []);
            verify(!child(panel, "footer").visible);
            verify(child(panel, "emptyNote").visible);
            compare(child(panel, "emptyNote").text, "Nothing here yet.");
        }

        function test_the_about_page() {
            const panel = makePanel();
            panel.openPage("about");
            waitForRendering(panel);
            compare(child(panel, "pageTitle").text, "About Ostrel");
            verify(child(panel, "aboutPage").visible);
            verify(!child(panel, "rowList").visible);
            verify(!child(panel, "footer").visible);
            compare(visibleSections(panel), []);
            compare(child(panel, "versionText").text, "Version " + app.versionString);
            const file = child(panel, "settingsFileText");
            compare(file.text, "Settings file: " + settings.filePath);
            compare(file.font.family, "monospace");
            verify(child(panel, "pageButton_about").selected);
        }

        function test_search_finds_settings_on_every_page() {
            const panel = makePanel();
            panel.openPage("audio");
            const field = child(panel, "searchField");
            mouseClick(field);
            compare(app.helpText, "Type a word to find a setting on any page.");
            typeText("MOTION");
            verify(panel.searching);
            compare(child(panel, "pageTitle").text, "Search results");
            compare(rowIds(panel), ["appearance.reduce_motion"]);
            compare(visibleSections(panel), []);
            verify(!child(panel, "pageButton_audio").selected);
            // Words of the help sentences count too, across pages.
            field.clear();
            typeText("size");
            compare(rowIds(panel), ["appearance.ui_scale", "audio.buffer_size"]);
            field.clear();
            typeText("qqqq");
            compare(rowIds(panel), []);
            compare(child(panel, "emptyNote").text, "No settings match that word.");
            verify(child(panel, "emptyNote").visible);
            // A page button ends the search.
            mouseClick(child(panel, "pageButton_midi"));
            compare(field.text, "");
            verify(!panel.searching);
            compare(visibleSections(panel), ["midi"]);
        }

        function test_advanced_settings_show_on_request() {
            const panel = makePanel();
            panel.openPage("logging");
            const footer = child(panel, "footer");
            verify(footer.visible);
            compare(rowIds(panel), []);
            mouseClick(child(panel, "advancedToggle"));
            verify(panel.showAdvanced);
            compare(rowIds(panel), ["logging.level"]);
            verify(!child(panel, "emptyNote").visible);
            // The search includes them while the switch is on.
            mouseClick(child(panel, "searchField"));
            typeText("port");
            verify(footer.visible);
            compare(rowIds(panel), ["api.port", "api.osc.port"]);
            mouseClick(child(panel, "advancedToggle"));
            verify(!panel.showAdvanced);
            compare(rowIds(panel), []);
            mouseClick(child(panel, "advancedToggle"));
            // The switch and the page outlive closing; the search does not.
            panel.close();
            panel.openPage("");
            verify(panel.showAdvanced);
            verify(!panel.searching);
            compare(panel.page, "logging");
            compare(rowIds(panel), ["logging.level"]);
        }

        function test_pages_without_advanced_settings_offer_no_switch() {
            const panel = makePanel();
            panel.openPage("audio");
            verify(!panel.pageHasAdvanced);
            verify(!child(panel, "footer").visible);
            panel.openPage("api");
            verify(child(panel, "footer").visible);
        }

        function test_a_search_from_the_about_page_hides_the_about_text_and_the_switch() {
            const panel = makePanel();
            panel.openPage("about");
            mouseClick(child(panel, "searchField"));
            typeText("theme");
            verify(child(panel, "rowList").visible);
            verify(!child(panel, "aboutPage").visible);
            verify(!child(panel, "footer").visible);
            compare(rowIds(panel), ["appearance.theme"]);
        }

        function test_rows_are_rebuilt_after_a_change() {
            const panel = makePanel();
            panel.openPage("api");
            waitForRendering(panel);
            const list = child(panel, "rowList");
            const row = list.itemAtIndex(0);
            compare(row.entry.id, "api.enabled");
            // The pointer arrives first, as a person's would, and the click comes later.
            const toggle = findChild(row, "rowControl").item;
            mouseMove(toggle, toggle.width / 2, toggle.height / 2);
            waitForRendering(panel);
            mouseClick(toggle);
            compare(settings.value("api.enabled"), true);
            waitForRendering(panel);
            const fresh = list.itemAtIndex(0);
            compare(findChild(fresh, "rowControl").item.checked, true);
            verify(findChild(fresh, "resetLink").visible);
        }

        function test_ways_to_close_data() {
            return [
                {tag: "Esc in the search box, which it clears", page: "appearance", way: "escInSearch"},
                {tag: "Esc anywhere in the card", page: "api", way: "esc"},
                {tag: "the backdrop, and not the card", page: "appearance", way: "backdrop"},
                {tag: "the Close button", page: "appearance", way: "closeButton"},
            ];
        }

        function test_ways_to_close(data) {
            const panel = makePanel();
            panel.openPage(data.page);
            const field = child(panel, "searchField");
            if (data.way === "escInSearch") {
                mouseClick(field);
                typeText("tone");
                keyClick(Qt.Key_Escape);
            } else if (data.way === "esc") {
                keyClick(Qt.Key_Escape);
            } else if (data.way === "backdrop") {
                const card = child(panel, "settingsCard");
                mouseClick(card, card.width - 20, card.height - 10);
                verify(panel.visible);
                mouseClick(panel, 10, 10);
            } else {
                mouseClick(child(panel, "closeButton"));
            }
            verify(!panel.visible);
            compare(field.text, "");
            compare(panel.page, data.page);
        }

        function test_the_card_keeps_its_size_within_the_window() {
            const panel = makePanel();
            panel.openPage("");
            const card = child(panel, "settingsCard");
            compare(card.width, 1000);
            compare(card.height, 660);
            stage.width = 800;
            stage.height = 500;
            compare(card.width, 752);
            compare(card.height, 452);
            stage.width = 1280;
            stage.height = 800;
            compare(child(panel, "rail").width, 200);
        }

        function test_device_lists_are_read_again_when_their_page_comes_into_view() {
            const panel = makePanel();
            midiSpy.clear();
            audioSpy.clear();
            panel.openPage("midi");
            compare(midiSpy.count, 1);
            compare(audioSpy.count, 0);
            mouseClick(child(panel, "pageButton_audio"));
            compare(audioSpy.count, 1);
            mouseClick(child(panel, "pageButton_midi"));
            compare(midiSpy.count, 2);
            panel.close();
            panel.page = "audio";
            compare(audioSpy.count, 1);
            panel.openPage("");
            compare(audioSpy.count, 2);
            compare(midiSpy.count, 2);
        }

        function test_a_change_that_needs_a_restart_is_announced_on_every_page() {
            const panel = makePanel();
            panel.openPage("api");
            settings.setValue("appearance.ui_scale", 110);
            settings.setValue("appearance.ui_scale", 100);
            verify(child(panel, "restartNotice").visible);
            compare(child(panel, "restartNotice").text, "Restart Ostrel to apply all changes");
            panel.openPage("about");
            verify(child(panel, "restartNotice").visible);
        }
    }
}
