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

// Between two colours: 0 gives a, 1 gives b.
function mix(a, b, t) {
    const from = Qt.lighter(a, 1);
    const to = Qt.lighter(b, 1);
    return Qt.rgba(from.r + (to.r - from.r) * t, from.g + (to.g - from.g) * t, from.b + (to.b - from.b) * t, 1);
}

// The colour on the way from `from` to `to` nearest `from` that stands `ratio`:1 off every
// colour of `against`, or `to` when none does.
function nearestStandingOff(from, to, against, ratio) {
    for (let step = 0; step < 20; ++step) {
        const c = mix(from, to, step / 20);
        if (against.every(b => contrast(c, b) >= ratio))
            return c;
    }
    return Qt.lighter(to, 1);
}

// By theme: worked out once for each set of colours, read by every control.
const made = {};

function remembered(key, make) {
    if (made[key] === undefined)
        made[key] = make();
    return made[key];
}

// The three surfaces controls sit on.
function surfaces(colors) {
    return [colors.background, colors.surface, colors.surfaceRaised];
}

// The edge of a control at rest (a button, a field, a switch, a knob's ring, a pad, a piano
// key): the theme's border colour, taken towards the muted text until it stands 3:1 off every
// surface, so a control is seen where it begins in every theme.
function outline(colors) {
    return remembered("outline " + colors.border + colors.textMuted + surfaces(colors).join(),
                      () => nearestStandingOff(colors.border, colors.textMuted, surfaces(colors), 3));
}

// The accent as an edge or a mark (a selected button, a switch that is on, a knob's value):
// taken towards the text colour where it stands less than 3:1 off a surface.
function accentEdge(colors) {
    return remembered("accent " + colors.accent + colors.text + surfaces(colors).join(),
                      () => nearestStandingOff(colors.accent, colors.text, surfaces(colors), 3));
}
