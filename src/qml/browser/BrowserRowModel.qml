import QtQuick

// The rows of a browser list. A rebuild keeps the rows that stay the same, first and last,
// and replaces only what lies between, so the row under the pointer lives on when a click
// folds or unfolds the list, and the second click of a double-click still finds it.
ListModel {
    // What the model holds now: plain maps of texts and numbers, all of one shape.
    property var shown: []

    function same(a, b) {
        return JSON.stringify(a) === JSON.stringify(b);
    }

    function assign(next) {
        const old = shown;
        let head = 0;
        while (head < old.length && head < next.length && same(old[head], next[head]))
            ++head;
        let tail = 0;
        while (tail < old.length - head && tail < next.length - head
               && same(old[old.length - 1 - tail], next[next.length - 1 - tail]))
            ++tail;
        if (old.length - head - tail > 0)
            remove(head, old.length - head - tail);
        for (let i = head; i < next.length - tail; ++i)
            insert(i, next[i]);
        shown = next;
    }
}
