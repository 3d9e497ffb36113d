import QtQuick
import QtTest
import Ostrel.App

Item {
    id: stage

    width: 800
    height: 500

    Component {
        id: sectionComponent

        MidiSection {
            x: 10
            y: 10
            width: 760
        }
    }

    TestCase {
        id: testCase

        name: "MidiSection"
        when: windowShown

        function init() {
            settings.setValue("appearance.reduce_motion", true);
            testHost.resetControllers();
            app.helpText = "";
            mouseMove(stage, stage.width - 1, stage.height - 1);
        }

        function cleanup() {
            // A help text the pointer queued for later is written before the controls go.
            wait(0);
            testHost.setMidiRefusal("");
            midi.selectDevice("");
            testHost.setMidiInputs([]);
            midi.refreshDevices();
            // The notes played opened the sound card.
            testHost.resetControllers();
        }

        function makeSection() {
            const section = createTemporaryObject(sectionComponent, stage);
            verify(section);
            waitForRendering(section);
            return section;
        }

        function child(item, name) {
            const found = findChild(item, name);
            verify(found, "no " + name);
            return found;
        }

        function deviceButtons(section) {
            const list = child(section, "midiDevices");
            list.forceLayout();
            waitForRendering(section);
            const buttons = [];
            for (let i = 0; i < list.count; ++i)
                buttons.push(list.itemAtIndex(i));
            return buttons;
        }

        function plugIn(section, names) {
            testHost.setMidiInputs(names);
            mouseClick(child(section, "midiRefresh"));
        }


        function test_the_monitor_counts_what_the_keyboard_plays() {
            const section = makeSection();
            const last = child(section, "lastMessage");
            const count = child(section, "messageCount");
            const before = midi.messageCount;
            if (before === 0) {
                compare(last.text, "Nothing received yet. Press a key on your keyboard.");
                compare(count.text, "0 messages");
            }
            plugIn(section, ["Keys A", "Keys B"]);
            compare(child(section, "midiHeader").text, "MIDI keyboard  ·  driver: Test MIDI");
            const buttons = deviceButtons(section);
            compare(buttons.map(button => button.text), ["None", "Keys A", "Keys B"]);
            mouseClick(buttons[2]);
            compare(midi.selectedDeviceId, "Keys B");
            verify(buttons[2].selected);
            verify(midi.connected);
            verify(Qt.colorEqual(child(section, "activityDot").color, theme.colors.success));

            testHost.playMidi([0x90, 60, 100]);
            testHost.playMidi([0x80, 60, 0]);
            compare(count.text, (before + 2) + " messages");
            compare(last.text, "Last message: " + midi.lastMessage);
            verify(midi.lastMessage !== "");
        }

        function test_the_dot_blinks_unless_motion_is_reduced() {
            const section = makeSection();
            plugIn(section, ["Keys A"]);
            mouseClick(deviceButtons(section)[1]);
            const blink = child(section, "activityBlink");
            testHost.playMidi([0x90, 64, 90]);
            verify(!blink.running);
            settings.setValue("appearance.reduce_motion", false);
            testHost.playMidi([0x80, 64, 0]);
            verify(blink.running);
            blink.complete();
            compare(child(section, "activityDot").opacity, 1);
        }



        function test_the_note_says_what_notes_play() {
            const section = makeSection();
            verify(child(section, "midiNote").text.startsWith("Notes play the instrument on the PLAY card."));
        }
    }
}
