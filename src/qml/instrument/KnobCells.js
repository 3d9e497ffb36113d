.pragma library

// The sizes of a captioned knob on a device card, in pixels: the caption over the knob, with
// room under it for the value shown while it turns. The FM card's are smaller, so that its
// four operators and the general knobs fit a laptop's effects view, and closer still in an
// effects view too narrow for them, as the smallest window's is.
const width = 70;
const height = 62;
const fmWidth = 52;
const fmHeight = 58;
const fmNarrowWidth = 44;
// Shorter, round a smaller knob, where even narrow cells leave the FM card wider than its view.
const fmCompactHeight = 51;
