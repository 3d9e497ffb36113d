import QtQuick

// A canvas whose drawing fills it at every interface size. Below one device pixel to a pixel
// (an interface size under 100 %) Qt makes the canvas image that much smaller, but its painter
// does not scale down to it: unscaled, a drawing would lose its right and bottom part and the
// rest would be stretched over the item. Paint through `freshContext()`.
Canvas {
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
