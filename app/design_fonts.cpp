#include "app/design_fonts.h"

#include <QStringList>

namespace upd::app {
namespace {

// Liberation Sans has Arial's widths, so texts fit the widths the windows were laid out
// for where it is installed; DejaVu Sans is on every Debian desktop.
const QStringList kSansFaces{"MS Sans Serif",   "Microsoft Sans Serif", "Arial",
                             "Liberation Sans", "DejaVu Sans",          "WenQuanYi Micro Hei"};
const QStringList kArialFaces{"Arial", "Liberation Sans", "DejaVu Sans", "WenQuanYi Micro Hei"};
const QStringList kSimSunFaces{
    "SimSun",           "宋体",       "NSimSun", "AR PL UMing CN", "WenQuanYi Micro Hei",
    "Noto Sans CJK SC", "DejaVu Sans"};

QFont makeFont(const QStringList& faces, qreal points, bool bold) {
    QFont font;
    font.setFamilies(faces);
    font.setPointSizeF(points);
    font.setBold(bold);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace

QFont controlFont() {
    return makeFont(kSansFaces, 8, false);
}

QFont titleFontArial() {
    return makeFont(kArialFaces, 12, true);
}

QFont titleFontSimSun() {
    return makeFont(kSimSunFaces, 12, true);
}

QFont simSun9Font() {
    return makeFont(kSimSunFaces, 9, false);
}

QFont systemBoldFont() {
    return makeFont(kSansFaces, 9, true);
}

}  // namespace upd::app
