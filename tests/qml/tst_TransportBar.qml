import QtQuick
import QtTest
import Ostrel.App

Item {
    id: stage

    width: 1240
    height: 120

    Component {
        id: barComponent

        TransportBar {
            x: 0
            y: 20
            width: 1240
            height: 48
        }
    }

    // Stand-ins that record what the bar asks for and show what a test sets.
    QtObject {
        id: transportStandIn

        property bool playing: false
        property real tempo: 120
        property string positionText: "1.1.1"
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
        id: testCase

        name: "TransportBar"
        when: windowShown

        SignalSpy {
            id: recordSpy

            signalName: "recordPressed"
        }

        function init() {
            testHost.resetControllers();
            settings.setValue("appearance.reduce_motion", true);
            app.helpText = "";
            transportStandIn.calls = [];
            transportStandIn.playing = false;
            transportStandIn.tempo = 120;
            transportStandIn.positionText = "1.1.1";
            transportStandIn.beat = 0;
            transportStandIn.metronome = false;
            transportStandIn.loopEnabled = false;
            audioStandIn.engineRunning = false;
            audioStandIn.cpuPercent = 0;
            mouseMove(stage, stage.width - 1, stage.height - 1);
        }

        function cleanup() {
            testHost.resetControllers();
        }

        function makeBar() {
            const bar = createTemporaryObject(barComponent, stage);
            verify(bar);
            recordSpy.target = bar;
            recordSpy.clear();
            return bar;
        }

        function useStandIns() {
            testHost.replaceContextObject("transport", transportStandIn);
            testHost.replaceContextObject("audio", audioStandIn);
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

        function sameColor(actual, expected) {
            return Qt.colorEqual(actual, expected);
        }

        // Against the real transport and audio controllers

        function test_at_start_the_bar_shows_a_stopped_clock() {
            const bar = makeBar();
            compare(part(bar, "playButton").text, "Play");
            compare(part(bar, "tempoText").text, "120.0");
            compare(part(bar, "positionText").text, "1.1.1");
            verify(sameColor(part(bar, "positionText").color, theme.colors.textMuted));
            compare(lights(bar).filter(l => l.lit).length, 0);
            compare(part(bar, "engineText").text, "Sound card closed");
        }

        function test_play_starts_and_stop_stops_the_clock() {
            const bar = makeBar();
            mouseClick(part(bar, "playButton"));
            verify(transport.playing);
            compare(part(bar, "playButton").text, "Stop");
            verify(sameColor(part(bar, "positionText").color, theme.colors.accent2));
            verify(audio.engineRunning);
            // The load figures arrive with the audio controller's status tick.
            audio.onTick();
            verify(part(bar, "engineText").text.startsWith("Engine  "));
            mouseClick(part(bar, "playButton"));
            verify(!transport.playing);
            compare(part(bar, "playButton").text, "Play");
        }

        function test_minus_and_plus_nudge_the_tempo_by_one_and_store_it() {
            const bar = makeBar();
            mouseClick(part(bar, "fasterButton"));
            compare(transport.tempo, 121);
            compare(part(bar, "tempoText").text, "121.0");
            compare(settings.value("transport.tempo"), 121);
            mouseClick(part(bar, "slowerButton"));
            mouseClick(part(bar, "slowerButton"));
            compare(transport.tempo, 119);
            compare(settings.value("transport.tempo"), 119);
        }

        function test_the_wheel_over_the_tempo_nudges_it() {
            const bar = makeBar();
            const display = part(bar, "tempoDisplay");
            mouseWheel(display, 40, 16, 0, 120);
            compare(transport.tempo, 121);
            mouseWheel(display, 40, 16, 0, -120);
            mouseWheel(display, 40, 16, 0, -120);
            compare(transport.tempo, 119);
            // A turn with no vertical part counts as down.
            mouseWheel(display, 40, 16, 120, 0);
            compare(transport.tempo, 118);
        }

        function test_at_300_a_notch_up_changes_nothing() {
            const bar = makeBar();
            transport.setTempo(300);
            compare(part(bar, "tempoText").text, "300.0");
            mouseWheel(part(bar, "tempoDisplay"), 40, 16, 0, 120);
            compare(transport.tempo, 300);
        }

        function test_the_metronome_switch_asks_the_transport() {
            const bar = makeBar();
            const toggle = part(bar, "metronomeToggle");
            mouseClick(toggle);
            verify(transport.metronome);
            verify(toggle.checked);
            verify(part(bar, "metronomeHint").visible);
            compare(settings.value("transport.metronome"), true);
            mouseClick(toggle);
            verify(!transport.metronome);
            verify(!part(bar, "metronomeHint").visible);
        }

        function test_loop_switches_the_loop_and_shows_it() {
            const bar = makeBar();
            const loop = part(bar, "loopButton");
            mouseClick(loop);
            verify(transport.loopEnabled);
            verify(loop.selected);
            mouseClick(loop);
            verify(!transport.loopEnabled);
            verify(!loop.selected);
        }

        function test_record_only_asks_the_window() {
            const bar = makeBar();
            const record = part(bar, "recordButton");
            mouseClick(record);
            compare(recordSpy.count, 1);
            verify(!bar.recording);
            verify(!record.selected);
            verify(!part(bar, "recordDot").visible);
            verify(!transport.playing);
        }

        function test_recording_shows_the_dot_and_the_selected_look() {
            const bar = makeBar();
            const record = part(bar, "recordButton");
            project.recording = true;
            verify(bar.recording);
            verify(record.selected);
            const dot = part(bar, "recordDot");
            verify(dot.visible);
            compare(dot.x, record.width - 12);
            compare(dot.y, record.height / 2 - 3);
            verify(sameColor(dot.color, theme.colors.error));
            compare(record.help, "Stop recording: everything you played is kept as one clip on the selected track.");
        }

        // Against stand-ins, for what the real controllers cannot be made to show

        function test_each_button_calls_its_invokable() {
            useStandIns();
            const bar = makeBar();
            mouseClick(part(bar, "playButton"));
            mouseClick(part(bar, "slowerButton"));
            mouseClick(part(bar, "fasterButton"));
            mouseClick(part(bar, "tapButton"));
            mouseClick(part(bar, "metronomeToggle"));
            mouseClick(part(bar, "loopButton"));
            compare(transportStandIn.calls, ["togglePlay()", "nudgeTempo(-1)", "nudgeTempo(1)", "tap()",
                                             "setMetronome(true)", "setLoopEnabled(true)"]);
        }

        function test_the_switch_shows_the_model_not_the_click() {
            useStandIns();
            const bar = makeBar();
            const toggle = part(bar, "metronomeToggle");
            mouseClick(toggle);
            verify(!toggle.checked);
            transportStandIn.metronome = true;
            verify(toggle.checked);
        }

        function test_one_light_per_beat_the_first_in_the_accent() {
            useStandIns();
            const bar = makeBar();
            const four = lights(bar);
            compare(four.length, 4);
            for (const light of four) {
                verify(sameColor(light.color, "transparent"));
                verify(sameColor(light.border.color, theme.colors.border));
            }
            transportStandIn.playing = true;
            transportStandIn.beat = 1;
            compare(four.map(l => l.lit), [true, false, false, false]);
            verify(sameColor(four[0].color, theme.colors.accent));
            verify(sameColor(four[0].border.color, "transparent"));
            transportStandIn.beat = 3;
            compare(four.map(l => l.lit), [false, false, true, false]);
            verify(sameColor(four[2].color, theme.colors.accent2));
            compare(part(bar, "beatLights").Accessible.name, "Beat 3");
        }

        function test_clicks_while_playing_shows_only_when_stopped() {
            useStandIns();
            const bar = makeBar();
            const hint = part(bar, "metronomeHint");
            verify(!hint.visible);
            transportStandIn.metronome = true;
            verify(hint.visible);
            transportStandIn.playing = true;
            verify(!hint.visible);
        }

        function test_the_engine_load_warns_above_80_percent() {
            useStandIns();
            const bar = makeBar();
            const engine = part(bar, "engineText");
            compare(engine.text, "Sound card closed");
            audioStandIn.engineRunning = true;
            audioStandIn.cpuPercent = 80.0;
            compare(engine.text, "Engine  80.0 %");
            verify(sameColor(engine.color, theme.colors.textMuted));
            audioStandIn.cpuPercent = 80.1;
            compare(engine.text, "Engine  80.1 %");
            verify(sameColor(engine.color, theme.colors.warning));
            audioStandIn.cpuPercent = 7.25;
            compare(engine.text, "Engine  7.3 %");
        }

        function test_tempo_and_position_read_out() {
            useStandIns();
            const bar = makeBar();
            transportStandIn.tempo = 96.56;
            compare(part(bar, "tempoText").text, "96.6");
            compare(part(bar, "tempoDisplay").Accessible.name, "Tempo 96.6 beats per minute");
            transportStandIn.positionText = "3.2.4";
            compare(part(bar, "positionDisplay").Accessible.name, "Song position 3.2.4");
        }

        // Help strip

        function test_the_displays_explain_themselves() {
            useStandIns();
            const bar = makeBar();
            mouseMove(part(bar, "tempoDisplay"), 10, 10);
            compare(app.helpText, "The tempo in beats per minute. Turn the mouse wheel over it to change it.");
            // A jump straight from one to the other: the old one's leave comes last.
            mouseMove(part(bar, "positionDisplay"), 10, 10);
            tryCompare(app, "helpText", "Where the song clock is: bar, beat and sixteenth note.");
            mouseMove(stage, stage.width - 1, stage.height - 1);
            compare(app.helpText, "");
        }

        function test_play_help_follows_the_clock() {
            useStandIns();
            const bar = makeBar();
            const play = part(bar, "playButton");
            mouseMove(play, 10, 10);
            verify(app.helpText.startsWith("Start the song clock from the playhead"));
            transportStandIn.playing = true;
            verify(app.helpText.startsWith("Stop the song clock"));
        }

        function test_every_control_has_its_help() {
            useStandIns();
            const bar = makeBar();
            const expected = {
                "slowerButton": "Slow down by one beat per minute.",
                "fasterButton": "Speed up by one beat per minute.",
                "tapButton": "Tap tempo: click this button in time with a song (at least twice) and Ostrel sets the tempo to match. A pause of two seconds starts over.",
                "loopButton": "Repeat a stretch of the song while playing. Choose it by dragging on the timeline ruler with Shift held; the band on the ruler shows it. Shortcut: Ctrl+L",
                "metronomeToggle": "A click on every beat while the clock runs (press Play); the first beat of each bar is higher. The four lights beside the counter blink along even with the sound off.",
                "recordButton": "Record what you play (keys, pads, computer or MIDI keyboard) into a clip on the selected track. Plays the clock if it is stopped; press Record again to keep the notes."
            };
            for (const name in expected) {
                mouseMove(part(bar, name), 5, 5);
                compare(app.helpText, expected[name], name);
                mouseMove(stage, stage.width - 1, stage.height - 1);
            }
        }

        // Layout

        function test_in_the_narrowest_window_nothing_draws_past_the_bar() {
            useStandIns();
            transportStandIn.metronome = true;
            const bar = makeBar();
            // The main window's minimum width.
            bar.width = 940;
            // The layout places its items when it is next polished.
            waitForRendering(bar);
            const names = ["recordButton", "playButton", "tapButton", "positionDisplay", "beatLights", "metronomeToggle",
                           "metronomeHint", "loopButton", "engineText"];
            for (const name of names) {
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

        function test_the_buttons_have_their_sizes_and_order() {
            const bar = makeBar();
            const sizes = {"recordButton": 76, "playButton": 84, "slowerButton": 32, "fasterButton": 32,
                           "tapButton": 92, "tempoDisplay": 92, "positionDisplay": 92, "loopButton": 64};
            for (const name in sizes) {
                compare(part(bar, name).width, sizes[name], name);
                compare(part(bar, name).height, 32, name);
            }
            const order = ["recordButton", "playButton", "slowerButton", "tempoDisplay", "fasterButton", "tapButton",
                           "positionDisplay", "beatLights", "metronomeToggle", "loopButton", "engineText"];
            let lastRight = 0;
            for (const name of order) {
                const left = part(bar, name).mapToItem(bar, 0, 0).x;
                verify(left >= lastRight, name + " starts at " + left + " before " + lastRight);
                lastRight = left + part(bar, name).width;
            }
            compare(part(bar, "recordButton").mapToItem(bar, 0, 0).x, theme.spacing * 3);
            const engine = part(bar, "engineText");
            compare(engine.mapToItem(bar, 0, 0).x + engine.width, bar.width - theme.spacing * 3);
        }
    }
}
