// The advertisement area of the finish page. Its rich text comes from the maker's server over
// plain http, unsigned, so anyone on the way may have written it. The view shows the text and
// nothing the text refers to: no image, style sheet or background is ever loaded, whether
// the reference names a file, a file: URL, a device, a named pipe (which would hang the
// window), a data: URL or a remote address. Images take no room. A link opens nothing: a
// click or Return only raises anchorClicked, which the page leaves unhandled.
//
// Qt's rich text reads local files in three places, and each is closed here:
//  - QTextBrowser::loadResource opens any path or file: URL (overridden: nothing);
//  - QTextDocument::loadResource does the same when its owner returns nothing, and decodes
//    data: URLs (the view's document is an AdvertisementDocument: nothing, for every name);
//  - the default image handler, when the document gives no image, loads the image's name as
//    a file itself (replaced by BlankImageHandler, which never asks for one).
// Copying or dragging a selection hands out plain text only: the rich copy would write the
// images out and read their names as files again.
//
// Ownership: the view owns its document, the document owns its image handler. Use setHtml
// as with any QTextBrowser; setDocument would lose all of this.
#pragma once

#include <QTextBrowser>
#include <QTextDocument>
#include <QTextObjectInterface>

namespace upd::wizard {

// Lays out every image as an empty object of no size and draws nothing.
class BlankImageHandler : public QObject, public QTextObjectInterface {
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)

  public:
    explicit BlankImageHandler(QObject* parent) : QObject(parent) {}

    QSizeF intrinsicSize(QTextDocument* document, int position, const QTextFormat& format) override;
    void drawObject(QPainter* painter, const QRectF& rect, QTextDocument* document, int position,
                    const QTextFormat& format) override;
};

// A document that knows no resources: every look-up, by any name, finds nothing.
class AdvertisementDocument : public QTextDocument {
    Q_OBJECT

  public:
    explicit AdvertisementDocument(QObject* parent);

  protected:
    QVariant loadResource(int type, const QUrl& name) override;

  private:
    void useBlankImages();

    BlankImageHandler* m_images;
};

class AdvertisementView : public QTextBrowser {
    Q_OBJECT

  public:
    explicit AdvertisementView(QWidget* parent = nullptr);

    QVariant loadResource(int type, const QUrl& name) override;
    // True when the text shows a reader nothing: no character but spaces, format characters
    // (a zero-width space) and the places of images, which take no room here. The finish
    // page then shows its own summary instead.
    bool showsNothing() const;

  protected:
    QMimeData* createMimeDataFromSelection() const override;
};

}  // namespace upd::wizard
