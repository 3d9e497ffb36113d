import QtQuick
import QtTest
import Ostrel.App

// The real window with the demonstration song at the smallest, the first and a large window
// size (and two sizes between) and at the interface sizes 75, 100 and 200 %, switched through
// the instrument screen's views, the piano roll, the pages of the Settings sheet and, last,
// an empty song. It looks
// where things land on screen: every visible control lies inside the window, inside the panels
// and cards it sits on and inside every clipping ancestor that cannot scroll it into view; no
// text is cut short that is whole at the first size; and every drawing (knobs, icons, the
// ruler, clips, the piano roll) is at 75 and 200 % the drawing it is at 100 %. Each interface
// size is a screen of its own, which Qt scales as QT_SCALE_FACTOR scales the program
// (QmlTestSetup.cpp).
Item {
    id: stage

    width: 1200
    height: 600

    Component { id: mainComponent; Main {} }

    // Where a drawing is looked at, one device pixel to a pixel, on a colour no drawing uses.
    Rectangle {
        id: backdrop

        width: 1200
        height: 600
        color: "#ff00ff"

        Image { id: viewer }
    }

    TestCase {
        id: testCase

        name: "MainWindowFit"
        when: windowShown

        readonly property var sizes: [[1320, 860], [940, 640], [2560, 1440]]
        readonly property var interfaceSizes: [100, 75, 200]
        // Between the smallest and the first size the play card shares its width out.
        readonly property var sizesBetween: [[1060, 700], [1180, 760]]
        // The instrument screen's views on the demonstration song's tracks, the piano roll,
        // then the pages of the Settings sheet.
        readonly property var views: [
            {name: "keys", view: "keys", track: "Lead"},
            {name: "pads", view: "keys", track: "Drums", pads: true},
            {name: "grid", view: "grid", track: "Drums"},
            {name: "fx", view: "fx", track: "Lead"},
            {name: "fx FM", view: "fx", track: "Keys"},
            {name: "fx Sampler", view: "fx", track: "Chords"},
            {name: "fx Drum Rack", view: "fx", track: "Beat"},
            {name: "piano roll", tab: 2, track: "Lead"},
            {name: "settings appearance", page: "appearance"},
            {name: "settings audio", page: "audio"},
            {name: "settings midi", page: "midi"},
            {name: "settings instrument", page: "instrument"},
            {name: "settings api", page: "api"},
            {name: "settings logging", page: "logging"},
            {name: "settings about", page: "about"},
            {name: "empty song", emptySong: true}
        ]
        // At the first window size and interface size: by view, the boxes of the texts
        // ({elided, width}), and the drawings ({left, top, right, bottom, middleX, middleY}),
        // by the path with its numbers and ids left out.
        property var firstSize: null

        function init() {
            testHost.resetControllers();
            settings.setValue("appearance.reduce_motion", true);
        }

        function cleanup() {
            wait(0);
            viewer.source = "";
            testHost.resetControllers();
            testHost.emptyFolder(project.samplesDirectory);
            project.refreshSamples();
        }

        // The window with the song on the screen of an interface size, drawn at its first size
        // and then resized, as a person would, to a size.
        function makeWindow(width, height, interfaceSize) {
            const screen = Array.from(Qt.application.screens).find(s => s.name === "interface-" + interfaceSize);
            verify(screen, "no screen for " + interfaceSize + " %");
            testHost.buildDemoSong();
            const window = createTemporaryObject(mainComponent, stage,
                                                 {x: screen.virtualX + 10, y: screen.virtualY + 10});
            verify(window);
            window.transientParent = null;
            waitForRendering(window.contentItem);
            window.width = width;
            window.height = height;
            compare(window.screen.name, screen.name);
            compare([window.width, window.height], [width, height]);
            waitForRendering(window.contentItem);
            return window;
        }

        function track(name) {
            const found = Array.from(project.tracks).find(t => t.name === name);
            verify(found, "no track " + name);
            return found;
        }

        function show(window, view) {
            const detail = findChild(window.contentItem, "detail");
            const sheet = findChild(window.contentItem, "settingsPanel");
            if (view.page !== undefined) {
                window.openSettings(view.page);
                tryCompare(sheet, "visible", true);
            } else if (view.emptySong) {
                if (sheet.visible)
                    sheet.close();
                tryCompare(sheet, "visible", false);
                // Twice: the second press discards the unsaved song.
                project.newProject();
                project.newProject();
                compare(project.tracks.length, 0);
            } else {
                if (sheet.visible)
                    sheet.close();
                tryCompare(sheet, "visible", false);
                const timeline = findChild(window.contentItem, "timeline");
                const shown = track(view.track);
                timeline.selectedTrack = shown.id;
                // The first clip in the step grid, as the step demonstration shows it, and in
                // the piano roll.
                if (view.view === "grid" || view.tab === 2)
                    timeline.selectedClip = shown.clipList[0].id;
                detail.tab = view.tab !== undefined ? view.tab : 0;
                if (view.view !== undefined) {
                    detail.playCard.view = view.view;
                    detail.playCard.padMode = view.pads === true;
                }
            }
            waitForRendering(window.contentItem);
        }

        // What QML calls an item's type: "FlatButton", "QQuickText" ...
        function typeOf(item) {
            return String(item).replace(/(_QMLTYPE|_QML_|\()[^]*$/, "");
        }

        function pathOf(item, root) {
            const names = [];
            for (let at = item; at && at !== root; at = at.parent)
                names.unshift(at.objectName !== "" ? at.objectName : typeOf(at));
            return names.join("/");
        }

        // The path without what differs between songs and rows: ids and numbers.
        function patternOf(path) {
            return path.replace(/[0-9a-f]{8}-[0-9a-f-]{27}/g, "#").replace(/\d+/g, "#");
        }

        function rectText(r) {
            return "[" + [r.x, r.y, r.width, r.height].map(v => Math.round(v * 10) / 10).join(", ") + "]";
        }

        // Every visible item under the window's root, less the body while the Settings sheet
        // covers it.
        function visibleItems(window) {
            const root = window.contentItem.parent;
            const sheetOpen = findChild(window.contentItem, "settingsPanel").visible;
            const found = [];
            const visit = item => {
                if (!item.visible || item.opacity === 0 || (sheetOpen && item.objectName === "body"))
                    return;
                found.push(item);
                for (let i = 0; i < item.children.length; ++i)
                    visit(item.children[i]);
            };
            visit(root);
            return found;
        }

        function isControl(item) {
            if (item instanceof FlatButton || item instanceof Knob || item instanceof Toggle
                    || item instanceof FlatTextField || item instanceof FlatSlider || item instanceof CategoryIcon)
                return true;
            return item instanceof Text && item.text.trim() !== "";
        }

        // A view that brings the rest of its content into sight along an axis: a Flickable
        // that can move that way, or a timeline lane, which scrolls sideways with the song.
        function scrollsAlong(item, axis) {
            if (item instanceof Flickable)
                return axis === "x" ? item.contentWidth > item.width + 0.5 : item.contentHeight > item.height + 0.5;
            return axis === "x" && item.objectName === "lane";
        }

        // What bounds an item on screen: clipping ancestors and the panels and cards it lies on.
        function bounds(item) {
            return item.clip === true || item instanceof Panel || item instanceof Card || item instanceof DeviceCard
                    || item instanceof TransportBar;
        }

        // A control cut by the window, a panel or card, or a clip that cannot scroll it into
        // view, with its path and rectangle; "" when it is whole. Only what a scrolling view
        // shows of it must be whole.
        function cutControl(item, root) {
            const slack = 0.5;
            const whole = item.mapToItem(root, 0, 0, item.width, item.height);
            let left = whole.x, top = whole.y, right = whole.x + whole.width, bottom = whole.y + whole.height;
            for (let at = item.parent; at && at !== root; at = at.parent) {
                if (at.clip !== true)
                    continue;
                const area = at.mapToItem(root, 0, 0, at.width, at.height);
                if (scrollsAlong(at, "x")) {
                    left = Math.max(left, area.x);
                    right = Math.min(right, area.x + area.width);
                }
                if (scrollsAlong(at, "y")) {
                    top = Math.max(top, area.y);
                    bottom = Math.min(bottom, area.y + area.height);
                }
            }
            if (right <= left || bottom <= top)
                return "";
            const within = box => left >= box.x - slack && top >= box.y - slack
                                  && right <= box.x + box.width + slack && bottom <= box.y + box.height + slack;
            let outside = within(Qt.rect(0, 0, root.width, root.height)) ? "" : "the window";
            for (let at = item.parent; at && at !== root && outside === ""; at = at.parent) {
                if (bounds(at) && !within(at.mapToItem(root, 0, 0, at.width, at.height)))
                    outside = pathOf(at, root) + " " + rectText(at.mapToItem(root, 0, 0, at.width, at.height));
            }
            if (outside === "")
                return "";
            return pathOf(item, root) + " " + rectText(whole) + (item instanceof Text ? " \"" + item.text + "\"" : "")
                    + " is cut by " + outside;
        }

        // The boxes of the visible texts: {path, pattern, text, elided, width, natural, wraps}.
        function textBoxes(window) {
            const root = window.contentItem.parent;
            return visibleItems(window).filter(item => item instanceof Text && item.text !== "").map(item => {
                const path = pathOf(item, root);
                return {path: path, pattern: patternOf(path), text: item.text, elided: item.truncated,
                        width: item.width, natural: item.implicitWidth, wraps: item.wrapMode !== Text.NoWrap};
            });
        }

        // The visible canvases by path pattern, the first of each.
        function canvases(window) {
            const root = window.contentItem.parent;
            const found = {};
            for (const item of visibleItems(window)) {
                if (!(item instanceof Canvas) || item.width < 1 || item.height < 1)
                    continue;
                const pattern = patternOf(pathOf(item, root));
                if (found[pattern] === undefined)
                    found[pattern] = item;
            }
            return found;
        }

        // Where a canvas draws, in item pixels, as it shows on screen: the box of what it
        // draws and its middle. A long canvas is looked at every few pixels along its length.
        function drawnBox(canvas) {
            const width = Math.min(backdrop.width, Math.ceil(canvas.width));
            const height = Math.min(backdrop.height, Math.ceil(canvas.height));
            let url = "";
            verify(canvas.grabToImage(result => url = String(result.url), Qt.size(Math.ceil(canvas.width), Math.ceil(canvas.height))));
            tryVerify(() => url !== "", 5000, "no picture of " + canvas);
            viewer.source = url;
            tryCompare(viewer, "status", Image.Ready);
            waitForRendering(backdrop);
            const picture = grabImage(backdrop);
            const stepX = Math.ceil(width / 400);
            const stepY = Math.ceil(height / 400);
            let box = null;
            let count = 0, sumX = 0, sumY = 0;
            for (let y = 0; y < height; y += stepY) {
                for (let x = 0; x < width; x += stepX) {
                    const p = picture.pixel(x, y);
                    if (Math.abs(p.r - 1) + p.g + Math.abs(p.b - 1) < 0.25)
                        continue;
                    ++count;
                    sumX += x;
                    sumY += y;
                    box = box === null ? {left: x, top: y, right: x, bottom: y}
                                       : {left: Math.min(box.left, x), top: Math.min(box.top, y),
                                          right: Math.max(box.right, x), bottom: Math.max(box.bottom, y)};
                }
            }
            viewer.source = "";
            if (box !== null) {
                box.step = Math.max(stepX, stepY);
                box.middleX = Math.round(sumX / count * 10) / 10;
                box.middleY = Math.round(sumY / count * 10) / 10;
            }
            return box;
        }

        // A drawing cut short and stretched over its item moves its edges and its middle.
        function sameDrawing(drawn, expected) {
            if (drawn === null || expected === null)
                return drawn === expected;
            const near = (a, b, within) => Math.abs(a - b) <= within + expected.step;
            return near(drawn.left, expected.left, 2) && near(drawn.top, expected.top, 2)
                    && near(drawn.right, expected.right, 2) && near(drawn.bottom, expected.bottom, 2)
                    && near(drawn.middleX, expected.middleX, 1) && near(drawn.middleY, expected.middleY, 1);
        }

        // At the first window size and interface size, by view: text boxes and drawings.
        function atFirstSize() {
            if (firstSize !== null)
                return firstSize;
            const window = makeWindow(sizes[0][0], sizes[0][1], 100);
            const texts = {};
            const drawings = {};
            for (const view of views) {
                show(window, view);
                const boxes = {};
                for (const box of textBoxes(window)) {
                    const known = boxes[box.pattern];
                    boxes[box.pattern] = {elided: box.elided || (known !== undefined && known.elided),
                                          width: Math.max(box.width, known !== undefined ? known.width : 0)};
                }
                texts[view.name] = boxes;
                const shown = canvases(window);
                for (const pattern in shown) {
                    if (drawings[pattern] === undefined)
                        drawings[pattern] = drawnBox(shown[pattern]);
                }
            }
            window.destroy();
            testHost.resetControllers();
            firstSize = {texts: texts, drawings: drawings};
            return firstSize;
        }

        // A text cut short here that is whole at the first size: it is cut there too, or its
        // one line is wider than its box there.
        function cutShort(box, atFirstSize) {
            if (!box.elided)
                return false;
            const there = atFirstSize[box.pattern];
            if (there !== undefined && (there.elided || (!box.wraps && box.natural > there.width + 0.5)))
                return false;
            return true;
        }

        // The drawings not yet compared in this window that differ from the same drawings at
        // 100 %; only at the first window size, where every canvas has the same size.
        function changedDrawings(window, drawings, compared) {
            const root = window.contentItem.parent;
            const found = [];
            const shown = canvases(window);
            for (const pattern in shown) {
                if (compared[pattern] || drawings[pattern] === undefined)
                    continue;
                compared[pattern] = true;
                const drawn = drawnBox(shown[pattern]);
                if (!sameDrawing(drawn, drawings[pattern]))
                    found.push(pathOf(shown[pattern], root) + " draws in " + JSON.stringify(drawn) + ", at 100 % in "
                               + JSON.stringify(drawings[pattern]));
            }
            return found;
        }

        function test_every_control_is_whole_data() {
            const rows = [];
            const row = (size, interfaceSize) => ({tag: size[0] + "x" + size[1] + " at " + interfaceSize + " %",
                                                   width: size[0], height: size[1], interfaceSize: interfaceSize});
            for (const interfaceSize of interfaceSizes) {
                for (const size of sizes)
                    rows.push(row(size, interfaceSize));
            }
            return rows.concat(sizesBetween.map(size => row(size, 100)));
        }

        function test_every_control_is_whole(data) {
            const first = atFirstSize();
            const window = makeWindow(data.width, data.height, data.interfaceSize);
            const root = window.contentItem.parent;
            const drawingsCompared = data.interfaceSize !== 100 && data.width === sizes[0][0] && data.height === sizes[0][1];
            const compared = {};
            let problems = [];
            for (const view of views) {
                show(window, view);
                const cut = visibleItems(window).filter(isControl).map(item => cutControl(item, root)).filter(t => t !== "");
                const shortened = textBoxes(window).filter(box => cutShort(box, first.texts[view.name]))
                                                   .map(box => box.path + " \"" + box.text + "\" is cut short, "
                                                        + box.width + " wide for " + Math.ceil(box.natural));
                const drawn = drawingsCompared ? changedDrawings(window, first.drawings, compared) : [];
                problems = problems.concat(cut.concat(shortened, drawn).map(p => view.name + ": " + p));
            }
            // Each on a line of its own, whole; the failure names the first.
            problems.forEach(problem => console.warn(problem));
            verify(problems.length === 0, problems.length + " problems, the first: " + problems[0]);
        }
    }
}
