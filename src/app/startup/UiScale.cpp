#include "app/startup/UiScale.h"

#include <QtGlobal>

namespace ostrel::app {

std::optional<QByteArray> scaleFactorFor(std::int64_t uiScale, const QByteArray& currentFactor) {
    if (uiScale == 100 || !currentFactor.isEmpty()) {
        return std::nullopt;
    }
    return QByteArray::number(static_cast<double>(uiScale) / 100.0, 'g', 6);
}

void applyUiScale(std::int64_t uiScale) {
    if (const std::optional<QByteArray> factor = scaleFactorFor(uiScale, qgetenv("QT_SCALE_FACTOR"))) {
        qputenv("QT_SCALE_FACTOR", *factor);
    }
}

double scaleFactorInEffect(const QByteArray& currentFactor) {
    bool ok = false;
    const double factor = currentFactor.trimmed().toDouble(&ok);
    return ok && factor > 0.0 ? factor : 1.0;
}

}  // namespace ostrel::app
