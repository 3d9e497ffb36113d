import QtQuick
import QtTest
import Ostrel.App

Item {
    id: stage

    width: 800
    height: 500

    Component {
        id: sectionComponent

        AudioSection {
            x: 10
            y: 10
            width: 760
        }
    }

    // What a test sets, for cases the silent output cannot show.
    QtObject {
        id: audioStandIn

        property string driverName: "Test Audio"
        property var devices: []
        property string selectedDeviceId: ""
        property bool testToneOn: false
        property string status: "Stopped"
        property bool problem: false
        property real latencyMs: 0
        property real cpuPercent: 0
        property int dropouts: 0
        property string actualFormat: ""
        property var calls: []

        function refreshDevices() { calls.push("refreshDevices()"); }
        function selectDevice(id) { calls.push("selectDevice(" + id + ")"); }
        function setTestTone(on) { calls.push("setTestTone(" + on + ")"); }
    }

    TestCase {
        id: testCase

        name: "AudioSection"
        when: windowShown

        function init() {
            settings.setValue("appearance.reduce_motion", true);
            testHost.resetControllers();
            app.helpText = "";
            audioStandIn.devices = [];
            audioStandIn.selectedDeviceId = "";
            audioStandIn.testToneOn = false;
            audioStandIn.latencyMs = 0;
            audioStandIn.cpuPercent = 0;
            audioStandIn.dropouts = 0;
            audioStandIn.actualFormat = "";
            audioStandIn.calls = [];
            mouseMove(stage, stage.width - 1, stage.height - 1);
        }

        function cleanup() {
            // A help text the pointer queued for later is written before the controls go.
            wait(0);
            audio.setTestTone(false);
            testHost.resetControllers();
            settings.resetToDefault("audio.output_device");
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


        function readout(section, name) {
            return findChild(child(section, name), "readoutValue");
        }



        function test_the_test_tone_plays_and_stops() {
            const section = makeSection();
            const button = child(section, "testTone");
            compare(button.text, "Play test tone");
            compare(readout(section, "engineLoad").text, "–");
            mouseClick(button);
            verify(audio.testToneOn);
            compare(button.text, "Stop test tone");
            compare(child(section, "audioStatus").text, "Playing the test tone");
            verify(Qt.colorEqual(child(section, "audioStatus").color, theme.colors.textMuted));
            // While the tone plays the load shows even at zero.
            verify(readout(section, "engineLoad").text.endsWith(" %"));
            mouseClick(button);
            verify(!audio.testToneOn);
            compare(button.text, "Play test tone");
        }

        function test_refresh_asks_for_the_devices_again() {
            const section = makeSection();
            devicesSpy.clear();
            mouseClick(child(section, "audioRefresh"));
            compare(devicesSpy.count, 1);
        }


        function test_five_devices_scroll_in_a_list_four_entries_high() {
            const cards = [];
            for (let n = 1; n <= 5; ++n)
                cards.push({id: "card" + n, name: "Card " + n, isDefault: n === 2});
            audioStandIn.devices = cards;
            testHost.replaceContextObject("audio", audioStandIn);
            const section = makeSection();
            const list = child(section, "audioDevices");
            compare(list.count, 6);
            list.forceLayout();
            compare(list.height, 38 * 4);
            verify(list.contentHeight > list.height);
            compare(list.itemAtIndex(2).text, "Card 2   ·   default");
            compare(list.itemAtIndex(2).width, list.width - 10);
        }

        // Right edges in the section: the device rows end where the Refresh button and the
        // section's rule end, unless there is a scroll bar to leave room for.
        function test_device_rows_are_flush_with_refresh_until_the_list_scrolls_data() {
            return [{tag: "two cards", cards: 2, room: 0}, {tag: "five cards", cards: 5, room: 10}];
        }

        function test_device_rows_are_flush_with_refresh_until_the_list_scrolls(data) {
            const cards = [];
            for (let n = 1; n <= data.cards; ++n)
                cards.push({id: "card" + n, name: "Card " + n, isDefault: false});
            audioStandIn.devices = cards;
            testHost.replaceContextObject("audio", audioStandIn);
            const section = makeSection();
            const list = child(section, "audioDevices");
            list.forceLayout();
            const rightOf = item => item.mapToItem(section, item.width, 0).x;
            const refresh = rightOf(child(section, "audioRefresh"));
            const rule = rightOf(section.children[section.children.length - 1]);
            compare(rule, refresh);
            for (let i = 0; i < Math.min(4, list.count); ++i)
                compare(rightOf(list.itemAtIndex(i)), refresh - data.room, "row " + i);
        }

        function test_readouts_show_dashes_until_there_is_something_to_show() {
            testHost.replaceContextObject("audio", audioStandIn);
            const section = makeSection();
            compare(readout(section, "bufferDelay").text, "–");
            compare(readout(section, "engineLoad").text, "–");
            compare(readout(section, "dropouts").text, "0");
            verify(Qt.colorEqual(readout(section, "dropouts").color, theme.colors.text));
            compare(readout(section, "driverFormat").text, "–");

            audioStandIn.testToneOn = true;
            compare(readout(section, "engineLoad").text, "0.00 %");
            audioStandIn.latencyMs = 10.666;
            audioStandIn.cpuPercent = 81.234;
            audioStandIn.dropouts = 1;
            audioStandIn.actualFormat = "512 samples at 48000 Hz";
            compare(readout(section, "bufferDelay").text, "10.7 ms");
            compare(readout(section, "engineLoad").text, "81.23 %");
            verify(Qt.colorEqual(readout(section, "engineLoad").color, theme.colors.warning));
            compare(readout(section, "dropouts").text, "1");
            verify(Qt.colorEqual(readout(section, "dropouts").color, theme.colors.warning));
            compare(readout(section, "driverFormat").text, "512 samples at 48000 Hz");
        }



        SignalSpy {
            id: devicesSpy

            target: audio
            signalName: "devicesChanged"
        }
    }
}
