import QtQuick
import QtTest
import Ostrel.App

Item {
    id: stage

    width: 200
    height: 100

    Component { id: mainComponent; Main {} }

    TestCase {
        id: testCase

        name: "MainMenu"
        when: windowShown

        readonly property int fileMenu: 0
        readonly property int editMenu: 1
        readonly property int viewMenu: 2
        readonly property int optionsMenu: 3
        readonly property int helpMenu: 4

        function init() {
            testHost.resetControllers();
            testHost.applyLiveSettings(true);
            settings.setValue("appearance.reduce_motion", true);
            settings.setValue("appearance.show_help_strip", true);
            app.helpText = "";
        }

        function cleanup() {
            wait(0);
            settings.setValue("appearance.theme", "graphite");
            settings.setValue("appearance.custom_theme", "");
            testHost.applyLiveSettings(false);
            testHost.resetControllers();
            settings.resetToDefault("appearance.show_help_strip");
            testHost.emptyFolder(project.projectsDirectory);
        }

        function makeWindow() {
            const window = createTemporaryObject(mainComponent, stage);
            verify(window);
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

        // Opens menu `index` by clicking its title in the bar.
        function openBarMenu(window, index) {
            const bar = window.menuBar;
            mouseClick(bar.itemAt(index));
            const menu = bar.menuAt(index);
            tryVerify(() => menu.opened, 3000, "menu " + index + " did not open");
            return menu;
        }

        function entry(menu, name) {
            for (let i = 0; i < menu.count; ++i) {
                const each = menu.itemAt(i);
                if (each && each.objectName === name)
                    return each;
            }
            fail("no " + name);
            return null;
        }

        function entries(menu, name) {
            const found = [];
            for (let i = 0; i < menu.count; ++i) {
                const each = menu.itemAt(i);
                if (each && each.objectName === name)
                    found.push(each);
            }
            return found;
        }

        // Clicks an item of menu `index`; the menu closes.
        function choose(window, index, name) {
            const menu = openBarMenu(window, index);
            const item = entry(menu, name);
            verify(item.enabled, name + " is greyed");
            mouseClick(item);
            tryVerify(() => !menu.visible, 3000, "the menu stayed open");
        }

        // Opens the sub-menu behind the entry whose text is `title`.
        function openSubMenu(window, index, title) {
            const menu = openBarMenu(window, index);
            let line = null;
            for (let i = 0; i < menu.count; ++i) {
                const each = menu.itemAt(i);
                if (each && each.text === title)
                    line = each;
            }
            verify(line, "no " + title);
            mouseClick(line);
            const sub = line.subMenu;
            tryVerify(() => sub.opened, 3000, title + " did not open");
            return sub;
        }

        function test_bar_lists_the_five_menus_in_order() {
            const window = makeWindow();
            const bar = window.menuBar;
            compare(bar.count, 5);
            compare([0, 1, 2, 3, 4].map(i => bar.menuAt(i).title), ["File", "Edit", "View", "Options", "Help"]);
            compare(bar.height, 30);
        }

        // A menu opened by the window's function once left its title unmarked.
        function test_a_menu_opened_from_the_window_marks_its_title_until_it_closes() {
            const window = makeWindow();
            const bar = window.menuBar;
            const background = i => findChild(bar.itemAt(i), "menuBarItemBackground");
            window.openMenu(2);
            tryVerify(() => bar.menuAt(2).opened);
            verify(Qt.colorEqual(background(2).color, theme.colors.surfaceRaised));
            verify(Qt.colorEqual(background(1).color, "transparent"));
            keyClick(Qt.Key_Escape);
            tryVerify(() => !bar.menuAt(2).visible);
            verify(Qt.colorEqual(background(2).color, "transparent"));
        }

        // File

        function test_new_project_needs_a_second_choice_with_unsaved_changes() {
            const window = makeWindow();
            project.renameProject("Night drive");
            choose(window, fileMenu, "newProjectItem");
            compare(project.name, "Night drive");
            choose(window, fileMenu, "newProjectItem");
            compare(project.name, "Untitled");
        }

        function test_save_then_open_from_the_sub_menu() {
            const window = makeWindow();
            let sub = openSubMenu(window, fileMenu, "Open project");
            const none = entry(sub, "noProjectsItem");
            verify(none.visible);
            verify(!none.enabled);
            compare(entries(sub, "projectItem").length, 0);
            keyClick(Qt.Key_Escape);
            keyClick(Qt.Key_Escape);

            project.renameProject("Song");
            choose(window, fileMenu, "saveProjectItem");
            verify(testHost.fileExists(project.projectsDirectory + "/Song.ostproj"));
            verify(!project.dirty);
            project.newProject();
            compare(project.name, "Untitled");

            sub = openSubMenu(window, fileMenu, "Open project");
            const items = entries(sub, "projectItem");
            compare(items.length, 1);
            compare(items[0].text, "Song");
            compare(items[0].help, "Open Song.ostproj");
            compare(entry(sub, "noProjectsItem").height, 0);
            mouseClick(items[0]);
            compare(project.name, "Song");
        }

        function test_render_to_wav_writes_into_the_exports_folder() {
            const window = makeWindow();
            project.renameProject("Rendered");
            project.addPattern(project.addTrack());
            choose(window, fileMenu, "renderItem");
            tryVerify(() => testHost.fileExists(project.exportsDirectory + "/Rendered.wav"), 20000,
                      "no export");
        }

        // Edit

        function test_undo_and_redo_items_name_the_change() {
            const window = makeWindow();
            let menu = openBarMenu(window, editMenu);
            const undo = entry(menu, "undoItem");
            const redo = entry(menu, "redoItem");
            compare(undo.text, "Undo");
            verify(!undo.enabled);
            compare(redo.text, "Redo");
            keyClick(Qt.Key_Escape);

            project.setTempo(100);
            compare(undo.text, "Undo " + project.undoText);
            verify(undo.text.length > "Undo ".length);
            choose(window, editMenu, "undoItem");
            compare(project.tempo, 120);
            compare(redo.text, "Redo " + project.redoText);
            choose(window, editMenu, "redoItem");
            compare(project.tempo, 100);
        }

        function test_clip_commands_are_greyed_without_a_selected_clip() {
            const window = makeWindow();
            const menu = openBarMenu(window, editMenu);
            for (const name of ["splitItem", "duplicateItem", "deleteItem"])
                verify(!entry(menu, name).enabled, name);
            keyClick(Qt.Key_Escape);
        }

        function test_clip_commands_reach_the_selected_clip() {
            const window = makeWindow();
            const timeline = window.timelineView;
            const track = project.addTrack();
            const clip = project.addEmptyClip(track, 0, 8);
            timeline.selectedTrack = track;
            timeline.selectedClip = clip;
            transport.setStartBeat(2);

            choose(window, editMenu, "splitItem");
            compare(project.tracks[0].clipList.length, 2);
            compare(project.tracks[0].clipList[0].length, 2);
            // A split leaves no clip selected; the left part keeps the clip's id.
            compare(timeline.selectedClip, "");
            timeline.selectedClip = clip;

            choose(window, editMenu, "duplicateItem");
            compare(project.tracks[0].clipList.length, 3);
            verify(timeline.selectedClip !== clip);

            choose(window, editMenu, "deleteItem");
            compare(project.tracks[0].clipList.length, 2);
            compare(timeline.selectedClip, "");
        }

        function test_add_track_items_make_and_select_a_track_data() {
            return [{tag: "MIDI", name: "addMidiTrackItem", kind: "midi"},
                    {tag: "audio", name: "addAudioTrackItem", kind: "audio"}];
        }

        function test_add_track_items_make_and_select_a_track(data) {
            const window = makeWindow();
            choose(window, editMenu, data.name);
            compare(project.tracks.length, 1);
            compare(project.tracks[0].kind, data.kind);
            compare(window.timelineView.selectedTrack, project.tracks[0].id);
        }

        // View

        function test_panel_items_toggle_the_panes_and_their_ticks() {
            const window = makeWindow();
            const browser = part(window, "browser");
            const detail = part(window, "detail");
            let menu = openBarMenu(window, viewMenu);
            verify(entry(menu, "browserItem").checked);
            verify(entry(menu, "detailItem").checked);
            keyClick(Qt.Key_Escape);

            choose(window, viewMenu, "browserItem");
            verify(!window.showBrowser);
            verify(!browser.visible);
            verify(!entry(window.menuBar.menuAt(viewMenu), "browserItem").checked);
            choose(window, viewMenu, "detailItem");
            verify(!window.showDetail);
            verify(!detail.visible);
            // The shortcut moves the tick too: it shows the window's state.
            keyClick(Qt.Key_B, Qt.ControlModifier | Qt.AltModifier);
            verify(window.showBrowser);
            verify(entry(window.menuBar.menuAt(viewMenu), "browserItem").checked);
            choose(window, viewMenu, "detailItem");
            verify(window.showDetail);
            verify(entry(window.menuBar.menuAt(viewMenu), "detailItem").checked);
        }

        function test_help_strip_item_switches_the_setting() {
            const window = makeWindow();
            const strip = part(window, "helpStrip");
            choose(window, viewMenu, "helpStripItem");
            compare(settings.value("appearance.show_help_strip"), false);
            verify(!strip.visible);
            verify(!entry(window.menuBar.menuAt(viewMenu), "helpStripItem").checked);
            choose(window, viewMenu, "helpStripItem");
            compare(settings.value("appearance.show_help_strip"), true);
            verify(strip.visible);
        }

        function test_view_items_show_the_detail_tabs_data() {
            return [{tag: "instrument", name: "instrumentTabItem", tab: 0},
                    {tag: "step grid", name: "stepGridItem", tab: 0},
                    {tag: "effects", name: "effectsItem", tab: 0},
                    {tag: "piano roll", name: "pianoTabItem", tab: 2},
                    {tag: "log", name: "logTabItem", tab: 1}];
        }

        function test_view_items_show_the_detail_tabs(data) {
            const window = makeWindow();
            const detail = window.detailView;
            window.showDetail = false;
            detail.tab = data.tab === 1 ? 2 : 1;
            choose(window, viewMenu, data.name);
            verify(window.showDetail);
            compare(detail.tab, data.tab);
        }

        function test_zoom_items_zoom_the_timeline() {
            const window = makeWindow();
            const timeline = window.timelineView;
            const before = timeline.ppb;
            choose(window, viewMenu, "zoomInItem");
            fuzzyCompare(timeline.ppb, before * 1.3, 1e-9);
            choose(window, viewMenu, "zoomOutItem");
            fuzzyCompare(timeline.ppb, before, 1e-9);
        }

        // Options

        function test_settings_items_open_their_pages_data() {
            return [{tag: "audio", name: "audioDeviceItem", page: "audio"},
                    {tag: "midi", name: "midiKeyboardItem", page: "midi"}];
        }

        function test_settings_items_open_their_pages(data) {
            const window = makeWindow();
            const sheet = part(window, "settingsPanel");
            choose(window, optionsMenu, data.name);
            verify(sheet.visible);
            compare(sheet.page, data.page);
            keyClick(Qt.Key_Escape);
            verify(!sheet.visible);
            // Settings… shows the page shown last.
            choose(window, optionsMenu, "settingsItem");
            verify(sheet.visible);
            compare(sheet.page, data.page);
        }

        function test_theme_sub_menu_lists_every_theme_and_switches() {
            const window = makeWindow();
            let sub = openSubMenu(window, optionsMenu, "Theme");
            let items = entries(sub, "themeItem");
            compare(items.map(item => item.text), theme.themeIds.map(id => theme.nameForId(id)));
            compare(items.filter(item => item.checked).map(item => item.text), [theme.nameForId("graphite")]);
            const light = items[theme.themeIds.indexOf("light")];
            compare(light.help, "Switch the look of the whole app to “" + theme.nameForId("light")
                    + "”. Colours come from a theme file, so you can add your own.");
            mouseClick(light);
            compare(theme.currentId, "light");
            compare(settings.value("appearance.theme"), "light");
            tryVerify(() => Qt.colorEqual(window.color, theme.colors.background));
            verify(items[theme.themeIds.indexOf("light")].checked);
            verify(!items[theme.themeIds.indexOf("graphite")].checked);

            // Choosing the current theme again keeps its tick.
            sub = openSubMenu(window, optionsMenu, "Theme");
            items = entries(sub, "themeItem");
            mouseClick(items[theme.themeIds.indexOf("light")]);
            compare(theme.currentId, "light");
            verify(items[theme.themeIds.indexOf("light")].checked);
        }

        function test_metronome_and_loop_items_flip_the_transport() {
            const window = makeWindow();
            choose(window, optionsMenu, "metronomeItem");
            verify(transport.metronome);
            verify(entry(window.menuBar.menuAt(optionsMenu), "metronomeItem").checked);
            choose(window, optionsMenu, "loopItem");
            verify(transport.loopEnabled);
            choose(window, optionsMenu, "metronomeItem");
            verify(!transport.metronome);
            verify(!entry(window.menuBar.menuAt(optionsMenu), "metronomeItem").checked);
            choose(window, optionsMenu, "loopItem");
            verify(!transport.loopEnabled);
        }

        // Help

        function test_about_opens_the_about_page() {
            const window = makeWindow();
            choose(window, helpMenu, "aboutItem");
            const sheet = part(window, "settingsPanel");
            verify(sheet.visible);
            compare(sheet.page, "about");
        }

        function test_write_test_error_reaches_the_log() {
            const window = makeWindow();
            const spy = createTemporaryObject(spyComponent, testCase, {target: app, signalName: "logChanged"});
            choose(window, helpMenu, "testErrorItem");
            // The log panel reads the log again.
            verify(spy.count > 0);
        }

        // The help strip

        function test_a_highlighted_item_explains_itself_and_the_bar_clears_it() {
            const window = makeWindow();
            const help = part(window, "helpText");
            const menu = openBarMenu(window, fileMenu);
            const save = entry(menu, "saveProjectItem");
            mouseMove(save, save.width / 2, save.height / 2);
            tryCompare(help, "text", "Save the project as a .ostproj file in your projects folder.");
            const bar = window.menuBar.itemAt(fileMenu);
            mouseMove(bar, bar.width / 2, bar.height / 2);
            tryCompare(help, "text", "Point at anything to see what it does.");
            keyClick(Qt.Key_Escape);
        }

        Component {
            id: spyComponent

            SignalSpy {}
        }
    }
}
