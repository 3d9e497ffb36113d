import QtQuick
import QtTest
import Ostrel.App

// What the three instrument cards (Sampler, Drum Rack, FM) promise alike, one table for all:
// every knob sends its exact value as one undo step and follows undo, and says its value in
// its unit. Inside the effects view, against the real project and instrument controllers.
Item {
    id: stage

    width: 1000
    height: 320

    Component { id: panelComponent; DevicesPanel { width: stage.width; height: 300 } }
    Component { id: fmComponent; FmCard { height: 260 } }

    TestCase {
        name: "InstrumentCards"
        when: windowShown

        function init() {
            testHost.resetControllers();
            settings.setValue("appearance.reduce_motion", true);
        }

        function cleanup() {
            instrument.releaseAll();
        }

        function track(id) {
            return project.tracks.find(t => t.id === id);
        }

        // A track playing the card's instrument, shown in the effects view: {id, card, stored},
        // `stored` reading what the track keeps for a knob (for the Drum Rack, of its second pad).
        function cardFor(kind) {
            for (const name of ["kick.wav", "hat.wav"])
                verify(testHost.writeSample(name));
            const id = project.addTrack();
            const patch = {sampler: "Sampler", drums: "Drum Rack", fm: "FM Bass"}[kind];
            project.setTrackInstrument(id, patch);
            if (kind === "drums")
                instrument.selectPatch(patch);
            const panel = createTemporaryObject(panelComponent, stage);
            panel.trackId = id;
            const card = findChild(panel, {sampler: "samplerCard", drums: "drumRackCard", fm: "fmCard"}[kind]);
            verify(card.visible);
            // Laid out for the height the panel gives it, as a person first sees it.
            waitForRendering(card);
            const stored = {
                sampler: key => track(id).instrumentConfig[key],
                drums: key => track(id).instrumentConfig.pads[1][key],
                fm: key => track(id).fmValues[key]
            }[kind];
            return {id: id, card: card, stored: stored};
        }

        function knob(card, key) {
            const cell = findChild(card, "knob_" + key);
            verify(cell, key);
            return cell.knob;
        }

        function turn(knob, dy) {
            const x = knob.width / 2;
            const y = knob.size / 2;
            mousePress(knob, x, y);
            testHost.moveMouse(knob, x, y - dy, Qt.LeftButton, Qt.NoModifier);
            mouseRelease(knob, x, y - dy);
        }

        // Rows without a start read it from the track. A turn of dy pixels moves a knob by
        // dy / 160 of its range; the FM knobs turn downwards, so that knobs at their top move.
        function test_every_knob_sends_its_exact_value_as_one_step_and_follows_undo_data() {
            const rows = [
                {tag: "sampler gain", card: "sampler", key: "gain", start: 1, range: 2},
                {tag: "sampler root key", card: "sampler", key: "root_note", start: 60, range: 127, whole: true},
                {tag: "sampler tune", card: "sampler", key: "tune_cents", start: 0, range: 200},
                {tag: "sampler attack", card: "sampler", key: "attack_ms", start: 2, range: 2000},
                {tag: "sampler release", card: "sampler", key: "release_ms", start: 80, range: 4999},
                {tag: "drum pad gain", card: "drums", key: "gain", start: 1, range: 2},
                {tag: "drum pad tune", card: "drums", key: "tune_cents", start: 0, range: 200},
                {tag: "drum pad release", card: "drums", key: "release_ms", start: 80, range: 4999},
                {tag: "fm feedback", card: "fm", key: "feedback", range: 1},
                {tag: "fm gain", card: "fm", key: "gain", range: 2},
                {tag: "fm release", card: "fm", key: "release_ms", range: 4999},
                {tag: "fm tune", card: "fm", key: "tune_cents", range: 200},
                {tag: "fm op2 ratio", card: "fm", key: "op2_ratio", range: 15.75},
                {tag: "fm op3 level", card: "fm", key: "op3_level", range: 1},
                {tag: "fm op4 attack", card: "fm", key: "op4_attack_ms", range: 2000},
                {tag: "fm op1 decay", card: "fm", key: "op1_decay_ms", range: 4999},
                {tag: "fm op2 sustain", card: "fm", key: "op2_sustain", range: 1},
            ];
            return rows.map(row => Object.assign({dy: row.card === "fm" ? -8 : 16,
                                                  within: row.card === "fm" ? 1e-4 : 1e-6}, row));
        }

        function test_every_knob_sends_its_exact_value_as_one_step_and_follows_undo(data) {
            const t = cardFor(data.card);
            const pad = note => findChild(t.card, "pad" + note);
            if (data.card === "drums") {
                // The second of two filled pads is picked.
                project.setPad(t.id, 36, "kick.wav");
                project.setPad(t.id, 45, "hat.wav");
                mouseClick(pad(45));
            }
            const k = knob(t.card, data.key);
            const start = data.start !== undefined ? data.start : t.stored(data.key);
            compare(k.value, start);
            const before = project.undoText;
            turn(k, data.dy);
            let expected = Math.max(k.from, start + data.dy * (data.range / 160));
            // The root key is stored as a whole note.
            if (data.whole)
                expected = Math.round(expected);
            fuzzyCompare(t.stored(data.key), expected, data.within);
            compare(project.undoText, "Set instrument settings");
            fuzzyCompare(k.value, expected, data.within);
            if (data.card === "drums") {
                compare(track(t.id).instrumentConfig.pads[0][data.key], start);
                // Picking another pad shows its own value.
                mouseClick(pad(36));
                compare(k.value, start);
                mouseClick(pad(45));
            }
            project.undo();
            compare(project.undoText, before);
            fuzzyCompare(k.value, start, data.card === "fm" ? 1e-6 : 0);
            if (data.card === "drums")
                compare(t.stored(data.key), start);
        }

        function test_value_texts_data() {
            return [
                {tag: "sampler C4", card: "sampler", key: "root_note", v: 60, text: "C4"},
                {tag: "sampler C-1", card: "sampler", key: "root_note", v: 0, text: "C-1"},
                {tag: "sampler G9", card: "sampler", key: "root_note", v: 127, text: "G9"},
                {tag: "sampler gain", card: "sampler", key: "gain", v: 1, text: "100 %"},
                {tag: "sampler tune", card: "sampler", key: "tune_cents", v: -37.4, text: "-37 ct"},
                {tag: "sampler release", card: "sampler", key: "release_ms", v: 80.4, text: "80 ms"},
                {tag: "drum pad gain", card: "drums", key: "gain", v: 1, text: "100 %"},
                {tag: "drum pad tune", card: "drums", key: "tune_cents", v: -37.4, text: "-37 ct"},
                {tag: "drum pad release", card: "drums", key: "release_ms", v: 80, text: "80 ms"},
                {tag: "fm ratio", card: "fm", key: "op2_ratio", v: 1, text: "1.00x"},
                {tag: "fm quarter ratio", card: "fm", key: "op1_ratio", v: 0.25, text: "0.25x"},
                {tag: "fm level", card: "fm", key: "op1_level", v: 0.5, text: "50 %"},
                {tag: "fm feedback", card: "fm", key: "feedback", v: 0.25, text: "25 %"},
                {tag: "fm tune", card: "fm", key: "tune_cents", v: -12.6, text: "-13 ct"},
                {tag: "fm decay", card: "fm", key: "op3_decay_ms", v: 300, text: "300 ms"},
            ];
        }

        // The FM card reads a knob's unit from the module's table, the others go by its key.
        function test_value_texts(data) {
            if (data.card === "fm") {
                const card = createTemporaryObject(fmComponent, stage);
                compare(card.knobText(card.info[data.key], data.v), data.text);
            } else {
                compare(cardFor(data.card).card.knobText({key: data.key}, data.v), data.text);
            }
        }
    }
}
