import QtQuick
import QtQuick.Layouts
import QtTest
import Ostrel.App

// Every control in its states, once per built-in theme, saved as a picture to look at
// (testHost.galleryFolder, or $OSTREL_GALLERY_DIR). The test also fails when any text of
// the sheet is cut off.
Item {
    id: stage

    width: 1280
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
        id: sheetComponent

        Rectangle {
            property alias menu: menu
            property alias focusedKnob: focusedKnob

            width: stage.width
            height: stage.height
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
                    Layout.preferredWidth: stage.width - theme.spacing * 4
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

    Component { id: windowComponent; Main {} }

    TestCase {
        name: "Gallery"
        when: windowShown

        function init() {
            settings.setValue("appearance.reduce_motion", true);
            testHost.resetControllers();
        }

        function cleanup() {
            testHost.resetControllers();
            theme.currentId = "graphite";
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

        // The play card with notes held on the piano, then a kit on the pads with one hit.
        function test_play_card_in_every_theme_data() {
            return theme.themeIds.map(id => ({tag: id, themeId: id}));
        }

        function test_play_card_in_every_theme(data) {
            theme.currentId = data.themeId;
            const sheet = createTemporaryObject(playComponent, stage);
            verify(sheet);
            instrument.keyDown(4);
            instrument.padDown(63);
            instrument.padDown(67);
            waitForRendering(sheet);
            grabImage(sheet).save(testHost.galleryFolder + "/" + data.themeId + "-play-keys.png");
            // The status line's hint is long and elided by design.
            const hint = findChild(sheet, "statusLine").text;
            compare(truncatedTexts(sheet).filter(t => t !== hint), []);
            instrument.releaseAll();

            instrument.selectPatch("Modular Drums");
            instrument.padDown(38);
            waitForRendering(sheet);
            grabImage(sheet).save(testHost.galleryFolder + "/" + data.themeId + "-play-pads.png");
            instrument.releaseAll();
        }

        // How far an item reaches below the top of `within`.
        function bottomIn(item, within) {
            return item.mapToItem(within, 0, item.height).y;
        }

        // The play card in the window at its first size, in each of its views: nothing of the
        // card may lie beyond the bottom of the detail panel.
        function test_the_play_card_in_the_window_data() {
            return [{tag: "keys", view: "keys"}, {tag: "pads", view: "keys", pads: true},
                    {tag: "grid", view: "grid", shown: "gridView"}, {tag: "fx", view: "fx", shown: "fxView"}];
        }

        function test_the_play_card_in_the_window(data) {
            const kit = project.addTrack();
            project.setTrackInstrument(kit, "Modular Drums");
            const clip = project.addEmptyClip(kit, 0, 4);
            for (const [pitch, step] of [[36, 0], [42, 2], [38, 4], [42, 6], [36, 8], [42, 10], [38, 12], [46, 14]])
                project.addNote(kit, clip, pitch, 100, step * 0.25, 0.25);
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
            card.sequencerClipId = clip;
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
            grabImage(window.contentItem).save(testHost.galleryFolder + "/" + theme.currentId + "-window-play-" + data.tag + ".png");
            instrument.releaseAll();
        }

        function test_every_control_in_every_theme_data() {
            return theme.themeIds.map(id => ({tag: id, themeId: id}));
        }

        function test_every_control_in_every_theme(data) {
            theme.currentId = data.themeId;
            const sheet = createTemporaryObject(sheetComponent, stage);
            verify(sheet);
            // The knob shows its value while it has the focus.
            sheet.focusedKnob.forceActiveFocus(Qt.TabFocusReason);
            waitForRendering(sheet);
            compare(truncatedTexts(sheet), []);
            grabImage(sheet).save(testHost.galleryFolder + "/" + data.themeId + ".png");

            // Then a playing, recording, busy clock and an open menu with a highlighted item.
            testHost.replaceContextObject("project", testHost.projectStandIn);
            project.recording = true;
            testHost.replaceContextObject("transport", playingTransport);
            testHost.replaceContextObject("audio", busyAudio);
            sheet.menu.open();
            tryCompare(sheet.menu, "opened", true);
            keyClick(Qt.Key_Down);
            waitForRendering(sheet);
            compare(truncatedTexts(sheet), []);
            compare(truncatedTexts(sheet.menu.contentItem), []);
            grabImage(sheet).save(testHost.galleryFolder + "/" + data.themeId + "-playing.png");
            sheet.menu.close();
        }
    }
}
