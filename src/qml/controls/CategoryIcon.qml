import QtQuick

// A small vector picture for a kind of instrument or device, drawn on a 20 x 20 grid
// and scaled to `size`, so it stays sharp and follows the theme.
ScaledCanvas {
    id: root

    // "synth", "bass", "pad", "drums", "fx", "modular", "fm", "sampler" or "midi";
    // anything else, letter case included, draws a dot.
    property string category: ""
    property color color: theme.colors.text
    property int size: 20

    width: size
    height: size
    implicitWidth: size
    implicitHeight: size
    antialiasing: true
    // Decorative: the name beside it says the same in words.
    Accessible.ignored: true

    onCategoryChanged: requestPaint()
    onColorChanged: requestPaint()
    onSizeChanged: requestPaint()

    Connections {
        target: theme
        function onThemeChanged() { root.requestPaint(); }
    }

    onPaint: {
        const ctx = freshContext();
        const u = size / 20;
        ctx.strokeStyle = root.color;
        ctx.fillStyle = root.color;
        ctx.lineWidth = 1.6 * u;
        ctx.lineCap = "round";
        ctx.lineJoin = "round";

        function stroke() { ctx.stroke(); ctx.beginPath(); }
        function fill() { ctx.fill(); ctx.beginPath(); }
        function line(x1, y1, x2, y2) { ctx.moveTo(x1 * u, y1 * u); ctx.lineTo(x2 * u, y2 * u); stroke(); }
        function circle(x, y, r) { ctx.moveTo((x + r) * u, y * u); ctx.arc(x * u, y * u, r * u, 0, 2 * Math.PI, false); }

        ctx.beginPath();
        switch (category) {
        case "synth": {
            const saw = [[2, 14], [8, 5], [8, 14], [14, 5], [14, 14], [18, 8]];
            ctx.moveTo(saw[0][0] * u, saw[0][1] * u);
            for (let i = 1; i < saw.length; ++i)
                ctx.lineTo(saw[i][0] * u, saw[i][1] * u);
            stroke();
            line(2, 17.5, 18, 17.5);
            break;
        }
        case "bass": {
            const cone = [[3, 8], [7, 8], [11.5, 4], [11.5, 16], [7, 12], [3, 12]];
            ctx.moveTo(cone[0][0] * u, cone[0][1] * u);
            for (let i = 1; i < cone.length; ++i)
                ctx.lineTo(cone[i][0] * u, cone[i][1] * u);
            ctx.closePath();
            stroke();
            ctx.arc(11.5 * u, 10 * u, 4 * u, -0.9, 0.9, false);
            stroke();
            ctx.arc(11.5 * u, 10 * u, 7 * u, -0.9, 0.9, false);
            stroke();
            break;
        }
        case "pad":
            for (let i = 0; i < 3; ++i) {
                const y = 4 + 5 * i;
                ctx.moveTo(4 * u, (y + 2) * u);
                ctx.quadraticCurveTo(10 * u, (y - 3) * u, 16 * u, (y + 2) * u);
                stroke();
            }
            break;
        case "drums":
            ctx.ellipse(3 * u, 9 * u, 14 * u, 5 * u);
            stroke();
            ctx.moveTo(3 * u, 11.5 * u);
            ctx.lineTo(3 * u, 16 * u);
            ctx.quadraticCurveTo(10 * u, 19.5 * u, 17 * u, 16 * u);
            ctx.lineTo(17 * u, 11.5 * u);
            stroke();
            line(5, 2, 11, 8);
            line(15, 2, 9, 8);
            break;
        case "fx":
            ctx.moveTo(10 * u, 2 * u);
            ctx.quadraticCurveTo(10.8 * u, 9.2 * u, 18 * u, 10 * u);
            ctx.quadraticCurveTo(10.8 * u, 10.8 * u, 10 * u, 18 * u);
            ctx.quadraticCurveTo(9.2 * u, 10.8 * u, 2 * u, 10 * u);
            ctx.quadraticCurveTo(9.2 * u, 9.2 * u, 10 * u, 2 * u);
            ctx.closePath();
            stroke();
            circle(16, 4, 1.2);
            fill();
            break;
        case "modular":
            circle(4.5, 6, 2.6);
            stroke();
            circle(15.5, 14, 2.6);
            stroke();
            ctx.moveTo(6.5 * u, 7.8 * u);
            ctx.bezierCurveTo(11 * u, 12 * u, 9 * u, 8 * u, 13.5 * u, 12.2 * u);
            stroke();
            break;
        case "fm":
            for (let k = 0; k <= 32; ++k) {
                const x = 2 + k * 0.5;
                const y = 10 - 6 * Math.sin(0.62 * x + 2.3 * Math.sin(1.5 * x));
                if (k === 0)
                    ctx.moveTo(x * u, y * u);
                else
                    ctx.lineTo(x * u, y * u);
            }
            stroke();
            break;
        case "sampler": {
            const heights = [4, 9, 14, 8, 12, 5];
            for (let i = 0; i < heights.length; ++i) {
                const x = 3 + 2.8 * i;
                line(x, 10 - heights[i] / 2, x, 10 + heights[i] / 2);
            }
            break;
        }
        case "midi":
            circle(10, 10, 7.5);
            stroke();
            for (let i = 0; i < 5; ++i) {
                const a = Math.PI * (1.15 + 0.175 * i);
                circle(10 + 4.2 * Math.cos(a), 10 + 4.2 * Math.sin(a), 1);
                fill();
            }
            break;
        default:
            circle(10, 10, 3);
            fill();
            break;
        }
    }
}
