// Layout in twips: 1440 to the inch, so 15 to a logical pixel at 96 dpi. Qt scales logical
// pixels for high-dpi screens.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace upd::app {

// Twips to logical pixels, to the nearest pixel (values are never negative).
constexpr int twips(int value) {
    return (value + 7) / 15;
}

// A rectangle given as left, top, width, height in twips. The edges are rounded, not the
// sizes, so that controls whose edges meet in twips meet on screen.
inline QRect twipsRect(int left, int top, int width, int height) {
    return QRect(QPoint(twips(left), twips(top)),
                 QPoint(twips(left + width) - 1, twips(top + height) - 1));
}

inline QSize twipsSize(int width, int height) {
    return QSize(twips(width), twips(height));
}

}  // namespace upd::app
