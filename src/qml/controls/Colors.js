.pragma library

// Theme colours arrive as texts; lighter by 1 turns a text (or a colour) into a colour.

function withAlpha(c, alpha) {
    const rgb = Qt.lighter(c, 1);
    return Qt.rgba(rgb.r, rgb.g, rgb.b, alpha);
}

// Relative luminance, 0 for black to 1 for white, as contrast ratios are reckoned.
function luminance(c) {
    const rgb = Qt.lighter(c, 1);
    const linear = v => v <= 0.03928 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4);
    return 0.2126 * linear(rgb.r) + 0.7152 * linear(rgb.g) + 0.0722 * linear(rgb.b);
}

// From 1:1 (the same) to 21:1 (black on white).
function contrast(a, b) {
    const la = luminance(a);
    const lb = luminance(b);
    return (Math.max(la, lb) + 0.05) / (Math.min(la, lb) + 0.05);
}

// The first candidate that stands `ratio`:1 off `against`, else the one that stands out most.
function standingOut(candidates, against, ratio) {
    let best = candidates[0];
    for (const c of candidates) {
        if (contrast(c, against) >= ratio)
            return c;
        if (contrast(c, against) > contrast(best, against))
            best = c;
    }
    return best;
}
