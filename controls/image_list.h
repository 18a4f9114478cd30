// A list of icons addressed by index from 0, all drawn at one image size; list controls show
// their row icons from it. The list does not own the controls that use it; they watch it
// (changed()) and forget it when it is destroyed.
#pragma once

#include <QIcon>
#include <QObject>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <vector>

namespace upd::controls {

class ImageList : public QObject {
    Q_OBJECT

  public:
    explicit ImageList(QObject* parent = nullptr);

    // Size of every image in logical pixels (Qt scales it on high-dpi screens); 16 x 16
    // unless set. An empty or negative size is refused (returns false, nothing changes).
    bool setImageSize(QSize size);
    QSize imageSize() const { return m_imageSize; }

    // Appends an icon and returns its index; -1 (nothing added) for a null icon, such as a
    // QIcon made from a file that does not exist.
    int add(const QIcon& icon);
    // As add(QIcon(fileName)).
    int addFile(const QString& fileName);
    int count() const { return static_cast<int>(m_icons.size()); }
    // The icon at `index`; a null icon for an index out of range.
    QIcon icon(int index) const;
    // The icon at `index` drawn at imageSize() for a screen of this pixel ratio; a null
    // pixmap for an index out of range.
    QPixmap pixmap(int index, qreal devicePixelRatio = 1.0) const;
    void clear();

  signals:
    // The images or their size changed.
    void changed();

  private:
    QSize m_imageSize{16, 16};
    std::vector<QIcon> m_icons;
};

}  // namespace upd::controls
