import QtQuick
import QtQuick.Layouts
import QtTest
import Ostrel.App

// The gallery: every scene a person sees, in every built-in theme, saved as pictures to look
// at (testHost.galleryFolder, or $OSTREL_GALLERY_DIR): the controls, the play card, the
// browser and the log, the effects view with the instrument cards, the arrangement, every
// page of the Settings sheet, and the window at its first size. Each scene also fails when a
// text that should fit is cut off.
Item {
    id: stage

    // As large as the largest scene, so every picture is whole.
    width: 1500
    height: 900

    QtObject {
        id: playingTransport

        property bool playing: true
        property real tempo: 128
        property string positionText: "12.3.4"
        property int beat: 3
        property bool metronome: true
        property bool loopEnabled: true

        function togglePlay() {}
        function nudgeTempo(delta) {}
        function tap() {}
        function setMetronome(on) {}
        function setLoopEnabled(on) {}
    }

    QtObject {
        id: busyAudio

        property bool engineRunning: true
        property real cpuPercent: 83.2
    }

    Component {
        id: controlsComponent

        Rectangle {
            property alias menu: menu
            property alias focusedKnob: focusedKnob

            width: 1280
            height: 900
            color: theme.colors.background

            ColumnLayout {
                x: theme.spacing * 2
                y: theme.spacing * 2
                spacing: theme.spacing * 2

                Text {
                    text: theme.currentName
                    color: theme.colors.text
                    font.family: theme.fontFamily
                    font.pixelSize: theme.baseFontSize + 4
                    font.bold: true
                }

                RowLayout {
                    spacing: theme.spacing

                    FlatButton { text: "OK" }
                    FlatButton { text: "Save project"; primary: true }
                    FlatButton { text: "Loop"; selected: true }
                    FlatButton { text: "Synth"; iconName: "synth" }
                    FlatButton { text: "Export"; iconName: "fx"; primary: true }
                    FlatButton { text: "Drums"; iconName: "drums"; selected: true }
                    FlatButton { text: "Sampler"; iconName: "sampler"; textAlign: Text.AlignLeft; Layout.preferredWidth: 180 }
                    FlatButton { text: "Disabled"; enabled: false }
                }

                RowLayout {
                    spacing: theme.spacing * 2

                    Toggle {}
                    Toggle { checked: true }
                    Toggle { checked: true; enabled: false }
                    Segmented {
                        options: [{value: "1", label: "1 bar"}, {value: "2", label: "2 bars"}, {value: "4", label: "4 bars"}]
                        current: "2"
                    }
                    FlatSlider { from: 0; to: 1; value: 0.3 }
                    FlatSlider { from: 0; to: 1; value: 0.8; enabled: false; implicitWidth: 120 }
                }

                RowLayout {
                    spacing: theme.spacing * 2

                    FlatTextField { text: "My first song"; implicitWidth: 200 }
                    FlatTextField { placeholderText: "Search settings"; implicitWidth: 200 }
                    FlatTextField { text: "Disabled"; enabled: false; implicitWidth: 160 }
                }

                RowLayout {
                    spacing: theme.spacing * 2

                    Card {
                        implicitWidth: 260
                        implicitHeight: 90

                        Text {
                            anchors.centerIn: parent
                            text: "A card groups controls"
                            color: theme.colors.text
                            font.family: theme.fontFamily
                            font.pixelSize: theme.baseFontSize
                        }
                    }

                    Panel {
                        implicitWidth: 260
                        implicitHeight: 90

                        Text {
                            anchors.centerIn: parent
                            text: "Panels tile edge to edge"
                            color: theme.colors.textMuted
                            font.family: theme.fontFamily
                            font.pixelSize: theme.baseFontSize
                        }
                    }

                    GridLayout {
                        columns: 10
                        rowSpacing: theme.spacing
                        columnSpacing: theme.spacing

                        // Each icon at 20 in the text colour, then at 16 in the accent.
                        Repeater {
                            model: 20

                            CategoryIcon {
                                required property int index
                                category: ["synth", "bass", "pad", "drums", "fx", "modular", "fm", "sampler", "midi", "other"][index % 10]
                                size: index < 10 ? 20 : 16
                                color: index < 10 ? theme.colors.text : theme.colors.accent2
                            }
                        }
                    }
                }

                RowLayout {
                    spacing: theme.spacing * 2

                    Knob { value: 0 }
                    Knob { value: 0.5 }
                    Knob { value: 1 }
                    Knob { value: 0.25; bipolar: true }
                    Knob { value: 0.75; bipolar: true }
                    Knob { id: focusedKnob; value: 0.62 }
                    Knob { value: 440; from: 20; to: 2000; size: 60; format: v => Math.round(v) + " Hz" }
                }

                TransportBar {
                    Layout.preferredWidth: 1280 - theme.spacing * 4
                    Layout.preferredHeight: 48
                }
            }

            FlatMenu {
                id: menu

                x: 780
                y: 560

                FlatMenuItem { text: "Save project"; keys: "Ctrl+S" }
                FlatMenuItem { text: "Metronome"; checkable: true; checked: true }
                FlatMenuItem { text: "Loop"; checkable: true; keys: "Ctrl+L" }
                FlatMenuItem { text: "Undo"; keys: "Ctrl+Z"; enabled: false }
                FlatMenuSeparator {}
                FlatMenu {
                    title: "Theme"
                    FlatMenuItem { text: "Ostrel Dark" }
                }
            }
        }
    }

    Component {
        id: playComponent

        // The play card at the detail panel's usual size.
        Rectangle {
            property alias card: card

            width: 1260
            height: 340
            color: theme.colors.background

            Card {
                anchors.fill: parent
                anchors.margins: theme.spacing

                PlayCard {
                    id: card

                    anchors.fill: parent
                    anchors.margins: theme.spacing * 1.5
                }
            }
        }
    }

    Component {
        id: settingsComponent

        Rectangle {
            property alias panel: panel

            width: 1280
            height: 800
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

    Component {
        id: browserComponent

        Rectangle {
            property alias browser: browser
            property alias detail: detail

            width: 1240
            height: 760
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

    Component {
        id: devicesComponent

        Rectangle {
            property alias panel: panel

            width: 1500
            height: 340
            color: theme.colors.background

            Card {
                anchors.fill: parent
                anchors.margins: theme.spacing

                DevicesPanel {
                    id: panel

                    anchors.fill: parent
                    anchors.margins: theme.spacing
                }
            }
        }
    }

    Component {
        id: timelineComponent

        Rectangle {
            property alias view: view

            width: 1100
            height: 460
            color: theme.colors.background

            TimelineView {
                id: view

                x: 8
                y: 8
                width: parent.width - 16
                height: parent.height - 16
            }
        }
    }

    Component { id: windowComponent; Main {} }

    TestCase {
        id: testCase

        name: "Gallery"
        when: windowShown

        property string samplesFolder: ""
        property int idCounter: 0
        // The settings scenes set up keyboards, a patch and a theme file of the person's own.
        property bool settingsSetUp: false

        function initTestCase() {
            samplesFolder = project.samplesDirectory;
            verify(samplesFolder !== "");
        }

        function init() {
            settings.setValue("appearance.reduce_motion", true);
            testHost.resetControllers();
            idCounter = 0;
        }

        function cleanup() {
            wait(0);
            instrument.releaseAll();
            if (settingsSetUp) {
                midi.selectDevice("");
                testHost.setMidiInputs([]);
                midi.refreshDevices();
                instrument.selectPatch("Modular Lead");
                instrument.removeUserPatch("Warm Lead");
                settingsSetUp = false;
            }
            testHost.emptyFolder(testHost.exportFolder);
            theme.refreshImportFiles();
            testHost.emptyFolder(samplesFolder);
            testHost.removeFile(app.logFilePath);
            app.refreshLog();
            testHost.resetControllers();
            theme.currentId = "graphite";
        }

        // Text items that are cut off, with their text, but for those named as shortened by
        // design.
        function truncatedTexts(item, byDesign) {
            let found = [];
            if (item.visible === false)
                return found;
            if (item.truncated === true && (byDesign || []).indexOf(item.objectName) < 0)
                found.push(item.text);
            for (let i = 0; i < item.children.length; ++i)
                found = found.concat(truncatedTexts(item.children[i], byDesign));
            return found;
        }

        // Saves the picture of a scene once it is drawn, after checking that no text is cut
        // off but those named in `byDesign` and those `allowed` takes.
        function shoot(item, name, byDesign, allowed) {
            waitForRendering(item);
            compare(truncatedTexts(item, byDesign).filter(t => allowed === undefined || !allowed(t)), []);
            grabImage(item).save(testHost.galleryFolder + "/" + name + ".png");
        }

        // How far an item reaches below the top of `within`.
        function bottomIn(item, within) {
            return item.mapToItem(within, 0, item.height).y;
        }

        // Every scene in every built-in theme

        function test_every_scene_in_every_theme_data() {
            const rows = [];
            for (const id of theme.themeIds) {
                for (const scene of ["controls", "play card", "browser and log", "devices", "timeline"])
                    rows.push({tag: id + " " + scene, themeId: id, scene: scene});
                for (const page of ["appearance", "audio", "midi", "instrument", "api", "logging", "about", "search"])
                    rows.push({tag: id + " settings " + page, themeId: id, scene: "settings", page: page});
            }
            return rows;
        }

        function test_every_scene_in_every_theme(data) {
            theme.currentId = data.themeId;
            const scenes = {"controls": controlsScene, "play card": playCardScene, "browser and log": browserScene,
                            "devices": devicesScene, "timeline": timelineScene, "settings": settingsScene};
            scenes[data.scene](data);
        }

        // Every control in its states, then a playing, recording, busy clock and an open menu
        // with a highlighted item.
        function controlsScene(data) {
            const sheet = createTemporaryObject(controlsComponent, stage);
            verify(sheet);
            // The knob shows its value while it has the focus.
            sheet.focusedKnob.forceActiveFocus(Qt.TabFocusReason);
            shoot(sheet, data.themeId);

            testHost.replaceContextObject("project", testHost.projectStandIn);
            project.recording = true;
            testHost.replaceContextObject("transport", playingTransport);
            testHost.replaceContextObject("audio", busyAudio);
            sheet.menu.open();
            tryCompare(sheet.menu, "opened", true);
            keyClick(Qt.Key_Down);
            waitForRendering(sheet);
            compare(truncatedTexts(sheet.menu.contentItem), []);
            shoot(sheet, data.themeId + "-playing");
            sheet.menu.close();
        }

        // The play card with notes held on the piano, then a kit on the pads with one hit.
        function playCardScene(data) {
            const sheet = createTemporaryObject(playComponent, stage);
            verify(sheet);
            instrument.keyDown(4);
            instrument.padDown(63);
            instrument.padDown(67);
            // The status line's hint is long and elided by design.
            const hint = findChild(sheet, "statusLine").text;
            shoot(sheet, data.themeId + "-play-keys", [], t => t === hint);
            instrument.releaseAll();

            instrument.selectPatch("Modular Drums");
            instrument.padDown(38);
            waitForRendering(sheet);
            grabImage(sheet).save(testHost.galleryFolder + "/" + data.themeId + "-play-pads.png");
            instrument.releaseAll();
        }

        // The browser's three tabs and the detail panel's log.
        function browserScene(data) {
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
            // The long sample name is there to show how a name that does not fit ends.
            const save = (sheet, name) => shoot(sheet, data.themeId + "-" + name, [], t => t.startsWith("Vocal chop"));

            const sheet = createTemporaryObject(browserComponent, stage);
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

        // The effects view and the three instrument cards as a person sees them. Shortened by
        // design: a sound's long file name, in the middle, and a long preset name beside the
        // four buttons of a three-column card.
        function devicesScene(data) {
            for (const name of ["kick.wav", "Snare.WAV", "closed-hat.wav", "a-long-field-recording-of-rain.wav"])
                verify(testHost.writeSample(name));
            const sheet = createTemporaryObject(devicesComponent, stage);
            const shootCards = name => shoot(sheet, data.themeId + "-" + name, ["soundName", "effectPreset"]);

            // The empty states.
            shootCards("fx-no-track");
            const plain = project.addTrack();
            sheet.panel.trackId = plain;
            shootCards("fx-empty");

            // A chain: a preset, a wide card, a bypassed one, with a knob held.
            project.addDevice(plain, "ostrel.delay", "Slapback");
            project.addDevice(plain, "ostrel.eq", "Warm");
            const reverb = project.addDevice(plain, "ostrel.reverb", "");
            project.setDeviceEnabled(plain, reverb, false);
            project.addDevice(plain, "ostrel.compressor", "");
            findChild(findChild(findChild(sheet, "effectCard0"), "knob_time_ms"), "cellKnob").forceActiveFocus();
            shootCards("fx-chain");

            // The Sampler with a sound, looping, before a delay.
            const sampler = project.addTrack();
            project.setTrackInstrument(sampler, "Sampler");
            project.setSamplerSample(sampler, "a-long-field-recording-of-rain.wav");
            project.setSamplerParameter(sampler, "loop", 1);
            project.addDevice(sampler, "ostrel.delay", "");
            sheet.panel.trackId = sampler;
            shootCards("fx-sampler");
            project.setSamplerSample(sampler, "");
            shootCards("fx-sampler-empty");

            // The Drum Rack with three pads filled, one picked and one sounding.
            const rack = project.addTrack();
            project.setTrackInstrument(rack, "Drum Rack");
            project.setPad(rack, 36, "kick.wav");
            project.setPad(rack, 38, "Snare.WAV");
            project.setPad(rack, 42, "closed-hat.wav");
            project.addDevice(rack, "ostrel.compressor", "");
            sheet.panel.trackId = rack;
            const card = findChild(sheet, "drumRackCard");
            card.selectedNote = 38;
            instrument.padDown(42);
            shootCards("fx-drum-rack");
            instrument.releaseAll();

            // An FM instrument on the fourth algorithm.
            const fm = project.addTrack();
            project.setTrackInstrument(fm, "FM E-Piano");
            project.addDevice(fm, "ostrel.chorus", "");
            sheet.panel.trackId = fm;
            shootCards("fx-fm");
        }

        // A small song of several kinds of track, with a clip selected, a loop and the playhead.
        function timelineScene(data) {
            verify(testHost.writeTone(project.samplesDirectory + "/tone.wav", 2.0));
            project.refreshSamples();
            openSong(demoTracks());
            const sheet = createTemporaryObject(timelineComponent, stage);
            const view = sheet.view;
            compare(view.tracks.length, 5);
            view.selectedTrack = view.tracks[1].id;
            view.selectedClip = view.tracks[1].clipList[0].id;
            transport.setLoopRange(8, 16);
            transport.setStartBeat(12);
            waitForRendering(sheet);
            grabImage(sheet).save(testHost.galleryFolder + "/timeline-demo-" + data.themeId + ".png");
        }

        // A page of the Settings sheet over a window's content, with two keyboards (one
        // picked, having played), a patch and an exported theme of the person's own.
        function settingsScene(data) {
            testHost.setMidiInputs(["Studio Keys 49", "USB MIDI Interface"]);
            midi.refreshDevices();
            midi.selectDevice("Studio Keys 49");
            testHost.playMidi([0x90, 60, 100]);
            testHost.playMidi([0x80, 60, 0]);
            instrument.saveCurrentPatchAs("Warm Lead");
            settingsSetUp = true;
            testHost.emptyFolder(testHost.exportFolder);
            theme.exportTheme("dark");

            const window = createTemporaryObject(settingsComponent, stage);
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
            compare(picture.width, window.width);
            picture.save(testHost.galleryFolder + "/settings-" + data.themeId + "-" + data.page + ".png");
        }

        // Scenes shown once, in the default theme

        function test_one_scene_data() {
            return [{tag: "a crowded appearance page in a small window", scene: "crowded"},
                    {tag: "the play card's effects view", scene: "play fx"},
                    {tag: "an empty song", scene: "empty song"},
                    {tag: "thirty-two tracks", scene: "32 tracks"}];
        }

        function test_one_scene(data) {
            const scenes = {"crowded": crowdedSettingsScene, "play fx": playEffectsScene,
                            "empty song": emptySongScene, "32 tracks": thirtyTwoTracksScene};
            scenes[data.scene]();
        }

        // Many theme files and a small window: the page must still show its settings.
        function crowdedSettingsScene() {
            theme.exportTheme("dark");
            for (const id of ["steel", "light", "high-contrast", "graphite"])
                theme.exportTheme(id);
            const window = createTemporaryObject(settingsComponent, stage);
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
        }

        // The play card at the detail panel's usual size, in its effects view.
        function playEffectsScene() {
            const fm = project.addTrack();
            project.setTrackInstrument(fm, "FM Bell");
            project.addDevice(fm, "ostrel.reverb", "Big Hall");
            const sheet = createTemporaryObject(playComponent, stage);
            sheet.card.view = "fx";
            sheet.card.fxTrackId = fm;
            shoot(sheet, theme.currentId + "-play-fx", ["soundName", "effectPreset"]);
        }

        function emptySongScene() {
            const sheet = createTemporaryObject(timelineComponent, stage);
            waitForRendering(sheet);
            verify(findChild(sheet.view, "emptyMessage").visible);
            shoot(sheet, "timeline-empty");
        }

        function thirtyTwoTracksScene() {
            const tracks = [];
            for (let t = 0; t < 32; ++t) {
                const clips = [];
                for (let c = 0; c < 64; ++c)
                    clips.push(clip("Clip " + (c + 1), c * 4, 4, beat(0, 8, [48 + t, 52 + t, 55 + t], 0.5, 0.5)));
                tracks.push({id: newId(), name: "Track " + (t + 1), instrument_patch: instrument.patchNames[t % 5],
                             clips: clips, devices: []});
            }
            openSong(tracks);
            const sheet = createTemporaryObject(timelineComponent, stage);
            const view = sheet.view;
            compare(view.tracks.length, 32);
            compare(view.totalBeats, 256 + 16);
            waitForRendering(sheet);
            grabImage(sheet).save(testHost.galleryFolder + "/timeline-32-tracks.png");
            // Zoomed out and scrolled to the middle of the song and of the rows.
            view.zoomBy(1 / 1.3 / 1.3 / 1.3, 0);
            view.viewStart = 100;
            view.clampView();
            mouseWheel(findChild(view, "timelineBody"), 500, 200, 0, -120 * 10);
            waitForRendering(sheet);
            grabImage(sheet).save(testHost.galleryFolder + "/timeline-32-tracks-scrolled.png");
            verify(findChild(view, "trackList").contentY > 0);
        }

        // The window at its first size

        function test_the_window_data() {
            return [{tag: "with the browser and the detail panel", panels: true},
                    {tag: "play card keys", view: "keys"}, {tag: "play card pads", view: "keys", pads: true},
                    {tag: "play card grid", view: "grid", shown: "gridView"},
                    {tag: "play card fx", view: "fx", shown: "fxView"}];
        }

        function test_the_window(data) {
            if (data.panels)
                windowWithPanels();
            else
                playCardInTheWindow(data);
        }

        // The two panels in their places in the window.
        function windowWithPanels() {
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

        // The play card in the window, in each of its views: nothing of the card may lie
        // beyond the bottom of the detail panel.
        function playCardInTheWindow(data) {
            const tag = data.pads ? "pads" : data.view;
            const kit = project.addTrack();
            project.setTrackInstrument(kit, "Modular Drums");
            const clipId = project.addEmptyClip(kit, 0, 4);
            for (const [pitch, step] of [[36, 0], [42, 2], [38, 4], [42, 6], [36, 8], [42, 10], [38, 12], [46, 14]])
                project.addNote(kit, clipId, pitch, 100, step * 0.25, 0.25);
            const fm = project.addTrack();
            project.setTrackInstrument(fm, "FM E-Piano");
            project.addDevice(fm, "ostrel.compressor", "");
            project.addDevice(fm, "ostrel.delay", "Slapback");

            const window = createTemporaryObject(windowComponent, stage);
            verify(window);
            compare([window.width, window.height], [1320, 860]);
            const detail = findChild(window.contentItem, "detail");
            const card = detail.playCard;
            card.sequencerTrackId = kit;
            card.sequencerClipId = clipId;
            card.fxTrackId = fm;
            card.view = data.view;
            card.padMode = data.pads === true;
            instrument.selectPatch(data.pads ? "Modular Drums" : "Modular Lead");
            if (data.pads)
                instrument.padDown(38);
            else
                instrument.keyDown(4);
            waitForRendering(window.contentItem);

            // Nor beyond its right end: the views take the width the instrument leaves.
            const views = findChild(card, "viewsHalf");
            verify(views.mapToItem(card, views.width, 0).x <= card.width, views.width);
            const midi = findChild(card, "midiButton");
            verify(midi.mapToItem(detail, midi.width, 0).x <= detail.width - 1);
            const bottom = detail.height - 1;
            for (const knob of card.knobs)
                verify(bottomIn(findChild(findChild(card, "knob_" + knob.key), "knob"), detail) <= bottom, knob.key);
            if (data.view === "keys") {
                verify(bottomIn(findChild(card, "statusLine"), detail) <= bottom);
                verify(findChild(card, data.pads ? "padGrid" : "pianoKeys").height >= 90);
            } else {
                const view = findChild(card, data.shown);
                verify(bottomIn(view, detail) <= bottom);
            }
            if (data.view === "grid") {
                // Every row of the kit has room for its cells.
                const grid = findChild(card, "gridView");
                const area = findChild(grid, "gridArea");
                verify(area.rowHeight * grid.rows.length <= area.height, area.rowHeight + " × " + grid.rows.length);
            }
            if (data.view === "fx") {
                // The instrument's card comes first, every knob of it whole.
                const fmCard = findChild(findChild(card, "fxView"), "fmCard");
                verify(fmCard.visible);
                for (const key of ["feedback", "gain", "release_ms", "tune_cents"])
                    verify(bottomIn(findChild(fmCard, "knob_" + key), fmCard) <= fmCard.height, key);
                // The effect cards' titles are whole and their last knobs inside the card.
                const fx = findChild(card, "fxView");
                for (let i = 0; i < 2; ++i) {
                    const effect = findChild(fx, "effectCard" + i);
                    verify(!findChild(effect, "effectTitle").truncated, "effect card " + i);
                    const cells = Array.from(findChild(effect, "knobGrid").children).filter(c => c.objectName.startsWith("knob_"));
                    verify(cells.length >= 5);
                    const lowest = Math.max(...cells.map(c => bottomIn(findChild(c, "cellKnob"), effect)));
                    verify(lowest <= effect.height, "effect card " + i + ": " + lowest + " > " + effect.height);
                }
            }
            // Empty pads of a kit have no text to cut.
            compare(truncatedTexts(card).filter(t => t !== "" && t !== findChild(card, "statusLine").text), []);
            grabImage(window.contentItem).save(testHost.galleryFolder + "/" + theme.currentId + "-window-play-" + tag + ".png");
            instrument.releaseAll();
        }

        // Songs, written as project files and opened, as a person would open them

        function newId() {
            ++idCounter;
            const hex = idCounter.toString(16);
            return "00000000-0000-4000-8000-" + "0".repeat(12 - hex.length) + hex;
        }

        function note(pitch, start, length) {
            return {id: newId(), pitch: pitch, velocity: 100, start_beats: start, length_beats: length};
        }

        function clip(name, start, length, notes) {
            return {id: newId(), name: name, start_beats: start, length_beats: length, notes: notes};
        }

        function openSong(tracks) {
            const song = {format: "ostrel-project", format_version: 1, id: newId(), name: "Gallery",
                          tempo_bpm: 120.0, tracks: tracks};
            verify(testHost.writeFile(project.projectsDirectory + "/gallery.ostproj", JSON.stringify(song)));
            verify(project.openProject("gallery.ostproj"), project.message);
        }

        function beat(start, count, pitches, step, length) {
            const notes = [];
            for (let i = 0; i < count; ++i)
                notes.push(note(pitches[i % pitches.length], start + i * step, length));
            return notes;
        }

        function demoTracks() {
            const drums = [];
            for (let bar = 0; bar < 4; ++bar) {
                drums.push(note(36, bar * 4, 0.25), note(36, bar * 4 + 2.5, 0.25));
                drums.push(note(38, bar * 4 + 1, 0.25), note(38, bar * 4 + 3, 0.25));
                for (let e = 0; e < 8; ++e)
                    drums.push(note(42, bar * 4 + e * 0.5, 0.25));
            }
            return [
                {id: newId(), name: "Drums", instrument_patch: "Modular Drums",
                 clips: [clip("Beat", 0, 16, drums), clip("Beat", 16, 16, drums)], devices: []},
                {id: newId(), name: "Bass", instrument_patch: instrument.patchNames[1], volume: 0.9,
                 clips: [clip("Bass line", 0, 32, beat(0, 32, [36, 36, 43, 41], 1, 0.75))], devices: []},
                {id: newId(), name: "Chords", instrument_patch: instrument.patchNames[2], muted: true,
                 clips: [clip("Chords", 8, 8, beat(0, 12, [60, 64, 67, 72, 65, 69], 2 / 3, 0.6)),
                         clip("Chords 2", 16, 16, beat(0, 8, [57, 60, 64], 2, 2))],
                 devices: [{id: newId(), device_id: "ostrel.reverb", enabled: true, name: "Reverb", parameters: {}}]},
                {id: newId(), name: "Lead", instrument_patch: "",
                 clips: [clip("Melody", 16, 8, beat(0, 16, [72, 74, 76, 79, 81], 0.5, 0.5))], devices: []},
                {id: newId(), name: "Vocal", kind: "audio",
                 clips: [{id: newId(), name: "tone", start_beats: 4, length_beats: 6, audio_source: "tone.wav",
                          audio_offset_seconds: 0.0, notes: []}], devices: []}
            ];
        }
    }
}
