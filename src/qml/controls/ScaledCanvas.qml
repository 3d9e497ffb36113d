import QtQuick
import "TextSize.js" as TextSize

// A canvas whose drawing fills it at every interface size. Below one device pixel to a pixel
// (an interface size under 100 %) Qt makes the canvas image that much smaller, but its painter
// does not scale down to it: unscaled, a drawing would lose its right and bottom part and the
// rest would be stretched over the item. Paint through `freshContext()`, and write letters in
// `fontOf(pixelSize)`, which keeps them as high on screen as a text item's.
Canvas {
    // The context's font for letters `pixelSize` high, raised as TextSize raises a text's. Where
    // the theme's family is not installed the canvas takes the system's sans-serif, as a text
    // item would.
    function fontOf(pixelSize) {
        return TextSize.atLeast(pixelSize, Screen.devicePixelRatio) + "px \"" + theme.fontFamily + "\", sans-serif";
    }

    // The 2D context, cleared, its drawing scaled to the canvas image.
    function freshContext() {
        const ctx = getContext("2d");
        ctx.reset();
        const shrink = Math.min(1, Screen.devicePixelRatio);
        ctx.scale(shrink, shrink);
        return ctx;
    }

    Screen.onDevicePixelRatioChanged: requestPaint()
}
