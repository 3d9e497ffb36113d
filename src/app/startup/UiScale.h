#pragma once

#include <QByteArray>

#include <cstdint>
#include <optional>

namespace ostrel::app {

// The QT_SCALE_FACTOR that appearance.ui_scale asks for: scale / 100 in the shortest form
// with six significant digits ("1.25" for 125). None for 100, and none when the
// environment already sets the factor (currentFactor non-empty), which always wins.
std::optional<QByteArray> scaleFactorFor(std::int64_t uiScale, const QByteArray& currentFactor);

// Sets QT_SCALE_FACTOR by that rule. Before the application object exists, so Qt applies it.
void applyUiScale(std::int64_t uiScale);

// The factor Qt scales the whole program by, read from QT_SCALE_FACTOR's value: 1 when it is
// empty or not a positive number, as Qt takes it.
double scaleFactorInEffect(const QByteArray& currentFactor);

}  // namespace ostrel::app
