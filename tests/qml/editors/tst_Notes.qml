import QtQuick
import QtTest
import Ostrel.App

// Notes.js, the note names and the reading of a clip's note texts that the piano roll and
// the step grid share.
TestCase {
    name: "Notes"

    function test_read_data() {
        const a = ["a", "60", "100", "1.33333", "0.25"];
        const readA = {id: "a", pitch: 60, velocity: 100, start: 1.33333, length: 0.25};
        const exactA = {id: "a", pitch: 60, velocity: 100, start: 4 / 3, length: 0.25};
        return [
            {tag: "no texts", texts: [], exact: [], notes: []},
            {tag: "the texts' times without the clip's", texts: a, exact: [], notes: [readA]},
            {tag: "the clip's exact times when there is one for each note", texts: a, exact: [[60, 4 / 3, 0.25]],
             notes: [exactA]},
            {tag: "the texts' times when the counts differ", texts: a, exact: [[60, 4 / 3, 0.25], [62, 2, 1]],
             notes: [readA]},
            {tag: "two notes in order", texts: ["b", "62", "90", "2", "1"].concat(a), exact: [],
             notes: [{id: "b", pitch: 62, velocity: 90, start: 2, length: 1}, readA]},
            {tag: "four texts are no note", texts: a.slice(0, 4), exact: [], notes: []},
            // A list whose length is not a multiple of five: the tail is left out, and the
            // exact times count against the whole notes only.
            {tag: "a tail is left out", texts: a.concat(["b", "62"]), exact: [[60, 4 / 3, 0.25]], notes: [exactA]},
        ];
    }

    function test_read(data) {
        compare(Notes.read(data.texts, data.exact), data.notes);
    }

    function test_names_data() {
        return [
            {tag: "middle C", pitch: 60, name: "C4", black: false},
            {tag: "lowest", pitch: 0, name: "C-1", black: false},
            {tag: "highest", pitch: 127, name: "G9", black: false},
            {tag: "C sharp", pitch: 61, name: "C#4", black: true},
            {tag: "B flat", pitch: 70, name: "A#4", black: true},
            {tag: "below the range", pitch: -1, name: "B-2", black: false},
        ];
    }

    function test_names(data) {
        compare(Notes.name(data.pitch), data.name);
        compare(Notes.isBlack(data.pitch), data.black);
    }

    function test_pads_count_upward_from_the_bottom_left_data() {
        return [
            {tag: "top left", first: 36, index: 0, note: 48},
            {tag: "top right", first: 36, index: 3, note: 51},
            {tag: "bottom left", first: 36, index: 12, note: 36},
            {tag: "bottom right", first: 60, index: 15, note: 63},
        ];
    }

    function test_pads_count_upward_from_the_bottom_left(data) {
        compare(Notes.padNote(data.first, data.index), data.note);
    }
}
