import QtQuick
import QtTest
import Ostrel.App

// The effects view and the three instrument cards as a person sees them, once per
// built-in theme, saved as pictures to look at (testHost.galleryFolder). The test also
// fails when a text that should fit is cut off.
Item {
    id: stage

    width: 1500
    height: 700

    Component {
        id: sheetComponent

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

    // The play card at the detail panel's usual size, in its effects view.
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
                    view: "fx"
                }
            }
        }
    }

    TestCase {
        name: "DeviceGallery"
        when: windowShown

        function init() {
            settings.setValue("appearance.reduce_motion", true);
            testHost.resetControllers();
        }

        function cleanup() {
            instrument.releaseAll();
            testHost.resetControllers();
            theme.currentId = "graphite";
        }

        function truncatedTexts(item) {
            let found = [];
            if (item.visible === false)
                return found;
            // Shortened by design: a sound's long file name, in the middle, and a long preset
            // name beside the four buttons of a three-column card.
            const byDesign = ["soundName", "effectPreset"];
            if (item.truncated === true && byDesign.indexOf(item.objectName) < 0)
                found.push(item.text);
            for (let i = 0; i < item.children.length; ++i)
                found = found.concat(truncatedTexts(item.children[i]));
            return found;
        }

        function shoot(sheet, name) {
            waitForRendering(sheet);
            compare(truncatedTexts(sheet), []);
            grabImage(sheet).save(testHost.galleryFolder + "/" + theme.currentId + "-" + name + ".png");
        }

        function test_cards_in_every_theme_data() {
            return theme.themeIds.map(id => ({tag: id, themeId: id}));
        }

        function test_cards_in_every_theme(data) {
            theme.currentId = data.themeId;
            for (const name of ["kick.wav", "Snare.WAV", "closed-hat.wav", "a-long-field-recording-of-rain.wav"])
                verify(testHost.writeSample(name));
            const sheet = createTemporaryObject(sheetComponent, stage);

            // The empty states.
            shoot(sheet, "fx-no-track");
            const plain = project.addTrack();
            sheet.panel.trackId = plain;
            shoot(sheet, "fx-empty");

            // A chain: a preset, a wide card, a bypassed one, with a knob held.
            project.addDevice(plain, "ostrel.delay", "Slapback");
            project.addDevice(plain, "ostrel.eq", "Warm");
            const reverb = project.addDevice(plain, "ostrel.reverb", "");
            project.setDeviceEnabled(plain, reverb, false);
            project.addDevice(plain, "ostrel.compressor", "");
            findChild(findChild(findChild(sheet, "effectCard0"), "knob_time_ms"), "cellKnob").forceActiveFocus();
            shoot(sheet, "fx-chain");

            // The Sampler with a sound, looping, before a delay.
            const sampler = project.addTrack();
            project.setTrackInstrument(sampler, "Sampler");
            project.setSamplerSample(sampler, "a-long-field-recording-of-rain.wav");
            project.setSamplerParameter(sampler, "loop", 1);
            project.addDevice(sampler, "ostrel.delay", "");
            sheet.panel.trackId = sampler;
            shoot(sheet, "fx-sampler");
            project.setSamplerSample(sampler, "");
            shoot(sheet, "fx-sampler-empty");

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
            shoot(sheet, "fx-drum-rack");
            instrument.releaseAll();

            // An FM instrument on the fourth algorithm.
            const fm = project.addTrack();
            project.setTrackInstrument(fm, "FM E-Piano");
            project.addDevice(fm, "ostrel.chorus", "");
            sheet.panel.trackId = fm;
            shoot(sheet, "fx-fm");
        }

        function test_the_play_card_effects_view() {
            const fm = project.addTrack();
            project.setTrackInstrument(fm, "FM Bell");
            project.addDevice(fm, "ostrel.reverb", "Big Hall");
            const sheet = createTemporaryObject(playComponent, stage);
            sheet.card.fxTrackId = fm;
            shoot(sheet, "play-fx");
        }
    }
}
