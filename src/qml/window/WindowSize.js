.pragma library

// The window's least size in its own units, which the interface size scales on screen: at
// 200 % it still fits a 1920 x 1080 screen less a desktop panel and a title bar.
const minimumWidth = 940;
const minimumHeight = 500;
// Below this height the top bar folds away and the timeline keeps only one track row and
// its ruler, so the detail panel below has what its views need.
const shortBelow = 640;
const timelineLeast = 170;
const shortTimelineLeast = 120;
