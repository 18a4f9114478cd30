// The fonts the windows were designed with, and the fonts that stand in for them here. Each
// is a list of faces: the design face first, then faces with the same widths, then faces
// every Debian desktop has. Chinese text takes its glyphs from the CJK font installed with
// the program (WenQuanYi Micro Hei, package fonts-wqy-microhei) when the face chosen has none.
#pragma once

#include <QFont>

namespace upd::app {

// Labels, buttons, text boxes and lists: 8 pt sans serif.
QFont controlFont();
// Page titles on the header band: 12 pt bold, Arial or SimSun (宋体).
QFont titleFontArial();
QFont titleFontSimSun();
// The server list: SimSun 9 pt.
QFont simSun9Font();
// The bold "System" font of the welcome text.
QFont systemBoldFont();

}  // namespace upd::app
