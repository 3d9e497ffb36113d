import QtQuick
import QtTest
import Ostrel.App
import "../Contrast.js" as Contrast

Item {
    id: stage

    width: 1240
    height: 120

    Component { id: barComponent; TransportBar { y: 20; width: 1240; height: 48 } }
    // The bar as the window shows it, over the window's background.
    Component {
        id: backedComponent

        Rectangle {
            y: 20
            width: 1240
            height: 48
            color: theme.colors.background

            TransportBar { anchors.fill: parent }
        }
    }

    // Stand-ins that record what the bar asks for and show what a test sets.
    QtObject {
        id: transportStandIn

        property bool playing: false
        property real tempo: 120
        property string positionText: "1.1.1"
        property string status: ""
        property int beat: 0
        property bool metronome: false
        property bool loopEnabled: false
        property var calls: []

        function togglePlay() { calls.push("togglePlay()"); }
        function nudgeTempo(delta) { calls.push("nudgeTempo(" + delta + ")"); }
        function tap() { calls.push("tap()"); }
        function setMetronome(on) { calls.push("setMetronome(" + on + ")"); }
        function setLoopEnabled(on) { calls.push("setLoopEnabled(" + on + ")"); }
    }

    QtObject {
        id: audioStandIn

        property bool engineRunning: false
        property real cpuPercent: 0
    }

    TestCase {
        name: "TransportBar"
        when: windowShown

        SignalSpy { id: recordSpy; signalName: "recordPressed" }

        function init() {
            testHost.resetControllers();
            settings.setValue("appearance.reduce_motion", true);
            app.helpText = "";
            Object.assign(transportStandIn, {calls: [], playing: false, tempo: 120, positionText: "1.1.1", status: "",
                                             beat: 0, metronome: false, loopEnabled: false});
            audioStandIn.engineRunning = false;
            audioStandIn.cpuPercent = 0;
            mouseMove(stage, stage.width - 1, stage.height - 1);
        }

        function cleanup() {
            testHost.resetControllers();
            theme.currentId = "graphite";
        }

        function makeBar(standIns) {
            if (standIns) {
                testHost.replaceContextObject("transport", transportStandIn);
                testHost.replaceContextObject("audio", audioStandIn);
            }
            const bar = createTemporaryObject(barComponent, stage);
            verify(bar);
            recordSpy.target = bar;
            recordSpy.clear();
            return bar;
        }

        function part(bar, name) {
            const found = findChild(bar, name);
            verify(found, name);
            return found;
        }

        function lights(bar) {
            const row = part(bar, "beatLights");
            const found = [];
            for (let i = 0; i < row.children.length; ++i) {
                if (row.children[i].hasOwnProperty("lit"))
                    found.push(row.children[i]);
            }
            return found;
        }

        // Against the real transport and audio controllers

        function test_play_starts_and_stops_the_clock() {
            const bar = makeBar();
            const play = part(bar, "playButton");
            const position = part(bar, "positionText");
            compare(play.text, "Play");
            compare(position.text, "1.1.1");
            verify(Qt.colorEqual(position.color, theme.colors.textMuted));
            compare(lights(bar).filter(l => l.lit).length, 0);
            compare(part(bar, "engineText").text, "Sound card closed");
            mouseClick(play);
            verify(transport.playing);
            compare(play.text, "Stop");
            verify(Qt.colorEqual(position.color, theme.colors.accent2));
            verify(audio.engineRunning);
            // The load figures arrive with the audio controller's status tick.
            audio.onTick();
            verify(part(bar, "engineText").text.startsWith("Engine  "));
            mouseClick(play);
            verify(!transport.playing);
            compare(play.text, "Play");
        }

        function test_minus_plus_and_the_wheel_nudge_the_tempo_by_one_and_store_it() {
            const bar = makeBar();
            compare(part(bar, "tempoText").text, "120.0");
            mouseClick(part(bar, "fasterButton"));
            compare(transport.tempo, 121);
            compare(part(bar, "tempoText").text, "121.0");
            compare(settings.value("transport.tempo"), 121);
            mouseClick(part(bar, "slowerButton"));
            mouseClick(part(bar, "slowerButton"));
            compare(transport.tempo, 119);
            compare(settings.value("transport.tempo"), 119);
            const display = part(bar, "tempoDisplay");
            mouseWheel(display, 40, 16, 0, 120);
            compare(transport.tempo, 120);
            mouseWheel(display, 40, 16, 0, -120);
            // A turn with no vertical part counts as down.
            mouseWheel(display, 40, 16, 120, 0);
            compare(transport.tempo, 118);
            transport.setTempo(300);
            mouseWheel(display, 40, 16, 0, 120);
            compare(transport.tempo, 300);
        }

        function test_a_switch_asks_the_transport_and_shows_its_state_data() {
            return [
                {tag: "metronome", button: "metronomeToggle", shown: "checked", property: "metronome", stored: "transport.metronome"},
                {tag: "loop", button: "loopButton", shown: "selected", property: "loopEnabled"}
            ];
        }

        function test_a_switch_asks_the_transport_and_shows_its_state(data) {
            const bar = makeBar();
            const button = part(bar, data.button);
            mouseClick(button);
            verify(transport[data.property]);
            verify(button[data.shown]);
            if (data.stored)
                compare(settings.value(data.stored), true);
            mouseClick(button);
            verify(!transport[data.property]);
            verify(!button[data.shown]);
        }

        function test_record_only_asks_the_window_and_shows_the_recording() {
            const bar = makeBar();
            const record = part(bar, "recordButton");
            const dot = part(bar, "recordDot");
            const idleHelp = record.help;
            mouseClick(record);
            compare(recordSpy.count, 1);
            verify(!bar.recording);
            verify(!record.selected);
            verify(!dot.visible);
            verify(!transport.playing);
            testHost.replaceContextObject("project", testHost.projectStandIn);
            project.recording = true;
            verify(record.selected);
            verify(dot.visible);
            verify(Qt.colorEqual(dot.color, theme.colors.error));
            verify(record.help !== idleHelp);
        }

        // Against stand-ins, for what the real controllers cannot be made to show

        function test_each_button_calls_its_invokable() {
            const bar = makeBar(true);
            for (const name of ["playButton", "slowerButton", "fasterButton", "tapButton", "metronomeToggle", "loopButton"])
                mouseClick(part(bar, name));
            compare(transportStandIn.calls, ["togglePlay()", "nudgeTempo(-1)", "nudgeTempo(1)", "tap()",
                                             "setMetronome(true)", "setLoopEnabled(true)"]);
            // The switch shows the model, not the click.
            verify(!part(bar, "metronomeToggle").checked);
        }

        function test_one_light_per_beat_the_first_in_the_accent() {
            const bar = makeBar(true);
            const four = lights(bar);
            compare(four.length, 4);
            for (const light of four)
                verify(Qt.colorEqual(light.color, "transparent"));
            transportStandIn.playing = true;
            transportStandIn.beat = 1;
            compare(four.map(l => l.lit), [true, false, false, false]);
            verify(Qt.colorEqual(four[0].color, theme.colors.accent));
            transportStandIn.beat = 3;
            compare(four.map(l => l.lit), [false, false, true, false]);
            verify(Qt.colorEqual(four[2].color, theme.colors.accent2));
            compare(part(bar, "beatLights").Accessible.name, "Beat 3");
        }

        // Down the middle of each unlit light, the ring's pixels against the bar beside it.
        function test_unlit_lights_are_ringed_3_to_1_off_the_bar_in_every_theme_data() {
            return Contrast.themeRows();
        }

        function test_unlit_lights_are_ringed_3_to_1_off_the_bar_in_every_theme(data) {
            theme.currentId = data.themeId;
            const backed = createTemporaryObject(backedComponent, stage);
            verify(backed);
            waitForRendering(backed);
            const picture = grabImage(backed);
            for (const light of lights(backed)) {
                verify(!light.lit);
                const bar = light.mapToItem(backed, -2, light.height / 2);
                const beside = picture.pixel(Math.floor(bar.x), Math.floor(bar.y));
                let ring = 1;
                for (let y = 0; y < light.height; ++y) {
                    const p = light.mapToItem(backed, light.width / 2, y + 0.5);
                    ring = Math.max(ring, Contrast.ratio(picture.pixel(Math.floor(p.x), Math.floor(p.y)), beside));
                }
                verify(ring >= 3, "ring against the bar " + ring.toFixed(2));
            }
        }

        function test_clicks_while_playing_shows_only_when_stopped() {
            const bar = makeBar(true);
            const hint = part(bar, "metronomeHint");
            verify(!hint.visible);
            transportStandIn.metronome = true;
            verify(hint.visible);
            transportStandIn.playing = true;
            verify(!hint.visible);
        }

        function test_the_engine_load_warns_above_80_percent() {
            const bar = makeBar(true);
            const engine = part(bar, "engineText");
            audioStandIn.engineRunning = true;
            audioStandIn.cpuPercent = 80.0;
            compare(engine.text, "Engine  80.0 %");
            verify(Qt.colorEqual(engine.color, theme.colors.textMuted));
            audioStandIn.cpuPercent = 80.1;
            verify(Qt.colorEqual(engine.color, theme.colors.warning));
            audioStandIn.cpuPercent = 7.25;
            compare(engine.text, "Engine  7.3 %");
        }

        function test_tempo_and_position_read_out() {
            const bar = makeBar(true);
            transportStandIn.tempo = 96.56;
            compare(part(bar, "tempoText").text, "96.6");
            compare(part(bar, "tempoDisplay").Accessible.name, "Tempo 96.6 beats per minute");
            transportStandIn.positionText = "3.2.4";
            compare(part(bar, "positionDisplay").Accessible.name, "Song position 3.2.4");
            // While the clock waits for the song to render, the position says so.
            transportStandIn.playing = true;
            transportStandIn.status = "Waiting for the song to render";
            compare(part(bar, "positionDisplay").Accessible.name, "Song position 3.2.4, Waiting for the song to render");
            verify(Qt.colorEqual(part(bar, "positionText").color, theme.colors.warning));
            transportStandIn.status = "";
            verify(Qt.colorEqual(part(bar, "positionText").color, theme.colors.accent2));
        }

        // Help strip

        function test_every_part_writes_its_own_help_and_leaving_clears_it() {
            const bar = makeBar(true);
            const seen = [];
            for (const name of ["recordButton", "playButton", "slowerButton", "tempoDisplay", "fasterButton", "tapButton",
                                "positionDisplay", "metronomeToggle", "loopButton"]) {
                // Straight from the last part: the old one's leave comes last.
                const item = part(bar, name);
                mouseMove(item, 5, 5);
                tryVerify(() => app.helpText !== "" && seen.indexOf(app.helpText) < 0, 5000, name);
                if (item.help !== undefined)
                    compare(app.helpText, item.help, name);
                seen.push(app.helpText);
            }
            mouseMove(stage, stage.width - 1, stage.height - 1);
            compare(app.helpText, "");
        }

        function test_play_help_follows_the_clock() {
            const bar = makeBar(true);
            mouseMove(part(bar, "playButton"), 10, 10);
            verify(app.helpText.startsWith("Start the song clock from the playhead"));
            transportStandIn.playing = true;
            verify(app.helpText.startsWith("Stop the song clock"));
        }

        // Layout

        function test_the_parts_keep_their_order_between_the_margins() {
            const bar = makeBar();
            const order = ["recordButton", "playButton", "slowerButton", "tempoDisplay", "fasterButton", "tapButton",
                           "positionDisplay", "beatLights", "metronomeToggle", "loopButton", "engineText"];
            let lastRight = 0;
            for (const name of order) {
                const left = part(bar, name).mapToItem(bar, 0, 0).x;
                verify(left >= lastRight, name + " starts at " + left + " before " + lastRight);
                lastRight = left + part(bar, name).width;
            }
            compare(part(bar, "recordButton").mapToItem(bar, 0, 0).x, theme.spacing * 3);
            compare(lastRight, bar.width - theme.spacing * 3);
        }

        function test_in_the_narrowest_window_nothing_draws_past_the_bar() {
            transportStandIn.metronome = true;
            const bar = makeBar(true);
            // The main window's minimum width; the layout places its items when next polished.
            bar.width = 940;
            waitForRendering(bar);
            for (const name of ["recordButton", "playButton", "tapButton", "positionDisplay", "beatLights", "metronomeToggle",
                                "metronomeHint", "loopButton", "engineText"]) {
                const item = part(bar, name);
                // A text that gave way entirely draws nothing.
                if (item.width === 0)
                    continue;
                const right = item.mapToItem(bar, item.width, 0).x;
                verify(right <= bar.width - theme.spacing * 3, name + " ends at " + right);
            }
            compare(part(bar, "loopButton").width, 64);
            // Given room again, the texts come back whole.
            bar.width = 1240;
            waitForRendering(bar);
            verify(!part(bar, "metronomeHint").truncated);
            verify(!part(bar, "engineText").truncated);
        }
    }
}
