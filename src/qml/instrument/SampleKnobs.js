.pragma library
.import "Notes.js" as Notes

// The knobs of the cards that play recordings (the Sampler, a Drum Rack's pads): their value
// texts by key, and what a configuration holds for them.

function text(key, v) {
    if (key === "root_note")
        return Notes.name(Math.round(v));
    if (key === "gain")
        return Math.round(v * 100) + " %";
    if (key === "tune_cents")
        return Math.round(v) + " ct";
    return Math.round(v) + " ms";
}

// What `values` (a configuration or a pad; null or undefined for none) holds for the knob of
// `row` ({key, def, ...}), or the knob's default.
function stored(values, row) {
    return values && typeof values[row.key] === "number" ? values[row.key] : row.def;
}
