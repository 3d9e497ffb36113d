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

        // A named part of the window, or of one of its items.
        function part(owner, name) {
            const found = findChild(owner.contentItem !== undefined ? owner.contentItem.parent : owner, name);
            verify(found, "no " + name);
            return found;
        }

        function test_window_size_and_title() {
            const window = makeWindow();
            compare(window.width, 1320);
            compare(window.height, 860);
            compare(window.minimumWidth, 940);
            compare(window.minimumHeight, 500);
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

        // The window-wide shortcuts

        function test_track_shortcuts_make_and_select_a_track_data() {
            return [{tag: "Ctrl+T", modifiers: Qt.ControlModifier, kind: "midi"},
                    {tag: "Ctrl+Shift+T", modifiers: Qt.ControlModifier | Qt.ShiftModifier, kind: "audio"}];
        }

        function test_track_shortcuts_make_and_select_a_track(data) {
            const window = makeWindow();
            keyClick(Qt.Key_T, data.modifiers);
            compare(project.tracks.length, 1);
            compare(project.tracks[0].kind, data.kind);
            compare(window.timelineView.selectedTrack, project.tracks[0].id);
        }

        function test_file_shortcuts_save_and_start_anew() {
            const window = makeWindow();
            project.renameProject("Keys");
            keyClick(Qt.Key_S, Qt.ControlModifier);
            verify(testHost.fileExists(project.projectsDirectory + "/Keys.ostproj"));
            verify(!project.dirty);
            keyClick(Qt.Key_N, Qt.ControlModifier);
            compare(project.name, "Untitled");
            testHost.emptyFolder(project.projectsDirectory);
        }

        function test_loop_and_pane_shortcuts_flip_and_flip_back() {
            const window = makeWindow();
            keyClick(Qt.Key_L, Qt.ControlModifier);
            verify(transport.loopEnabled);
            keyClick(Qt.Key_L, Qt.ControlModifier);
            verify(!transport.loopEnabled);
            keyClick(Qt.Key_B, Qt.ControlModifier | Qt.AltModifier);
            verify(!window.showBrowser);
            verify(!part(window, "browser").visible);
            keyClick(Qt.Key_D, Qt.ControlModifier | Qt.AltModifier);
            verify(!window.showDetail);
            verify(!part(window, "detail").visible);
            keyClick(Qt.Key_B, Qt.ControlModifier | Qt.AltModifier);
            keyClick(Qt.Key_D, Qt.ControlModifier | Qt.AltModifier);
            verify(window.showBrowser && window.showDetail);
        }

        function test_zoom_shortcuts_zoom_the_timeline() {
            const window = makeWindow();
            const timeline = window.timelineView;
            const before = timeline.ppb;
            keyClick(Qt.Key_Equal, Qt.ControlModifier);
            fuzzyCompare(timeline.ppb, before * 1.3, 1e-9);
            keyClick(Qt.Key_Minus, Qt.ControlModifier);
            fuzzyCompare(timeline.ppb, before, 1e-9);
        }

        function test_a_text_field_keeps_its_own_undo() {
            const window = makeWindow();
            project.renameProject("Kept");
            keyClick(Qt.Key_Comma, Qt.ControlModifier);
            const field = part(window, "searchField");
            mouseClick(field);
            keyClick(Qt.Key_A);
            keyClick(Qt.Key_Z, Qt.ControlModifier);
            compare(field.text, "");
            compare(project.name, "Kept");
        }

        // Loading from the browser

        function test_an_instrument_goes_to_a_new_track_without_a_selection() {
            const window = makeWindow();
            const browser = part(window, "browser");
            const patch = instrument.patchNames[instrument.patchNames.length - 1];
            browser.loadInstrument(patch);
            compare(project.tracks.length, 1);
            compare(window.timelineView.selectedTrack, project.tracks[0].id);
            compare(browser.selectedTrack, project.tracks[0].id);
            compare(project.trackInstrument(project.tracks[0].id), patch);
            compare(instrument.patchName, patch);
            // With a track selected, no new track is made.
            browser.loadInstrument(instrument.patchNames[0]);
            compare(project.tracks.length, 1);
            compare(instrument.patchName, instrument.patchNames[0]);
        }

        function test_a_sample_lands_on_the_later_audio_track_at_the_playhead() {
            const window = makeWindow();
            verify(testHost.writeSound(project.samplesDirectory + "/Clap.wav", 0.5));
            project.refreshSamples();
            const first = project.addAudioTrack();
            project.addTrack();
            const second = project.addAudioTrack();
            project.addTrack();
            transport.setStartBeat(6);
            part(window, "browser").loadSample("Clap.wav");
            compare(window.timelineView.selectedTrack, second);
            const track = project.tracks.find(t => t.id === second);
            compare(track.clipList.length, 1);
            compare(track.clipList[0].start, 6);
            compare(project.tracks.find(t => t.id === first).clipList.length, 0);
        }

        function test_a_sample_without_an_audio_track_makes_one() {
            const window = makeWindow();
            verify(testHost.writeSound(project.samplesDirectory + "/Clap.wav", 0.5));
            project.refreshSamples();
            project.addTrack();
            part(window, "browser").loadSample("Clap.wav");
            compare(project.tracks.length, 2);
            compare(project.tracks[1].kind, "audio");
            compare(project.tracks[1].clipList.length, 1);
            compare(window.timelineView.selectedTrack, project.tracks[1].id);
        }

        function test_an_effect_goes_to_the_last_track_and_shows_the_chain() {
            const window = makeWindow();
            const detail = window.detailView;
            project.addAudioTrack();
            const last = project.addTrack();
            window.showDetail = false;
            detail.tab = 1;
            part(window, "browser").loadEffect("ostrel.delay", "");
            compare(window.timelineView.selectedTrack, last);
            verify(window.showDetail);
            compare(detail.tab, 0);
        }

        function test_an_effect_without_tracks_makes_a_midi_track() {
            const window = makeWindow();
            part(window, "browser").loadEffect("ostrel.reverb", "Big Hall");
            compare(project.tracks.length, 1);
            compare(project.tracks[0].kind, "midi");
            compare(window.timelineView.selectedTrack, project.tracks[0].id);
        }

        // Recording

        function test_record_button_starts_on_a_new_track_and_stops() {
            const window = makeWindow();
            const record = part(window, "recordButton");
            mouseClick(record);
            compare(project.tracks.length, 1);
            const track = project.tracks[0].id;
            compare(window.timelineView.selectedTrack, track);
            if (!project.recording)
                skip("recording is not in this build yet");
            compare(project.trackInstrument(track), instrument.patchName);
            // Stopping only stops: no track is made or selected.
            window.timelineView.selectedTrack = "";
            mouseClick(record);
            verify(!project.recording);
            compare(project.tracks.length, 1);
            compare(window.timelineView.selectedTrack, "");
        }

        // Themes

        function test_picking_a_theme_writes_the_setting_and_the_window_follows() {
            testHost.applyLiveSettings(true);
            const window = makeWindow();
            window.pickTheme("light");
            compare(settings.value("appearance.theme"), "light");
            compare(theme.currentId, "light");
            tryVerify(() => Qt.colorEqual(window.color, theme.colors.background));
            window.pickTheme("graphite");
            compare(theme.currentId, "graphite");
            testHost.applyLiveSettings(false);
        }

        // A theme given on the command line is shown but not stored: picking the stored one
        // changes no setting, and must still put it in use.
        function test_picking_the_stored_theme_over_a_shown_one_puts_it_in_use() {
            testHost.applyLiveSettings(true);
            const window = makeWindow();
            settings.setValue("appearance.theme", "graphite");
            theme.currentId = "light";
            window.pickTheme("graphite");
            compare(theme.currentId, "graphite");
            testHost.applyLiveSettings(false);
        }

        function test_a_built_in_theme_clears_the_users_theme() {
            const window = makeWindow();
            settings.setValue("appearance.custom_theme", "mine");
            window.pickTheme("steel");
            compare(settings.value("appearance.theme"), "steel");
            compare(settings.value("appearance.custom_theme"), "");
            settings.setValue("appearance.theme", "graphite");
        }

        // The instrument screen follows the selected track

        function test_selecting_a_track_hands_its_instrument_over_once() {
            const window = makeWindow();
            const timeline = window.timelineView;
            verify(testHost.writeSound(project.samplesDirectory + "/Clap.wav", 0.5));
            project.refreshSamples();
            const sampled = project.addTrack();
            project.dropSample(sampled, "Clap.wav", 0);
            compare(project.trackInstrument(sampled), "Sampler");
            const audioTrack = project.addAudioTrack();
            const bare = project.addTrack();
            const spy = patchSpy;
            spy.clear();

            timeline.selectedTrack = sampled;
            verify(window.lastPlayKey.startsWith("Sampler|"), window.lastPlayKey);
            const handed = spy.count;
            verify(handed > 0);
            // A change that leaves the instrument alone hands nothing over.
            project.setTempo(90);
            compare(spy.count, handed);
            // An audio track and a track without an instrument leave the screen as it was.
            const key = window.lastPlayKey;
            timeline.selectedTrack = audioTrack;
            timeline.selectedTrack = bare;
            compare(spy.count, handed);
            compare(window.lastPlayKey, "");
            // Coming back hands it over again.
            timeline.selectedTrack = sampled;
            compare(window.lastPlayKey, key);
            verify(spy.count > handed);
        }

        // The timeline's and the detail panel's signals

        function test_a_selected_clip_opens_the_piano_roll_or_the_effects() {
            const window = makeWindow();
            const timeline = window.timelineView;
            const detail = window.detailView;
            const midi = project.addTrack();
            const audioTrack = project.addAudioTrack();
            timeline.clipSelected("some-clip", midi);
            compare(detail.tab, 2);
            timeline.clipSelected("", midi);
            compare(detail.tab, 0);
            timeline.clipSelected("some-clip", audioTrack);
            compare(detail.tab, 0);
            // The log stays when the clip selection goes.
            detail.tab = 1;
            timeline.clipSelected("", midi);
            compare(detail.tab, 1);
        }

        function test_panel_signals_reach_the_window() {
            const window = makeWindow();
            const timeline = window.timelineView;
            const detail = window.detailView;
            window.showDetail = false;
            detail.tab = 2;
            timeline.showEffects();
            verify(window.showDetail);
            compare(detail.tab, 0);
            detail.tab = 1;
            timeline.effectsAdded();
            compare(detail.tab, 0);
            detail.stepClipCreated("made-by-the-grid");
            compare(timeline.selectedClip, "made-by-the-grid");
            compare(detail.pianoClipId, "made-by-the-grid");
            detail.openMidiSettings();
            const sheet = part(window, "settingsPanel");
            verify(sheet.visible);
            compare(sheet.page, "midi");
        }

        // Through the real panels, with real events

        // A part of a panel, once rows replaced by a project change are built again.
        function built(item, name) {
            wait(0);
            return part(item, name);
        }

        // The browser's row of that name in the list now shown, scrolled into view.
        function browserRow(browser, name) {
            const tab = part(browser, ["instrumentsTab", "effectsTab", "samplesTab"][browser.tab]);
            const index = tab.rows.findIndex(row => (row.name !== undefined ? row.name : row) === name);
            verify(index >= 0, "no row " + name);
            tab.list.positionViewAtIndex(index, ListView.Contain);
            tab.list.forceLayout();
            const item = tab.list.itemAtIndex(index);
            verify(item, "no row item " + name);
            return item;
        }

        function test_a_clip_clicked_in_the_timeline_opens_its_piano_roll() {
            const window = makeWindow();
            const timeline = window.timelineView;
            const detail = window.detailView;
            const browser = part(window, "browser");
            verify(testHost.writeSound(project.samplesDirectory + "/Clap.wav", 0.5));
            project.refreshSamples();
            const midi = project.addTrack();
            const clip = project.addEmptyClip(midi, 0, 4);
            project.addNote(midi, clip, 60, 100, 0, 1);
            const take = project.addAudioTrack();
            project.addAudioClip(take, "Clap.wav", 8);
            const sound = project.tracks.find(t => t.id === take).clipList[0].id;

            mouseClick(built(window, "clip_" + clip), 20, 20);
            compare(timeline.selectedTrack, midi);
            compare(timeline.selectedClip, clip);
            compare(browser.selectedTrack, midi);
            compare(detail.deviceTrackId, midi);
            compare(detail.tab, 2);
            compare(detail.pianoRoll.trackId, midi);
            compare(detail.pianoRoll.clipId, clip);
            verify(detail.pianoRoll.visible);
            verify(!detail.playCard.visible);

            // A sound clip shows its track's effect chain instead.
            mouseClick(built(window, "clip_" + sound), 10, 20);
            compare(timeline.selectedTrack, take);
            compare(detail.pianoClipId, sound);
            compare(detail.tab, 0);
            tryCompare(detail.playCard, "view", "fx");
            verify(detail.playCard.visible);

            // Back to the notes; deleting the clip gives the piano roll up.
            mouseClick(built(window, "clip_" + clip), 20, 20);
            compare(detail.tab, 2);
            keyClick(Qt.Key_Delete);
            compare(project.tracks.find(t => t.id === midi).clipList.length, 0);
            compare(timeline.selectedClip, "");
            compare(detail.tab, 0);
            compare(detail.pianoClipId, "");
        }

        function test_a_double_clicked_instrument_lands_on_the_track_clicked_in_the_timeline() {
            const window = makeWindow();
            const timeline = window.timelineView;
            const browser = part(window, "browser");
            project.addTrack();
            const second = project.addTrack();
            mouseClick(part(built(window, "trackRow_1"), "trackHeader"), 150, 64);
            compare(timeline.selectedTrack, second);
            compare(browser.selectedTrack, second);

            mouseDoubleClickSequence(browserRow(browser, "Modular Pad"), 40, 15);
            compare(project.tracks.length, 2);
            compare(project.trackInstrument(second), "Modular Pad");
            compare(project.trackInstrument(project.tracks[0].id), "");
            compare(instrument.patchName, "Modular Pad");
            compare(timeline.selectedTrack, second);
        }

        function test_a_double_clicked_effect_lands_on_the_selected_track_and_shows_the_chain() {
            const window = makeWindow();
            const detail = window.detailView;
            const browser = part(window, "browser");
            const first = project.addTrack();
            project.addTrack();
            mouseClick(part(built(window, "trackRow_0"), "trackHeader"), 150, 64);
            detail.tab = 1;
            mouseClick(part(browser, "tab1"));
            compare(browser.tab, 1);
            mouseDoubleClickSequence(browserRow(browser, "Delay"), 40, 14);
            const devices = project.tracks.find(t => t.id === first).deviceList;
            compare(devices.length, 1);
            compare(devices[0].deviceId, "ostrel.delay");
            compare(project.tracks[1].devices, 0);
            compare(detail.tab, 0);
            tryCompare(detail.playCard, "view", "fx");
            compare(detail.deviceTrackId, first);
        }

        function test_a_double_clicked_sound_lands_on_the_selected_track_at_the_playhead() {
            const window = makeWindow();
            const browser = part(window, "browser");
            verify(testHost.writeSound(project.samplesDirectory + "/Clap.wav", 0.5));
            project.refreshSamples();
            const take = project.addAudioTrack();
            project.addAudioTrack();
            transport.setStartBeat(4);
            mouseClick(part(built(window, "trackRow_0"), "trackHeader"), 150, 64);
            mouseClick(part(browser, "tab2"));
            mouseDoubleClickSequence(browserRow(browser, "Clap.wav"), 60, 14);
            const clips = project.tracks.find(t => t.id === take).clipList;
            compare(clips.length, 1);
            compare(clips[0].start, 4);
            compare(project.tracks[1].clipList.length, 0);
        }

        function test_the_play_card_works_on_the_track_clicked_and_asks_for_the_midi_page() {
            const window = makeWindow();
            const card = window.detailView.playCard;
            project.addTrack();
            const second = project.addTrack();
            mouseClick(part(built(window, "trackRow_1"), "trackHeader"), 150, 64);
            compare(card.dropTrackId, second);
            compare(card.sequencerTrackId, second);
            compare(card.fxTrackId, second);

            const sheet = part(window, "settingsPanel");
            verify(!sheet.visible);
            mouseClick(part(card, "midiButton"), 10, 10);
            verify(sheet.visible);
            compare(sheet.page, "midi");
        }

        // The start-up's menu and demonstrations

        function test_open_menu_pops_up_the_menu_under_its_title() {
            const window = makeWindow();
            window.openMenu(7);
            for (let i = 0; i < 5; ++i)
                verify(!window.menuBar.menuAt(i).visible);
            window.openMenu(2);
            const menu = window.menuBar.menuAt(2);
            tryVerify(() => menu.opened);
            const title = window.menuBar.itemAt(2);
            compare(menu.contentItem.parent.mapToItem(null, 0, 0).x >= title.mapToItem(null, 0, 0).x - 1, true);
            keyClick(Qt.Key_Escape);
        }

        function test_demonstration_functions_select_and_show() {
            const window = makeWindow();
            const timeline = window.timelineView;
            const detail = window.detailView;
            const browser = part(window, "browser");
            const ids = [project.addTrack(), project.addTrack(), project.addTrack()];
            const clip = project.addEmptyClip(ids[0], 0, 4);

            window.showDetail = false;
            window.showDevicesDemo();
            compare(timeline.selectedTrack, ids[2]);
            verify(window.showDetail);
            compare(detail.tab, 0);

            detail.tab = 1;
            window.showStepDemo();
            compare(timeline.selectedTrack, ids[0]);
            compare(timeline.selectedClip, clip);
            compare(detail.tab, 0);

            window.showSamplesDemo();
            compare(browser.tab, 2);
        }

        function test_fm_and_rack_demonstrations_select_the_last_such_track() {
            const window = makeWindow();
            const timeline = window.timelineView;
            const browser = part(window, "browser");
            const firstFm = project.addTrack();
            project.setTrackInstrument(firstFm, "FM E-Piano");
            const rack = project.addTrack();
            project.setTrackInstrument(rack, "Drum Rack");
            const lastFm = project.addTrack();
            project.setTrackInstrument(lastFm, "FM E-Piano");
            project.addTrack();

            window.showFmDemo();
            compare(timeline.selectedTrack, lastFm);
            compare(window.detailView.tab, 0);
            compare(browser.tab, 0);
            window.showRackDemo();
            compare(timeline.selectedTrack, rack);
            compare(browser.tab, 2);
        }

        SignalSpy {
            id: patchSpy

            target: instrument
            signalName: "patchChanged"
        }
    }
}
