import QtQuick
import QtTest
import Ostrel.App

// The browser against the real project and instrument controllers, with real mouse and
// key events: the project's name, the three lists, the search box and the drags.
Item {
    id: stage

    width: 700
    height: 900

    Component { id: panelComponent; BrowserPanel { width: 280; height: 900 } }

    // A drop target as the timeline and the cards are: it accepts one key and keeps what it got.
    DropArea {
        id: target

        property var drops: []

        x: 400
        y: 300
        width: 200
        height: 200
        keys: ["ostrel/instrument"]

        onDropped: drop => {
            drops.push({keys: Array.from(drop.keys), x: drop.x, y: drop.y, supported: drop.supportedActions,
                        patchName: drop.source.patchName, deviceId: drop.source.deviceId,
                        presetName: drop.source.presetName, fileName: drop.source.fileName});
            drop.accept(Qt.CopyAction);
        }
    }

    QtObject {
        id: standInProject

        property string name: "Stand-in"
        property bool dirty: false
        property string message: ""
        property bool problem: false
        property var sampleFiles: []
        property string samplesDirectory: ""
        property int foldersOpened: 0
        property int refreshes: 0

        function effectCatalogue() { return []; }
        function refreshSamples() { refreshes += 1; }
        function openSamplesFolder() { foldersOpened += 1; }
        function renameProject(name) {}
    }

    TestCase {
        id: test

        name: "BrowserPanel"
        when: windowShown

        SignalSpy { id: loadSpy }

        // Taken from the real controller once: a stand-in has no folder.
        property string samplesFolder: ""

        function initTestCase() {
            samplesFolder = project.samplesDirectory;
            verify(samplesFolder !== "");
        }

        function init() {
            testHost.resetControllers();
            settings.setValue("appearance.reduce_motion", true);
            testHost.emptyFolder(samplesFolder);
            project.refreshSamples();
            target.drops = [];
            target.keys = ["ostrel/instrument"];
            app.helpText = "";
        }

        function cleanup() {
            // A help text the pointer queued for later is written before the panel goes.
            wait(0);
            // A copy: the property is read again after each removal, which would skip every other name.
            for (const name of instrument.userPatchNames.slice())
                instrument.removeUserPatch(name);
            compare(instrument.userPatchNames.length, 0);
            testHost.emptyFolder(samplesFolder);
            testHost.resetControllers();
        }

        function makePanel(tab) {
            const panel = createTemporaryObject(panelComponent, stage);
            verify(panel);
            if (tab !== undefined)
                panel.tab = tab;
            waitForRendering(panel);
            return panel;
        }

        function part(item, name) {
            const found = findChild(item, name);
            verify(found, "no " + name);
            return found;
        }

        function tabOf(panel) {
            return part(panel, ["instrumentsTab", "effectsTab", "samplesTab"][panel.tab]);
        }

        // The delegate of a row, scrolled into view first.
        function rowAt(panel, index) {
            const list = tabOf(panel).list;
            list.positionViewAtIndex(index, ListView.Contain);
            list.forceLayout();
            const row = list.itemAtIndex(index);
            verify(row, "no row " + index);
            return row;
        }

        function indexOfRow(panel, predicate) {
            const rows = tabOf(panel).rows;
            for (let i = 0; i < rows.length; ++i) {
                if (predicate(rows[i]))
                    return i;
            }
            fail("no such row");
        }

        function rowNamed(panel, name) {
            return rowAt(panel, indexOfRow(panel, row => (row.name !== undefined ? row.name : row) === name));
        }

        function type(text) {
            for (const c of text)
                keyClick(c);
        }

        function search(panel, text) {
            const field = part(panel, "browserSearch");
            mouseClick(field);
            keyClick(Qt.Key_A, Qt.ControlModifier);
            keyClick(Qt.Key_Backspace);
            type(text);
        }

        // What the list shows: "name" per header, "  name" per item.
        function outline(panel) {
            return tabOf(panel).rows.map(row => (row.kind === "header" || row.kind === "effect" ? "" : "  ") + row.name);
        }

        // Presses on a row, moves the pointer to a point of the stage and lets go there.
        function dragRow(row, toX, toY) {
            mousePress(row, 40, 15);
            mouseMove(row, 52, 15, -1, Qt.LeftButton);
            const end = row.mapFromItem(stage, toX, toY);
            mouseMove(row, end.x, end.y, -1, Qt.LeftButton);
            const label = row.dragLabel;
            const travelling = {visible: label.visible, home: label.parent === row};
            mouseRelease(row, end.x, end.y);
            return travelling;
        }

        // The instruments in menu order, with the category the controller gives each.
        function expectedInstruments(words) {
            const order = ["synth", "bass", "pad", "drums", "sampler", "fm"];
            const categories = instrument.patchCategories;
            const lines = [];
            for (const category of order) {
                const names = instrument.patchNames.filter(name => (categories[name] || "synth") === category
                                                           && (words === "" || name.toLowerCase().includes(words)
                                                               || category.includes(words)));
                if (names.length === 0)
                    continue;
                lines.push(category);
                for (const name of names)
                    lines.push("  " + name);
            }
            return lines;
        }

        // A user patch of that category, saved from the one being played.
        function addUserPatch(name, category) {
            verify(instrument.saveCurrentPatchAs(name), instrument.patchFilesMessage);
            const path = instrument.patchesDirectory + "/" + name + ".ostpatch";
            const patch = JSON.parse(testHost.readFile(path));
            if (category === undefined)
                delete patch.category;
            else
                patch.category = category;
            verify(testHost.writeFile(path, JSON.stringify(patch)));
            instrument.refreshPatches();
        }

        // Project name

        // An instrument chosen elsewhere (a track, a menu) below the shown rows, then one above
        // them: each time its row comes into view.
        function test_the_current_instrument_is_scrolled_into_view() {
            const panel = createTemporaryObject(panelComponent, stage, {height: 320});
            verify(panel);
            waitForRendering(panel);
            const list = tabOf(panel).list;
            verify(list.contentHeight > list.height * 2);
            const inView = name => {
                const index = indexOfRow(panel, row => row.name === name && row.kind === "item");
                const row = list.itemAtIndex(index);
                if (row === null || !row.current)
                    return false;
                const top = row.mapToItem(list, 0, 0).y;
                return top >= 0 && top + row.height <= list.height;
            };
            const names = instrument.patchNames;
            const last = names[names.length - 1];
            verify(!inView(last));
            instrument.selectPatch(last);
            tryVerify(() => inView(last), 2000, last);
            instrument.selectPatch(names[0]);
            tryVerify(() => inView(names[0]), 2000, names[0]);
            // Kept in view while the window lays the list out anew, until the person moves it.
            instrument.selectPatch(last);
            tryVerify(() => inView(last), 2000, last);
            panel.height = 260;
            tryVerify(() => inView(last), 2000, "after the list got shorter");
            mouseWheel(list, list.width / 2, list.height / 2, 0, 240);
            tryVerify(() => !list.moving);
            const moved = list.contentY;
            panel.height = 220;
            wait(50);
            compare(list.contentY, moved);
        }

        function test_the_name_field_shows_the_project_name_and_follows_it() {
            const panel = makePanel();
            const field = part(panel, "projectName");
            compare(field.text, project.name);
            compare(field.placeholderText, "Project name");
            project.renameProject("From elsewhere");
            compare(field.text, "From elsewhere");
            project.undo();
            compare(field.text, "Untitled");
        }

        function test_enter_renames_the_project_trimmed_in_one_step() {
            const panel = makePanel();
            const field = part(panel, "projectName");
            mouseClick(field);
            keyClick(Qt.Key_A, Qt.ControlModifier);
            type("  Night Drive  ");
            keyClick(Qt.Key_Return);
            compare(project.name, "Night Drive");
            compare(project.undoText, "Rename project");
            verify(!field.activeFocus);
            tryCompare(field, "text", "Night Drive");
            project.undo();
            verify(!project.canUndo);
            compare(field.text, "Untitled");
        }

        function test_escape_puts_the_name_back_and_renames_nothing() {
            const panel = makePanel();
            const field = part(panel, "projectName");
            mouseClick(field);
            keyClick(Qt.Key_A, Qt.ControlModifier);
            type("Scratch");
            keyClick(Qt.Key_Escape);
            compare(field.text, "Untitled");
            verify(!field.activeFocus);
            compare(project.name, "Untitled");
            verify(!project.canUndo);
        }

        function test_leaving_the_field_renames_and_leaving_it_unchanged_does_not() {
            const panel = makePanel();
            const field = part(panel, "projectName");
            mouseClick(field);
            mouseClick(part(panel, "browserSearch"));
            verify(!project.canUndo);

            mouseClick(field);
            keyClick(Qt.Key_A, Qt.ControlModifier);
            type("Left Behind");
            mouseClick(part(panel, "browserSearch"));
            compare(project.name, "Left Behind");
        }

        function test_an_empty_name_changes_nothing_and_shows_the_name_again() {
            const panel = makePanel();
            project.renameProject("Keeper");
            const field = part(panel, "projectName");
            mouseClick(field);
            keyClick(Qt.Key_A, Qt.ControlModifier);
            keyClick(Qt.Key_Backspace);
            type("   ");
            keyClick(Qt.Key_Return);
            compare(project.name, "Keeper");
            tryCompare(field, "text", "Keeper");
            compare(project.undoText, "Rename project");
            project.undo();
            verify(!project.canUndo);
        }

        function test_unsaved_mark_and_message_line_follow_the_project() {
            const panel = makePanel();
            const mark = part(panel, "unsavedMark");
            const message = part(panel, "projectMessage");
            verify(!mark.visible);
            project.setTempo(99);
            verify(mark.visible);
            compare(mark.text, "● unsaved");

            testHost.replaceContextObject("project", standInProject);
            verify(!message.visible);
            standInProject.message = "Saved.";
            verify(message.visible);
            compare(message.text, "Saved.");
            verify(Qt.colorEqual(message.color, theme.colors.textMuted));
            standInProject.problem = true;
            verify(Qt.colorEqual(message.color, theme.colors.warning));
            standInProject.message = "";
            standInProject.problem = false;
            verify(!message.visible);
        }

        // Tabs and the search box

        function test_tabs_switch_lists_and_the_search_text_stays() {
            const panel = makePanel();
            const field = part(panel, "browserSearch");
            compare(field.placeholderText, "Search instruments");
            verify(part(panel, "instrumentsTab").visible);
            search(panel, "de");
            mouseClick(part(panel, "tab1"));
            compare(panel.tab, 1);
            verify(!part(panel, "instrumentsTab").visible);
            verify(part(panel, "effectsTab").visible);
            compare(field.placeholderText, "Search effects and presets");
            compare(field.text, "de");
            verify(outline(panel).includes("Delay"));
            mouseClick(part(panel, "tab2"));
            compare(field.placeholderText, "Search samples");
            compare(part(panel, "tab2").Accessible.name, "SAMPLES");
        }

        function test_the_tabs_fit_the_narrowest_panel() {
            const panel = makePanel();
            const row = part(panel, "tabRow");
            const tabs = [0, 1, 2].map(i => part(panel, "tab" + i));
            verify(!row.tight);
            panel.width = 200;
            waitForRendering(panel);
            verify(row.tight);
            verify(tabs.reduce((sum, tab) => sum + tab.width, 0) <= row.width);
            // Whole, and no smaller than 8 px: at 940 px the labels were shrunk to 5 px.
            for (const tab of tabs) {
                const label = part(tab, "tabLabel");
                verify(!label.truncated, label.text + " is cut short");
                verify(label.contentWidth <= tab.width, label.text + " runs past its tab");
                verify(label.font.pixelSize >= 8, label.text + " is " + label.font.pixelSize + " px");
            }
        }

        function test_tabs_and_rows_write_their_help() {
            const panel = makePanel();
            const tab = part(panel, "tab1");
            mouseMove(tab, 5, 5);
            tryCompare(app, "helpText", "Effects (with presets) to put on any track.");
            const row = rowNamed(panel, "Drum Rack");
            mouseMove(row, 40, 10);
            tryCompare(app, "helpText", "Click to play “Drum Rack” on the keys below. Double-click, or drag it onto a track, to put it on that track (drop on empty space for a new track).");
            mouseMove(rowNamed(panel, "bass"), 40, 10);
            tryCompare(app, "helpText", "Click to fold or unfold the bass instruments.");
            mouseMove(stage, 690, 890);
            tryCompare(app, "helpText", "");
        }

        // Instruments

        function test_instruments_are_listed_by_kind_in_menu_order() {
            const panel = makePanel();
            compare(outline(panel), expectedInstruments(""));
            const headers = tabOf(panel).rows.filter(row => row.kind === "header").map(row => row.name);
            compare(headers, ["synth", "bass", "pad", "drums", "sampler", "fm"]);
            verify(expectedInstruments("").indexOf("  Sampler") === expectedInstruments("").indexOf("sampler") + 1);
            verify(outline(panel).indexOf("  Drum Rack") > outline(panel).indexOf("drums"));
            const synth = rowNamed(panel, "synth");
            compare(part(synth, "rowLabel").text, "SYNTH");
            compare(part(synth, "countText").text, String(tabOf(panel).rows[0].count));
            compare(synth.Accessible.name, "synth, synth");
        }

        function test_modular_names_lose_their_first_word_in_the_row_and_label() {
            const panel = makePanel();
            const row = rowNamed(panel, "Modular Lead");
            compare(part(row, "rowLabel").text, "Lead");
            compare(part(row, "dragLabelText").text, "Lead");
            compare(row.Accessible.name, "Modular Lead, synth");
        }

        function test_user_patches_go_to_synth_or_a_group_of_their_own_after_fm() {
            addUserPatch("Aaa Plain", undefined);
            addUserPatch("Bbb Empty", "");
            addUserPatch("Ccc Strings", "strings");
            const panel = makePanel();
            const lines = outline(panel);
            verify(lines.indexOf("  Aaa Plain") > 0 && lines.indexOf("  Aaa Plain") < lines.indexOf("bass"));
            verify(lines.indexOf("  Bbb Empty") > 0 && lines.indexOf("  Bbb Empty") < lines.indexOf("bass"));
            compare(lines.slice(-2), ["strings", "  Ccc Strings"]);
            compare(part(rowNamed(panel, "strings"), "rowLabel").text, "STRINGS");
            // A patch removed on disk leaves the list.
            verify(instrument.removeUserPatch("Ccc Strings"));
            verify(!outline(panel).includes("strings"));
        }

        function test_search_ignores_case_and_clearing_lists_everything_again() {
            const panel = makePanel();
            search(panel, "PIANO");
            const lines = outline(panel);
            compare(lines, expectedInstruments("piano"));
            verify(lines.length > 1);
            keyClick(Qt.Key_A, Qt.ControlModifier);
            keyClick(Qt.Key_Backspace);
            compare(outline(panel), expectedInstruments(""));
        }

        function test_a_category_name_lists_its_whole_group_counted_by_matches() {
            const panel = makePanel();
            search(panel, "bass");
            const rows = tabOf(panel).rows;
            const expected = expectedInstruments("bass");
            compare(outline(panel), expected);
            const header = rows[outline(panel).indexOf("bass")];
            compare(header.count, instrument.patchNames.filter(n => instrument.patchCategories[n] === "bass").length);
            // "FM Bass" is an fm instrument whose name matches: its group counts it alone.
            const fm = rows.filter(row => row.kind === "header" && row.name === "fm");
            if (fm.length > 0)
                compare(fm[0].count, rows.filter(row => row.kind === "item" && row.category === "fm").length);
        }

        function test_no_match_shows_the_note_and_no_headers() {
            const panel = makePanel();
            const note = part(part(panel, "instrumentsTab"), "nothingMatches");
            verify(!note.visible);
            search(panel, "zzzz");
            compare(tabOf(panel).rows.length, 0);
            verify(note.visible);
            compare(note.text, "Nothing matches.");
        }

        function test_folding_keeps_the_count_and_search_unfolds_until_cleared() {
            const panel = makePanel();
            const synthCount = tabOf(panel).rows[0].count;
            mouseClick(rowNamed(panel, "synth"));
            compare(outline(panel)[1], "bass");
            let header = rowNamed(panel, "synth");
            compare(part(header, "foldArrow").text, "▸");
            compare(part(header, "countText").text, String(synthCount));

            search(panel, "lead");
            verify(outline(panel).includes("  Modular Lead"));
            compare(part(rowNamed(panel, "synth"), "foldArrow").text, "▾");

            // Only spaces: no search, so the fold is back.
            keyClick(Qt.Key_A, Qt.ControlModifier);
            type("   ");
            compare(outline(panel)[1], "bass");
            keyClick(Qt.Key_A, Qt.ControlModifier);
            keyClick(Qt.Key_Backspace);
            compare(outline(panel)[1], "bass");
            compare(part(rowNamed(panel, "synth"), "foldArrow").text, "▸");

            mouseClick(rowNamed(panel, "synth"));
            compare(outline(panel), expectedInstruments(""));
        }

        function test_a_click_records_the_step_and_plays_the_instrument() {
            const panel = makePanel();
            instrument.selectPatch("Modular Lead");
            mouseClick(rowNamed(panel, "Modular Bass"));
            compare(instrument.patchName, "Modular Bass");
            verify(rowNamed(panel, "Modular Bass").current);
            verify(!rowNamed(panel, "Modular Lead").current);
        }

        function test_the_highlight_follows_the_instrument_not_the_click() {
            const panel = makePanel();
            instrument.selectPatch("Drum Rack");
            const rack = rowNamed(panel, "Drum Rack");
            verify(rack.current);
            verify(Qt.colorEqual(rack.border.color, theme.colors.accent));
            verify(Qt.colorEqual(rack.color, theme.colors.surfaceRaised));
            verify(!rowNamed(panel, "drums").current);
            instrument.selectPatch("Sampler");
            verify(!rowNamed(panel, "Drum Rack").current);
            verify(rowNamed(panel, "Sampler").current);
        }

        function test_a_double_click_asks_for_the_instrument_on_a_track() {
            const panel = makePanel();
            loadSpy.target = panel;
            loadSpy.signalName = "loadInstrument";
            loadSpy.clear();
            mouseDoubleClickSequence(rowNamed(panel, "Modular Pad"), 40, 15);
            compare(loadSpy.count, 1);
            compare(loadSpy.signalArguments[0][0], "Modular Pad");
            compare(instrument.patchName, "Modular Pad");
            // Headers do not load.
            mouseDoubleClickSequence(rowNamed(panel, "pad"), 40, 15);
            compare(loadSpy.count, 1);
        }

        function test_dragging_an_instrument_delivers_its_name_at_the_hot_spot() {
            const panel = makePanel();
            instrument.selectPatch("Modular Lead");
            const row = rowNamed(panel, "Modular Bass");
            const travelling = dragRow(row, 480, 380);
            verify(travelling.visible);
            verify(!travelling.home);
            compare(target.drops.length, 1);
            const drop = target.drops[0];
            compare(drop.keys, ["ostrel/instrument"]);
            compare(drop.patchName, "Modular Bass");
            compare(drop.supported, Qt.CopyAction);
            // Pressed 40, 15 into the row: the hot spot 14, 14 of the label is 26, 1 up-left.
            compare(drop.x, 80 - 26);
            compare(drop.y, 80 - 1);
            // A drag is not a click, and the label is home again.
            compare(instrument.patchName, "Modular Lead");
            compare(row.dragLabel.parent, row);
            verify(!row.dragLabel.visible);
            compare(row.dragLabel.x, 0);
            compare(row.dragLabel.y, 0);
            compare(row.dragLabel.width, 150);
            verify(Qt.colorEqual(row.dragLabel.color, theme.colors.accent));
        }

        function test_six_pixels_is_a_click_and_further_a_drag() {
            const panel = makePanel();
            instrument.selectPatch("Modular Lead");
            let row = rowNamed(panel, "Modular Bass");
            mousePress(row, 40, 15);
            for (const dx of [3, 6, 6, -6, 0])
                mouseMove(row, 40 + dx, 15, -1, Qt.LeftButton);
            mouseMove(row, 40, 21, -1, Qt.LeftButton);
            verify(!row.dragLabel.visible);
            mouseRelease(row, 40, 21);
            compare(instrument.patchName, "Modular Bass");

            row = rowNamed(panel, "Modular Pad");
            mousePress(row, 40, 15);
            mouseMove(row, 47, 15, -1, Qt.LeftButton);
            mouseMove(row, 49, 15, -1, Qt.LeftButton);
            verify(row.dragLabel.visible);
            mouseRelease(row, 49, 15);
            compare(instrument.patchName, "Modular Bass");
            compare(target.drops.length, 0);
        }

        function test_a_drag_released_outside_every_drop_area_delivers_nothing() {
            const panel = makePanel();
            const row = rowNamed(panel, "Modular Bass");
            const travelling = dragRow(row, 650, 80);
            verify(travelling.visible);
            compare(target.drops.length, 0);
            compare(row.dragLabel.parent, row);
            verify(!row.dragLabel.visible);
        }

        function test_headers_do_not_drag() {
            const panel = makePanel();
            const header = rowNamed(panel, "bass");
            compare(header.dragKey, "");
            const travelling = dragRow(header, 480, 380);
            verify(!travelling.visible);
            compare(target.drops.length, 0);
        }

        // Effects

        function test_effects_are_listed_closed_with_their_preset_counts() {
            const panel = makePanel(1);
            const catalogue = project.effectCatalogue();
            compare(catalogue.length, 5);
            compare(outline(panel), catalogue.map(effect => effect.name));
            for (let i = 0; i < catalogue.length; ++i) {
                const row = rowAt(panel, i);
                compare(part(row, "foldArrow").text, "▸");
                compare(part(row, "countText").text, catalogue[i].presets.length + " presets");
                compare(row.Accessible.name, catalogue[i].name);
            }
        }

        function test_a_click_opens_and_closes_an_effects_presets() {
            const panel = makePanel(1);
            const delay = project.effectCatalogue()[0];
            mouseClick(rowAt(panel, 0));
            compare(outline(panel).slice(0, delay.presets.length + 1),
                    [delay.name].concat(delay.presets.map(preset => "  " + preset.name)));
            compare(part(rowAt(panel, 0), "foldArrow").text, "▾");
            // A preset row does nothing on a click.
            mouseClick(rowAt(panel, 1));
            compare(tabOf(panel).rows.length, 5 + delay.presets.length);
            mouseClick(rowAt(panel, 0));
            compare(tabOf(panel).rows.length, 5);
        }

        function test_searching_fx_opens_every_effect_with_all_presets() {
            const panel = makePanel(1);
            const all = project.effectCatalogue().reduce((n, effect) => n + 1 + effect.presets.length, 0);
            search(panel, "FX");
            compare(tabOf(panel).rows.length, all);
            search(panel, "effect");
            compare(tabOf(panel).rows.length, all);
            compare(part(rowAt(panel, 0), "foldArrow").text, "▾");
        }

        function test_a_tag_of_one_preset_lists_its_effect_and_that_preset_alone() {
            const panel = makePanel(1);
            const catalogue = project.effectCatalogue();
            // A tag that no other preset's tags or name and no effect's name contain.
            let found = null;
            for (const effect of catalogue) {
                for (const preset of effect.presets) {
                    for (const tag of preset.tags) {
                        const others = catalogue.some(e => e.name.toLowerCase().includes(tag) || e.presets.some(
                            p => p !== preset && (p.name.toLowerCase().includes(tag) || p.tags.join(" ").includes(tag))));
                        if (!others && !preset.name.toLowerCase().includes(tag) && !"effect fx".includes(tag)
                                && found === null)
                            found = {effect: effect, preset: preset, tag: tag};
                    }
                }
            }
            verify(found, "no tag of one preset only");
            search(panel, found.tag);
            compare(outline(panel), [found.effect.name, "  " + found.preset.name]);
            compare(tabOf(panel).rows[0].count, found.effect.presets.length);
        }

        function test_the_effects_search_ignores_case_and_finds_nothing() {
            const panel = makePanel(1);
            search(panel, "REVERB");
            verify(outline(panel).includes("Reverb"));
            verify(!outline(panel).includes("Delay"));
            search(panel, "zzzz");
            compare(tabOf(panel).rows.length, 0);
            verify(part(part(panel, "effectsTab"), "nothingMatches").visible);
        }

        function test_an_empty_catalogue_shows_nothing_matches() {
            testHost.replaceContextObject("project", standInProject);
            const panel = makePanel(1);
            compare(tabOf(panel).rows.length, 0);
            verify(part(part(panel, "effectsTab"), "nothingMatches").visible);
        }

        function test_double_clicks_ask_for_the_effect_or_the_preset() {
            const panel = makePanel(1);
            loadSpy.target = panel;
            loadSpy.signalName = "loadEffect";
            loadSpy.clear();
            const delay = project.effectCatalogue()[0];
            mouseDoubleClickSequence(rowAt(panel, 0), 40, 14);
            compare(loadSpy.count, 1);
            compare(Array.from(loadSpy.signalArguments[0]), [delay.id, ""]);
            // Its first click opened it once.
            compare(tabOf(panel).rows.length, 5 + delay.presets.length);
            mouseDoubleClickSequence(rowAt(panel, 2), 60, 14);
            compare(loadSpy.count, 2);
            compare(Array.from(loadSpy.signalArguments[1]), [delay.id, delay.presets[1].name]);
            compare(tabOf(panel).rows.length, 5 + delay.presets.length);
        }

        function test_dragging_effects_and_presets_carries_the_type_and_preset() {
            target.keys = ["ostrel/effect"];
            const panel = makePanel(1);
            const reverb = project.effectCatalogue()[1];
            mouseClick(rowNamed(panel, reverb.name));
            dragRow(rowNamed(panel, reverb.name), 480, 380);
            const presetRow = rowNamed(panel, reverb.presets[0].name);
            compare(presetRow.dragLabel.width, 170);
            verify(Qt.colorEqual(presetRow.dragLabel.color, theme.colors.accent2));
            compare(part(presetRow, "dragLabelText").text, reverb.presets[0].name);
            dragRow(presetRow, 480, 380);
            compare(target.drops.length, 2);
            compare(target.drops[0].keys, ["ostrel/effect"]);
            compare(target.drops[0].deviceId, reverb.id);
            compare(target.drops[0].presetName, "");
            compare(target.drops[1].deviceId, reverb.id);
            compare(target.drops[1].presetName, reverb.presets[0].name);
        }

        function test_an_instrument_target_takes_no_effect() {
            const panel = makePanel(1);
            const travelling = dragRow(rowAt(panel, 0), 480, 380);
            verify(travelling.visible);
            compare(target.drops.length, 0);
        }

        // Samples

        function writeSample(name) {
            verify(testHost.writeFile(samplesFolder + "/" + name, "RIFF"));
        }

        function test_opening_the_tab_lists_files_added_and_removed_on_disk() {
            const panel = makePanel();
            writeSample("kick.wav");
            writeSample("Snare.WAV");
            writeSample("notes.txt");
            panel.tab = 2;
            compare(tabOf(panel).rows, ["kick.wav", "Snare.WAV"]);
            verify(testHost.removeFile(samplesFolder + "/kick.wav"));
            writeSample("clap.wav");
            // Between the other two tabs the folder is not read.
            mouseClick(part(panel, "tab0"));
            mouseClick(part(panel, "tab1"));
            compare(project.sampleFiles, ["kick.wav", "Snare.WAV"]);
            mouseClick(part(panel, "tab2"));
            compare(tabOf(panel).rows, ["clap.wav", "Snare.WAV"]);
            // Already on the tab: no new listing.
            writeSample("hat.wav");
            panel.tab = 2;
            compare(tabOf(panel).rows, ["clap.wav", "Snare.WAV"]);
        }

        function test_a_sample_shows_without_its_extension_but_keeps_it_elsewhere() {
            writeSample("Snare.WAV");
            project.refreshSamples();
            const panel = makePanel(2);
            const row = rowAt(panel, 0);
            compare(part(row, "rowLabel").text, "Snare");
            compare(row.Accessible.name, "Snare.WAV");
            compare(part(row, "dragLabelText").text, "Snare.WAV");
            mouseMove(row, 30, 10);
            tryCompare(app, "helpText", "Drag “Snare.WAV” onto an audio track to put it there, or double-click to add it at the playhead.");
        }

        function test_the_samples_search_matches_the_extension_and_finds_nothing() {
            writeSample("kick.wav");
            writeSample("Snare.WAV");
            project.refreshSamples();
            const panel = makePanel(2);
            search(panel, "WAV");
            compare(tabOf(panel).rows, ["kick.wav", "Snare.WAV"]);
            search(panel, "sn");
            compare(tabOf(panel).rows, ["Snare.WAV"]);
            search(panel, "zzzz");
            const empty = part(panel, "emptySamples");
            verify(empty.visible);
            compare(part(empty, "emptyText").text, "Nothing matches.");
            verify(!part(empty, "showSamplesFolder").visible);
            verify(!part(empty, "refreshSamples").visible);
        }

        function test_an_empty_folder_shows_the_note_and_its_buttons() {
            const panel = makePanel(2);
            const empty = part(panel, "emptySamples");
            verify(empty.visible);
            compare(part(empty, "emptyText").text, "No sound files yet. Copy .wav files into the samples folder and they show up here.");
            verify(part(empty, "showSamplesFolder").visible);
            const refresh = part(empty, "refreshSamples");
            verify(refresh.visible);
            writeSample("late.wav");
            mouseClick(refresh);
            compare(tabOf(panel).rows, ["late.wav"]);
            verify(!empty.visible);
        }

        function test_show_samples_folder_asks_the_project() {
            testHost.replaceContextObject("project", standInProject);
            standInProject.foldersOpened = 0;
            const panel = makePanel(2);
            mouseClick(part(panel, "showSamplesFolder"));
            compare(standInProject.foldersOpened, 1);
        }

        function test_a_sample_double_click_asks_for_it_and_a_click_does_nothing() {
            writeSample("Loop 1.wav");
            project.refreshSamples();
            const panel = makePanel(2);
            loadSpy.target = panel;
            loadSpy.signalName = "loadSample";
            loadSpy.clear();
            mouseClick(rowAt(panel, 0));
            compare(loadSpy.count, 0);
            mouseDoubleClickSequence(rowAt(panel, 0), 40, 14);
            compare(loadSpy.count, 1);
            compare(loadSpy.signalArguments[0][0], "Loop 1.wav");
        }

        function test_dragging_a_sample_carries_its_full_file_name() {
            writeSample("Bass Hit.WAV");
            project.refreshSamples();
            target.keys = ["ostrel/sample"];
            const panel = makePanel(2);
            dragRow(rowAt(panel, 0), 480, 380);
            compare(target.drops.length, 1);
            compare(target.drops[0].keys, ["ostrel/sample"]);
            compare(target.drops[0].fileName, "Bass Hit.WAV");
        }
    }
}
