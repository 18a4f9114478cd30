#include "wizard/artwork.h"

#include <QFile>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initArtworkResources() {
    Q_INIT_RESOURCE(artwork);
}

namespace upd::wizard::artwork {

void initResources() {
    static const bool done = [] {
        initArtworkResources();
        return true;
    }();
    static_cast<void>(done);
}

QString picturePath(const QString& name) {
    return QStringLiteral(":/images/%1.png").arg(name);
}

QString headerPicture() {
    return QStringLiteral("header");
}

QString sidePicture(PageId page) {
    switch (page) {
        case PageId::Welcome:
            return QStringLiteral("side_welcome");
        case PageId::Server:
            return QStringLiteral("side_server");
        case PageId::InfoDownload:
        case PageId::FileDownload:
            return QStringLiteral("side_download");
        case PageId::Analysis:
            return QStringLiteral("side_news");
        case PageId::Finish:
            return QStringLiteral("side_finish");
    }
    return {};
}

QIcon icon(const QString& name) {
    initResources();
    QIcon result;
    if (!QFile::exists(picturePath(name))) {
        return result;
    }
    result.addFile(picturePath(name));
    const QString doubleSize = QStringLiteral(":/images/%1@2x.png").arg(name);
    if (QFile::exists(doubleSize)) {
        result.addFile(doubleSize);
    }
    return result;
}

QIcon programIcon() {
    return icon(QStringLiteral("program"));
}

QIcon serverIcon() {
    return icon(QStringLiteral("server"));
}

}  // namespace upd::wizard::artwork
