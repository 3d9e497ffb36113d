.pragma library

// Notes as the editors and cards read them: names of MIDI pitches, and a clip's note list as
// `project.clipNotes` gives it, five texts a note (id, pitch, velocity, start, length).

const names = ["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"];

// "C4" for 60, "C-1" for 0.
function name(pitch) {
    return names[((pitch % 12) + 12) % 12] + (Math.floor(pitch / 12) - 1);
}

function isBlack(pitch) {
    const pc = ((pitch % 12) + 12) % 12;
    return pc === 1 || pc === 3 || pc === 6 || pc === 8 || pc === 10;
}

// Records {id, pitch, velocity, start, length} in the stored order, whole groups of five only:
// texts after the last whole group are left out. The texts carry six significant digits;
// `exact`, the clip map's note list ([pitch, start, length] a note, same order), gives start
// and length exactly when it has one entry for each whole group, so an edit never writes a
// rounded time back.
function read(texts, exact) {
    const sameCount = exact.length * 5 === texts.length - texts.length % 5;
    const notes = [];
    for (let i = 0; i + 4 < texts.length; i += 5) {
        const k = i / 5;
        notes.push({
            id: texts[i],
            pitch: parseInt(texts[i + 1]),
            velocity: parseInt(texts[i + 2]),
            start: sameCount ? exact[k][1] : parseFloat(texts[i + 3]),
            length: sameCount ? exact[k][2] : parseFloat(texts[i + 4])
        });
    }
    return notes;
}

// The note of pad `index` of a 4 × 4 grid laid out row by row from the top left, when the
// bottom-left pad plays `first`: the notes run upward from the bottom left, like a drum
// machine's.
function padNote(first, index) {
    return first + (3 - Math.floor(index / 4)) * 4 + index % 4;
}
