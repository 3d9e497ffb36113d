#include "app/project/SongFileName.h"

#include <QRegularExpression>

namespace ostrel::app {

QString songFileBase(const QString& songName) {
    // Compiled once per process; matching works on code points, so a character outside the
    // basic plane becomes one "_" like any other.
    static const QRegularExpression kNotAllowed(QStringLiteral("[^A-Za-z0-9 _-]"));
    QString base = songName.trimmed();
    base.replace(kNotAllowed, QStringLiteral("_"));
    return base.isEmpty() ? QStringLiteral("Untitled") : base;
}

}  // namespace ostrel::app
