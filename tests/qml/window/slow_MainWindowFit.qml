import QtQuick
import QtTest
import Ostrel.App
import "../Contrast.js" as Contrast

// The real window with the demonstration song at the smallest, the first and a large window
// size (and two sizes between), at the screens people have (a laptop's 1366 x 768 and a
// 1920 x 1080 screen, at 100 % and, less a desktop panel, at the interface sizes 125, 150 and
// 200 %), at the interface sizes 75, 100 and 200 % and in the light theme, switched through
// the instrument screen's views, the piano roll, the pages of the Settings sheet and, last,
// an empty song. It looks
// where things land on screen: every visible control lies inside the window, inside the panels
// and cards it sits on and inside every clipping ancestor that cannot scroll it into view; no
// two controls overlap (a scroll bar, a clip and a step of the step grid count as controls);
// every text paints inside its own box and the box it is drawn on, is at least 7 pixels high
// on screen (letters a canvas draws too), and is not cut short when it is whole at the first
// size; the panels end where the help strip begins; at 1366 wide and more every card of the
// effects view is whole without scrolling sideways, and the FM card's four operators at
// every size; each Settings page opens at its top; and every drawing (knobs, icons, the
// ruler, clips, the piano roll) is at 75 and 200 % the drawing it is at 100 %. Each interface
// size is a screen of its own, which Qt scales as QT_SCALE_FACTOR scales the program
// (QmlTestSetup.cpp). In every built-in theme it measures, in the picture, that texts stand
// 4.5:1 and the edges of controls, scroll-bar handles and a menu's edge 3:1 off what is
// behind them.
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

    // The ink of one line of text.
    TextMetrics { id: ink }

    TestCase {
        id: testCase

        name: "MainWindowFit"
        when: windowShown

        readonly property var sizes: [[1320, 860], [940, 640], [2560, 1440]]
        readonly property var interfaceSizes: [100, 75, 200]
        // Between the smallest and the first size the play card shares its width out.
        readonly property var sizesBetween: [[1060, 700], [1180, 760]]
        // The screens people have, whole at 100 %, and at the larger interface sizes less a
        // desktop panel of 40 pixels: {width, height} of the window, the interface size and
        // the screen, in pixels.
        readonly property var screensPeopleHave: [
            {width: 1366, height: 768, interfaceSize: 100, screen: "1366x768"},
            {width: 1920, height: 1080, interfaceSize: 100, screen: "1920x1080"},
            {width: 1093, height: 582, interfaceSize: 125, screen: "1366x768"},
            {width: 1280, height: 693, interfaceSize: 150, screen: "1920x1080"},
            {width: 960, height: 520, interfaceSize: 200, screen: "1920x1080"}
        ]
        // The smallest window, whose top bar folds away.
        readonly property var smallestSize: [940, 500]
        // The light theme, the palest of the five, at the laptop's sizes and the smallest.
        readonly property var lightSizes: [[1366, 768, 100], [1093, 582, 125], [940, 500, 100]]
        // From this window width up, every card of the effects view is whole without
        // scrolling sideways.
        readonly property int wholeEffectsFrom: 1366
        // The least height of text on screen, in pixels.
        readonly property real smallestText: 7
        // The desktop panel a screen loses, in pixels.
        readonly property int desktopPanel: 40
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

        // The theme and the interface size setting the suites run with, given back after each test.
        property string startTheme: ""
        property int startInterfaceSize: 100

        function initTestCase() {
            startTheme = theme.currentId;
            startInterfaceSize = settings.value("appearance.ui_scale");
        }

        function init() {
            testHost.resetControllers();
            settings.setValue("appearance.reduce_motion", true);
        }

        function cleanup() {
            wait(0);
            theme.currentId = startTheme;
            settings.setValue("appearance.ui_scale", startInterfaceSize);
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
                // Each page as it opens, not as the page before left the sheet.
                if (sheet.visible)
                    sheet.close();
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
                    || item instanceof FlatTextField || item instanceof FlatSlider || item instanceof CategoryIcon
                    || item instanceof ThinScrollBar || item instanceof ClipBox)
                return true;
            // A step of the step grid, which a click places a note on.
            if (item instanceof Rectangle && /^cell\d+$/.test(item.objectName))
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
            const own = item instanceof Text ? linesBox(item) : Qt.rect(0, 0, item.width, item.height);
            const whole = item.mapToItem(root, own.x, own.y, own.width, own.height);
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

        function intersect(a, b) {
            const left = Math.max(a.x, b.x), top = Math.max(a.y, b.y);
            const right = Math.min(a.x + a.width, b.x + b.width), bottom = Math.min(a.y + a.height, b.y + b.height);
            return Qt.rect(left, top, Math.max(0, right - left), Math.max(0, bottom - top));
        }

        function contains(outer, inner, slack) {
            return inner.x >= outer.x - slack && inner.y >= outer.y - slack
                    && inner.x + inner.width <= outer.x + outer.width + slack
                    && inner.y + inner.height <= outer.y + outer.height + slack;
        }

        // The box of a text's lines, in its own coordinates: its content placed by its
        // alignment within its padding.
        function linesBox(text) {
            const innerWidth = text.width - text.leftPadding - text.rightPadding;
            const innerHeight = text.height - text.topPadding - text.bottomPadding;
            const across = text.effectiveHorizontalAlignment;
            const down = text.verticalAlignment;
            const dx = across === Text.AlignRight ? innerWidth - text.contentWidth
                     : across === Text.AlignHCenter ? (innerWidth - text.contentWidth) / 2 : 0;
            const dy = down === Text.AlignBottom ? innerHeight - text.contentHeight
                     : down === Text.AlignVCenter ? (innerHeight - text.contentHeight) / 2 : 0;
            return Qt.rect(text.leftPadding + dx, text.topPadding + dy, text.contentWidth, text.contentHeight);
        }

        // Where a text paints, in its own coordinates: the ink of its one line, or its lines.
        function glyphBox(text) {
            const lines = linesBox(text);
            if (text.lineCount !== 1 || text.truncated || text.textFormat === Text.RichText)
                return lines;
            ink.font = text.font;
            ink.text = text.text;
            const tight = ink.tightBoundingRect;
            return Qt.rect(lines.x + tight.x, text.baselineOffset + tight.y, tight.width, tight.height);
        }

        // What of an item shows on screen, in the root's coordinates: its box (a text's painted
        // lines) within every clipping ancestor.
        function shownRect(item, root) {
            const own = item instanceof Text ? glyphBox(item) : Qt.rect(0, 0, item.width, item.height);
            let shown = item.mapToItem(root, own.x, own.y, own.width, own.height);
            for (let at = item.parent; at && at !== root; at = at.parent) {
                if (at.clip === true)
                    shown = intersect(shown, at.mapToItem(root, 0, 0, at.width, at.height));
            }
            return intersect(shown, Qt.rect(0, 0, root.width, root.height));
        }

        function isAncestor(ancestor, item) {
            for (let at = item.parent; at; at = at.parent) {
                if (at === ancestor)
                    return true;
            }
            return false;
        }

        // Visible controls whose shown parts overlap by more than a pixel each way, when neither
        // holds the other (a button's label, a knob's value).
        function overlaps(window) {
            const root = window.contentItem.parent;
            const shown = visibleItems(window).filter(isControl).map(item => ({item: item, rect: shownRect(item, root)}))
                                              .filter(s => s.rect.width > 0 && s.rect.height > 0)
                                              .sort((a, b) => a.rect.x - b.rect.x);
            const found = [];
            for (let i = 0; i < shown.length; ++i) {
                const a = shown[i];
                for (let j = i + 1; j < shown.length && shown[j].rect.x < a.rect.x + a.rect.width - 1; ++j) {
                    const b = shown[j];
                    const both = intersect(a.rect, b.rect);
                    if (both.width <= 1 || both.height <= 1 || isAncestor(a.item, b.item) || isAncestor(b.item, a.item))
                        continue;
                    found.push(pathOf(a.item, root) + " " + rectText(a.rect) + " overlaps " + pathOf(b.item, root) + " "
                               + rectText(b.rect));
                }
            }
            return found;
        }

        // The nearest ancestor that draws a box a text sits on (a filled or edged rectangle, a
        // button, a field), unless a scrolling view lies between them.
        function drawnBoxOf(item, root) {
            for (let at = item.parent; at && at !== root; at = at.parent) {
                if (at instanceof Flickable)
                    return null;
                if (at instanceof FlatButton || at instanceof FlatTextField)
                    return at;
                if (at instanceof Rectangle && at.width >= 4 && at.height >= 4 && (at.color.a > 0 || at.border.width > 0))
                    return at;
            }
            return null;
        }

        // Texts that paint beyond their own box or the box they are drawn on: a label cut, or
        // about to be cut, by its box instead of shortened or left out.
        function textsPastTheirBox(window) {
            const root = window.contentItem.parent;
            const found = [];
            for (const text of visibleItems(window).filter(item => item instanceof Text && item.text.trim() !== "")) {
                const glyphs = glyphBox(text);
                const onScreen = text.mapToItem(root, glyphs.x, glyphs.y, glyphs.width, glyphs.height);
                const box = drawnBoxOf(text, root);
                let past = "";
                if (!contains(Qt.rect(0, 0, text.width, text.height), linesBox(text), 1))
                    past = "its box " + rectText(text.mapToItem(root, 0, 0, text.width, text.height));
                else if (box !== null && !contains(box.mapToItem(root, 0, 0, box.width, box.height), onScreen, 0.5))
                    past = pathOf(box, root) + " " + rectText(box.mapToItem(root, 0, 0, box.width, box.height));
                if (past !== "")
                    found.push(pathOf(text, root) + " \"" + text.text + "\" paints in " + rectText(onScreen)
                               + ", past " + past);
            }
            return found;
        }

        // How high a text's letters stand on screen: its pixel size through every scale above
        // it and the screen's device pixels.
        function screenPixelSize(text, window) {
            let size = text.font.pixelSize > 0 ? text.font.pixelSize : text.font.pointSize * 4 / 3;
            for (let at = text; at; at = at.parent)
                size *= at.scale;
            return size * window.screen.devicePixelRatio;
        }

        // The letters a canvas draws stand as high as the font its last painting set
        // (QFont's text: family, point size, pixel size, ...), through the same scales.
        function canvasTextSize(canvas, window) {
            const fields = String(canvas.getContext("2d").font).split(",");
            const pixels = Number(fields[2]);
            let size = pixels > 0 ? pixels : Number(fields[1]) * 4 / 3;
            for (let at = canvas; at; at = at.parent)
                size *= at.scale;
            return size * window.screen.devicePixelRatio;
        }

        function smallTexts(window) {
            const root = window.contentItem.parent;
            const shown = visibleItems(window);
            const texts = shown.filter(item => item instanceof Text && item.text.trim() !== "")
                    .filter(text => screenPixelSize(text, window) < smallestText - 0.01)
                    .map(text => pathOf(text, root) + " \"" + text.text + "\" is "
                                 + screenPixelSize(text, window).toFixed(2) + " px on screen");
            const drawn = shown.filter(item => item instanceof Canvas && item.width >= 1 && item.height >= 1)
                    .filter(canvas => canvasTextSize(canvas, window) < smallestText - 0.01)
                    .map(canvas => pathOf(canvas, root) + " draws letters " + canvasTextSize(canvas, window).toFixed(2)
                                   + " px high on screen");
            return texts.concat(drawn);
        }

        // The panels of the body end where the window's content does: none runs under the help
        // strip or past the window's edge.
        function panelsPastTheBody(window) {
            const root = window.contentItem.parent;
            const content = window.contentItem.mapToItem(root, 0, 0, window.contentItem.width, window.contentItem.height);
            return visibleItems(window).filter(item => item instanceof Panel && item.width > 0 && item.height > 0)
                    .map(panel => ({panel: panel, rect: panel.mapToItem(root, 0, 0, panel.width, panel.height)}))
                    .filter(p => !contains(content, p.rect, 0.5))
                    .map(p => pathOf(p.panel, root) + " " + rectText(p.rect) + " runs past the window's content "
                              + rectText(content));
        }

        // The cards of the effects view that are wider than the view, so part of them is seen
        // only by scrolling sideways.
        function effectsSeenOnlySideways(window) {
            const root = window.contentItem.parent;
            const chain = findChild(window.contentItem, "chainView");
            if (!chain || !chain.visible)
                return [];
            const row = findChild(chain, "chainRow");
            const found = [];
            for (let i = 0; i < row.children.length; ++i) {
                const card = row.children[i];
                if (card.visible && card.width > chain.width + 0.5)
                    found.push(pathOf(card, root) + " is " + Math.round(card.width) + " wide in an effects view "
                               + Math.round(chain.width) + " wide");
            }
            return found;
        }

        // The operators of the FM card that the effects view does not show whole, so they are
        // seen only by scrolling sideways.
        function fmOperatorsOutOfSight(window) {
            const root = window.contentItem.parent;
            const chain = findChild(window.contentItem, "chainView");
            const card = chain ? findChild(chain, "fmCard") : null;
            if (!card || !card.visible)
                return [];
            const seen = shownBox(chain, root);
            const found = [];
            for (let i = 1; i <= 4; ++i) {
                const operator = findChild(card, "operator" + i);
                const box = operator.mapToItem(root, 0, 0, operator.width, operator.height);
                if (!contains(seen, box, 0.5))
                    found.push(pathOf(operator, root) + " " + rectText(box) + " lies outside the effects view "
                               + rectText(seen));
            }
            return found;
        }

        // A Settings page that opens scrolled: its first row (the page's own section, else its
        // first setting) does not begin at the top of its view.
        function firstRowOutOfView(window, view) {
            if (view.page === undefined)
                return [];
            const root = window.contentItem.parent;
            const list = findChild(window.contentItem, "rowList");
            if (!list.visible)
                return [];
            let first = null;
            const header = list.headerItem;
            for (let i = 0; header && i < header.children.length && first === null; ++i) {
                const part = header.children[i];
                if (part.visible && part.height > 0.5)
                    first = part;
            }
            if (first === null)
                first = list.itemAtIndex(0);
            if (first === null)
                return [];
            const box = first.mapToItem(list, 0, 0, first.width, Math.min(first.height, list.height));
            if (box.y >= -0.5 && box.y + box.height <= list.height + 0.5)
                return [];
            return [pathOf(first, root) + " lies at " + rectText(box) + " in its view, " + Math.round(list.width)
                    + " x " + Math.round(list.height)];
        }

        // The boxes of the visible texts: {path, pattern, text, elided, width, natural, wraps}.
        function textBoxes(window) {
            const root = window.contentItem.parent;
            return visibleItems(window).filter(item => item instanceof Text && item.text !== "").map(item => {
                const path = pathOf(item, root);
                return {path: path, pattern: patternOf(path), text: item.text, elided: item.truncated,
                        width: item.width, natural: item.implicitWidth, wraps: item.wrapMode !== Text.NoWrap,
                        size: item.font.pixelSize};
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
                                          width: Math.max(box.width, known !== undefined ? known.width : 0),
                                          size: box.size};
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

        // A text cut short here that is whole at the first size: it is cut there too, its one
        // line is wider than its box there, or its letters are larger here, raised to what a
        // screen under one device pixel to a pixel shows legibly.
        function cutShort(box, atFirstSize) {
            if (!box.elided)
                return false;
            const there = atFirstSize[box.pattern];
            if (there !== undefined && (there.elided || box.size > there.size || (!box.wraps && box.natural > there.width + 0.5)))
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
                                                   width: size[0], height: size[1], interfaceSize: interfaceSize,
                                                   themeId: ""});
            for (const interfaceSize of interfaceSizes) {
                for (const size of sizes)
                    rows.push(row(size, interfaceSize));
            }
            for (const size of sizesBetween.concat([smallestSize]))
                rows.push(row(size, 100));
            for (const screen of screensPeopleHave) {
                const made = row([screen.width, screen.height], screen.interfaceSize);
                made.tag += " on a " + screen.screen + " screen";
                rows.push(made);
            }
            for (const size of lightSizes) {
                const made = row(size, size[2]);
                made.tag += " in the light theme";
                made.themeId = "light";
                rows.push(made);
            }
            return rows;
        }

        function test_every_control_is_whole(data) {
            const first = atFirstSize();
            if (data.themeId !== "")
                theme.currentId = data.themeId;
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
                const sideways = view.view === "fx" && data.width >= wholeEffectsFrom ? effectsSeenOnlySideways(window) : [];
                const found = cut.concat(shortened, drawn, sideways, overlaps(window), textsPastTheirBox(window),
                                         smallTexts(window), panelsPastTheBody(window), fmOperatorsOutOfSight(window),
                                         firstRowOutOfView(window, view));
                problems = problems.concat(found.map(p => view.name + ": " + p));
            }
            // Each on a line of its own, whole; the failure names the first.
            problems.forEach(problem => console.warn(problem));
            verify(problems.length === 0, problems.length + " problems, the first: " + problems[0]);
        }

        // The smallest window, at each interface size offered, on the screens people have less a
        // desktop panel; and the window opens within its screen. On a 1366 x 768 screen at 150 %
        // the smallest window does not fit: the window opens at its smallest size with its top
        // left corner on the screen, and the interface size's row says so in the screen's own
        // pixels (911 x 512 units there, which times 1.5 would make 1366.5 x 768).
        function test_the_window_fits_the_screen_data() {
            return [{tag: "125 % on 1366 x 768", interfaceSize: 125, screen: [1366, 768]},
                    {tag: "150 % on 1920 x 1080", interfaceSize: 150, screen: [1920, 1080]},
                    {tag: "200 % on 1920 x 1080", interfaceSize: 200, screen: [1920, 1080]},
                    {tag: "150 % on 1366 x 768", interfaceSize: 150, screen: [1366, 768], screenName: "laptop-150",
                     warning: "At 150 % the smallest window is 1410 × 750 pixels, larger than the 1366 × 768 this screen has free: part of the window would lie off the screen."}];
        }

        function test_the_window_fits_the_screen(data) {
            const name = data.screenName !== undefined ? data.screenName : "interface-" + data.interfaceSize;
            const screen = Array.from(Qt.application.screens).find(s => s.name === name);
            verify(screen, "no screen " + name);
            const factor = data.interfaceSize / 100;
            compare(screen.devicePixelRatio, factor);
            testHost.setInterfaceScale(factor);
            testHost.buildDemoSong();
            const window = createTemporaryObject(mainComponent, stage, {x: screen.virtualX, y: screen.virtualY});
            verify(window);
            waitForRendering(window.contentItem);
            compare(window.screen.name, name);
            const fits = data.warning === undefined;
            verify(window.minimumWidth * factor <= data.screen[0] && window.minimumHeight * factor <= data.screen[1] - desktopPanel
                   || !fits,
                   "the smallest window, " + window.minimumWidth + " x " + window.minimumHeight + ", is "
                   + Math.round(window.minimumWidth * factor) + " x " + Math.round(window.minimumHeight * factor)
                   + " pixels on a screen of " + data.screen[0] + " x " + data.screen[1] + " less a panel");
            if (fits) {
                verify(window.width <= screen.desktopAvailableWidth && window.height <= screen.desktopAvailableHeight,
                       "the window opens at " + window.width + " x " + window.height + " on a screen of "
                       + screen.desktopAvailableWidth + " x " + screen.desktopAvailableHeight);
            } else {
                compare([window.width, window.height], [window.minimumWidth, window.minimumHeight]);
                verify(window.x >= screen.virtualX && window.y >= screen.virtualY
                       && window.x < screen.virtualX + screen.width && window.y < screen.virtualY + screen.height,
                       "the window opens at " + window.x + ", " + window.y + ", off its screen at " + screen.virtualX
                       + ", " + screen.virtualY);
            }
            settings.setValue("appearance.ui_scale", data.interfaceSize);
            window.openSettings("appearance");
            const list = findChild(window.contentItem, "rowList");
            const index = Array.from(list.model).findIndex(entry => entry.id === "appearance.ui_scale");
            list.positionViewAtIndex(index, ListView.Contain);
            waitForRendering(window.contentItem);
            const warning = findChild(list.itemAtIndex(index), "sizeWarning");
            compare(warning.text, fits ? "" : data.warning);
        }

        // A pixel of the picture, or null outside it.
        function pixelAt(picture, x, y) {
            if (x < 0 || y < 0 || x >= picture.width || y >= picture.height)
                return null;
            return picture.pixel(Math.floor(x), Math.floor(y));
        }

        // In the picture, the most common of a few pixels: what lies behind a control or a text.
        function backdropAt(picture, points) {
            const counts = {};
            let best = null;
            for (const p of points) {
                const c = pixelAt(picture, p.x, p.y);
                if (c === null)
                    continue;
                const key = [c.r, c.g, c.b].map(v => Math.round(v * 255)).join(",");
                counts[key] = (counts[key] || 0) + 1;
                if (best === null || counts[key] > counts[best.key])
                    best = {key: key, color: c};
            }
            return best !== null ? best.color : null;
        }

        function opacityOf(item) {
            let opacity = 1;
            for (let at = item; at; at = at.parent)
                opacity *= at.opacity;
            return opacity;
        }

        function enabledAll(item) {
            for (let at = item; at; at = at.parent) {
                if (at.enabled === false)
                    return false;
            }
            return true;
        }

        // A colour drawn at an opacity over a backdrop.
        function over(c, backdrop, opacity) {
            const colour = Qt.lighter(c, 1);
            const a = colour.a * opacity;
            return {r: colour.r * a + backdrop.r * (1 - a), g: colour.g * a + backdrop.g * (1 - a),
                    b: colour.b * a + backdrop.b * (1 - a)};
        }

        // Pixels round a box in the root's coordinates, from one to four pixels outside it.
        function around(r) {
            const points = [];
            for (let gap = 1; gap <= 4; ++gap) {
                for (let i = 1; i < 4; ++i) {
                    points.push({x: r.x + r.width * i / 4, y: r.y - gap}, {x: r.x + r.width * i / 4, y: r.y + r.height + gap - 1});
                    points.push({x: r.x - gap, y: r.y + r.height * i / 4}, {x: r.x + r.width + gap - 1, y: r.y + r.height * i / 4});
                }
            }
            return points;
        }

        // The part of an item's box that shows, in the root's coordinates.
        function shownBox(item, root) {
            let shown = item.mapToItem(root, 0, 0, item.width, item.height);
            for (let at = item.parent; at && at !== root; at = at.parent) {
                if (at.clip === true)
                    shown = intersect(shown, at.mapToItem(root, 0, 0, at.width, at.height));
            }
            return intersect(shown, Qt.rect(0, 0, root.width, root.height));
        }

        // The texts that stand less than 4.5:1 off what lies behind them (3:1 from 24 px, or
        // 19 px in bold), as the picture shows them; a disabled control's text is let be.
        function faintTexts(window, picture) {
            const root = window.contentItem.parent;
            const found = [];
            for (const text of visibleItems(window).filter(item => item instanceof Text && item.text.trim() !== "")) {
                const glyphs = glyphBox(text);
                if (!enabledAll(text) || !contains(shownBox(text, root), text.mapToItem(root, glyphs.x, glyphs.y, glyphs.width, glyphs.height), 0.5))
                    continue;
                const backdrop = backdropAt(picture, around(text.mapToItem(root, glyphs.x, glyphs.y, glyphs.width, glyphs.height)));
                if (backdrop === null)
                    continue;
                const size = text.font.pixelSize;
                const large = size >= 24 || (size >= 19 && text.font.weight >= Font.DemiBold);
                const ratio = Contrast.ratio(over(text.color, backdrop, opacityOf(text)), backdrop);
                if (ratio < (large ? 3 : 4.5))
                    found.push(pathOf(text, root) + " \"" + text.text + "\" stands " + ratio.toFixed(2) + ":1 off "
                               + backdrop);
            }
            return found;
        }

        // What sets a control off what lies behind it: the edge of a button, a field, a switch,
        // a pad or a white piano key, or its fill where that stands out more. A knob's ring is
        // measured in the picture, across its left and its right side.
        function edgeAndFill(item) {
            if (item instanceof FlatButton || item instanceof FlatTextField) {
                const back = item.background;
                return [back.border.width > 0 ? back.border.color : back.color, back.color];
            }
            const box = item instanceof Toggle ? item.children[0] : item;
            return [box.border.color, box.color];
        }

        function isEdged(item) {
            if (item instanceof FlatButton || item instanceof FlatTextField || item instanceof Toggle)
                return true;
            return item instanceof Rectangle && (/^pad\d+$/.test(item.objectName)
                                                 || (/^key\d+$/.test(item.objectName) && item.black === false));
        }

        function ringContrast(knob, picture, root, backdrop, side) {
            const edge = knob.mapToItem(root, knob.width / 2 + side * knob.size / 2, knob.size / 2);
            let ring = 1;
            for (let step = 0; step < 8; ++step) {
                const p = pixelAt(picture, edge.x - side * (step + 0.5), edge.y);
                if (p !== null)
                    ring = Math.max(ring, Contrast.ratio(p, backdrop));
            }
            return ring;
        }

        function faintEdges(window, picture) {
            const root = window.contentItem.parent;
            const found = [];
            for (const item of visibleItems(window)) {
                if (!(item instanceof Knob || isEdged(item)) || !enabledAll(item))
                    continue;
                const box = item.mapToItem(root, 0, 0, item.width, item.height);
                if (!contains(shownBox(item, root), box, 0.5))
                    continue;
                const backdrop = backdropAt(picture, around(box));
                if (backdrop === null)
                    continue;
                if (item instanceof Knob) {
                    const ring = Math.min(ringContrast(item, picture, root, backdrop, -1),
                                          ringContrast(item, picture, root, backdrop, 1));
                    if (ring < 3)
                        found.push(pathOf(item, root) + " rings " + ring.toFixed(2) + ":1 off " + backdrop);
                    continue;
                }
                const opacity = opacityOf(item);
                const ratio = Math.max(...edgeAndFill(item).map(c => Contrast.ratio(over(c, backdrop, opacity), backdrop)));
                if (ratio < 3)
                    found.push(pathOf(item, root) + " is edged " + ratio.toFixed(2) + ":1 off " + backdrop);
            }
            return found;
        }

        // Scroll-bar handles that stand less than 3:1 off what lies around them, measured in the
        // picture across the handle's middle.
        function faintScrollBars(window, picture) {
            const root = window.contentItem.parent;
            const found = [];
            for (const bar of visibleItems(window).filter(item => item instanceof ThinScrollBar)) {
                const handle = bar.contentItem.children[0];
                const box = handle.mapToItem(root, 0, 0, handle.width, handle.height);
                if (box.width < 1 || box.height < 1 || !contains(shownBox(handle, root), box, 0.5))
                    continue;
                const backdrop = backdropAt(picture, around(box));
                const middle = pixelAt(picture, box.x + box.width / 2, box.y + box.height / 2);
                if (backdrop === null || middle === null)
                    continue;
                const ratio = Contrast.ratio(middle, backdrop);
                if (ratio < 3)
                    found.push(pathOf(bar, root) + " has a handle " + ratio.toFixed(2) + ":1 off " + backdrop);
            }
            return found;
        }

        // A menu's edge against the window it opens over: along its lower side, the edge's
        // pixels against the most common of the four pixels below them.
        function faintMenuEdge(window, menu, picture) {
            const root = window.contentItem.parent;
            const back = menu.background;
            const box = back.mapToItem(root, 0, 0, back.width, back.height);
            const edge = [];
            const below = [];
            for (let i = 1; i < 4; ++i) {
                const x = box.x + box.width * i / 4;
                edge.push(pixelAt(picture, x, box.y + box.height - 0.5));
                for (let gap = 1; gap <= 4; ++gap)
                    below.push({x: x, y: box.y + box.height + gap - 0.5});
            }
            const backdrop = backdropAt(picture, below);
            verify(backdrop !== null && edge.every(p => p !== null), "the menu's lower edge " + rectText(box) + " is off the window");
            const ratio = Math.min(...edge.map(p => Contrast.ratio(p, backdrop)));
            return ratio < 3 ? [menu.title + " menu " + rectText(box) + " is edged " + ratio.toFixed(2) + ":1 off " + backdrop] : [];
        }

        // The window at the laptop's size, in each built-in theme, on the views where controls
        // and texts sit on every surface: the keys, the pads, the step grid, each card of the
        // effects view, the piano roll and a page of settings.
        function test_texts_and_controls_stand_out_in_every_theme_data() {
            return Contrast.themeRows();
        }

        function test_texts_and_controls_stand_out_in_every_theme(data) {
            theme.currentId = data.themeId;
            const window = makeWindow(1366, 768, 100);
            const root = window.contentItem.parent;
            let problems = [];
            for (const view of views.filter(v => v.name !== "empty song" && (v.page === undefined || v.page === "appearance"))) {
                show(window, view);
                const picture = grabImage(root);
                problems = problems.concat(faintTexts(window, picture).concat(faintEdges(window, picture),
                                                                             faintScrollBars(window, picture))
                                           .map(p => view.name + ": " + p));
            }
            findChild(window.contentItem, "settingsPanel").close();
            window.openMenu(0);
            const menu = window.menuBar.menuAt(0);
            tryCompare(menu, "opened", true);
            waitForRendering(window.contentItem);
            problems = problems.concat(faintMenuEdge(window, menu, grabImage(root)));
            menu.close();
            problems.forEach(problem => console.warn(problem));
            verify(problems.length === 0, problems.length + " problems, the first: " + problems[0]);
        }
    }
}
