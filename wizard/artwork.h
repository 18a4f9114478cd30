// The wizard's pictures and icons, compiled in from resources/artwork.qrc. Each picture
// comes at two sizes: "<name>.png" for 100 % and "<name>@2x.png" for 200 % screens.
#pragma once

#include <QIcon>
#include <QString>

#include "wizard/navigation.h"

namespace upd::wizard::artwork {

// Registers the compiled-in resources (they live in a static library, whose initialiser
// the linker would otherwise drop). Safe to call more than once.
void initResources();

// Resource path of a picture at 100 %: ":/images/<name>.png".
QString picturePath(const QString& name);

// The header band of every page.
QString headerPicture();
// The side picture of a page; pages 2 and 4 share theirs.
QString sidePicture(PageId page);

// An icon with both sizes, by name: "program", "server" (image 0 of the server page),
// "file" and "package" (a file and the full package in the download list),
// "state_downloading" and "state_done" (the download list's state icons). A null icon for
// any other name.
QIcon icon(const QString& name);
QIcon programIcon();
QIcon serverIcon();

}  // namespace upd::wizard::artwork
