.pragma library

// No text stands smaller on screen than this many device pixels, at any interface size.
const leastOnScreen = 7;

// A text's pixel size, raised where the screen's scale (below one device pixel to a pixel,
// an interface size under 100 %) would draw it smaller than `leastOnScreen`.
function atLeast(pixelSize, devicePixelRatio) {
    return Math.max(pixelSize, Math.ceil(leastOnScreen / devicePixelRatio - 0.001));
}
