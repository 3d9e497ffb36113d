#pragma once

#include <QString>
#include <QVariantMap>

namespace ostrel::app {

// One loaded theme. Colours are kept as the file's texts, every key of its "colors" object.
struct Theme {
    QString id;  // unique among the loaded themes, compared case-sensitively
    QString name;
    QVariantMap colors;
    QString fontFamily;  // "" when the file names none
    int baseFontSize = 14;
    int spacing = 8;
    int radius = 10;
    int order = 100;    // sort key of the theme list
    bool user = false;  // from the user themes folder or imported
};

// How much of the theme file format a file must meet: the built-in files are trusted to
// be readable; files from the user must pass every rule, contrast included.
enum class ThemeCheck { Trusted, Strict };

}  // namespace ostrel::app
