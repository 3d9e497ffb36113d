.pragma library

// Contrast ratios of colours as a picture shows them (r, g, b from 0 to 1), reckoned as the
// usual guidance for controls does: 1 for the same colour up to 21 for black on white.

function luminance(c) {
    const linear = v => v <= 0.03928 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4);
    return 0.2126 * linear(c.r) + 0.7152 * linear(c.g) + 0.0722 * linear(c.b);
}

function ratio(a, b) {
    const la = luminance(a);
    const lb = luminance(b);
    return (Math.max(la, lb) + 0.05) / (Math.min(la, lb) + 0.05);
}

// The five themes the program carries.
const builtInThemes = ["graphite", "dark", "steel", "light", "high-contrast"];

function themeRows() {
    return builtInThemes.map(id => ({tag: id, themeId: id}));
}
