import QtQuick
import QtTest
import Ostrel.App

Item {
    id: stage

    width: 240
    height: 120

    // Icons on the theme's background, so that a grab sees what a person sees.
    Component {
        id: iconComponent

        Rectangle {
            property alias icon: drawn

            x: 20
            y: 20
            width: drawn.width
            height: drawn.height
            color: theme.colors.background

            CategoryIcon {
                id: drawn
            }
        }
    }

    TestCase {
        name: "CategoryIcon"
        when: windowShown

        // A grab takes what the window shows, so icons must not overlap.
        property int made: 0

        function cleanup() {
            theme.currentId = "graphite";
            made = 0;
        }

        function makeIcon(properties) {
            const holder = createTemporaryObject(iconComponent, stage, {x: (made % 10) * 22, y: 2 + Math.floor(made / 10) * 22});
            ++made;
            verify(holder);
            for (const key in properties)
                holder.icon[key] = properties[key];
            return holder;
        }

        // Nearer to the first colour than to the second: for lines thinner than a pixel.
        function leansTo(actual, colour, other) {
            const a = Qt.color(colour);
            const b = Qt.color(other);
            const da = Math.abs(actual.r - a.r) + Math.abs(actual.g - a.g) + Math.abs(actual.b - a.b);
            const db = Math.abs(actual.r - b.r) + Math.abs(actual.g - b.g) + Math.abs(actual.b - b.b);
            return da < db;
        }

        function near(actual, expected) {
            const e = Qt.color(expected);
            return Math.abs(actual.r - e.r) < 0.06 && Math.abs(actual.g - e.g) < 0.06 && Math.abs(actual.b - e.b) < 0.06;
        }

        // The grab once the canvas has painted what its properties say.
        function settledImage(holder, probe) {
            let image = null;
            tryVerify(() => {
                image = grabImage(holder);
                return probe(image);
            }, 5000, "the icon never painted as expected");
            return image;
        }

        function test_unknown_category_draws_a_dot_in_the_text_colour() {
            const holder = makeIcon({category: "kazoo"});
            compare(holder.icon.width, 20);
            const image = settledImage(holder, img => near(img.pixel(10, 10), theme.colors.text));
            verify(near(image.pixel(1, 1), theme.colors.background));
            verify(near(image.pixel(10, 5), theme.colors.background), "the dot has a radius of 3");
        }

        // Names compare exactly: "Synth" and "" draw the dot that "other" draws.
        function test_every_known_category_draws_its_own_picture() {
            const names = ["synth", "bass", "pad", "drums", "fx", "modular", "fm", "sampler", "midi", "other"];
            const images = [];
            const drawnOnce = holder => settledImage(holder, img => {
                for (let y = 0; y < 20; ++y)
                    for (let x = 0; x < 20; ++x)
                        if (near(img.pixel(x, y), theme.colors.text))
                            return true;
                return false;
            });
            for (const name of names) {
                const image = drawnOnce(makeIcon({category: name}));
                for (let i = 0; i < images.length; ++i)
                    verify(!image.equals(images[i]), name + " looks like " + names[i]);
                images.push(image);
            }
            for (const name of ["Synth", ""])
                verify(drawnOnce(makeIcon({category: name})).equals(images[images.length - 1]), name);
        }

        function test_at_size_16_the_drawing_scales_by_four_fifths() {
            // The base line of the saw: y 17.5 on the grid is 14 at size 16.
            const holder = makeIcon({category: "synth", size: 16});
            compare(holder.icon.height, 16);
            const image = settledImage(holder, img => leansTo(img.pixel(8, 14), theme.colors.text, theme.colors.background));
            verify(leansTo(image.pixel(8, 13), theme.colors.text, theme.colors.background));
            verify(near(image.pixel(8, 12), theme.colors.background));
            verify(near(image.pixel(8, 15), theme.colors.background));
        }

        function test_a_theme_change_repaints_default_and_bound_colours() {
            const plain = makeIcon({category: "midi"});
            const bound = makeIcon({category: ""});
            bound.icon.color = Qt.binding(() => theme.colors.accent);
            settledImage(plain, img => near(img.pixel(10, 2), theme.colors.text));
            settledImage(bound, img => near(img.pixel(10, 10), theme.colors.accent));
            theme.currentId = "light";
            settledImage(plain, img => near(img.pixel(10, 2), theme.colors.text));
            settledImage(bound, img => near(img.pixel(10, 10), theme.colors.accent));
        }
    }
}
