#include "wizard/advertisement_view.h"

#include <QAbstractTextDocumentLayout>
#include <QMimeData>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextFormat>
#include <algorithm>

namespace upd::wizard {

QSizeF BlankImageHandler::intrinsicSize(QTextDocument*, int, const QTextFormat&) {
    return {0, 0};
}

void BlankImageHandler::drawObject(QPainter*, const QRectF&, QTextDocument*, int,
                                   const QTextFormat&) {}

AdvertisementDocument::AdvertisementDocument(QObject* parent)
    : QTextDocument(parent), m_images(new BlankImageHandler(this)) {
    // Asked before loadResource: a provider set for the whole program must not answer here.
    setResourceProvider([](const QUrl&) { return QVariant(); });
    useBlankImages();
    // A layout set later would start with Qt's own image handler again.
    connect(this, &QTextDocument::documentLayoutChanged, this,
            &AdvertisementDocument::useBlankImages);
}

QVariant AdvertisementDocument::loadResource(int, const QUrl&) {
    return {};
}

void AdvertisementDocument::useBlankImages() {
    documentLayout()->registerHandler(QTextFormat::ImageObject, m_images);
}

AdvertisementView::AdvertisementView(QWidget* parent) : QTextBrowser(parent) {
    setDocument(new AdvertisementDocument(this));
    setOpenLinks(false);
    setOpenExternalLinks(false);
}

QVariant AdvertisementView::loadResource(int, const QUrl&) {
    return {};
}

bool AdvertisementView::showsNothing() const {
    const QString shown = document()->toPlainText();
    return std::all_of(shown.cbegin(), shown.cend(), [](QChar c) {
        return c.isSpace() || !c.isPrint() || c == QChar::ObjectReplacementCharacter;
    });
}

QMimeData* AdvertisementView::createMimeDataFromSelection() const {
    auto* mime = new QMimeData;
    mime->setText(textCursor().selection().toPlainText());
    return mime;
}

}  // namespace upd::wizard
