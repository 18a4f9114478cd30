#include "controls/image_list.h"

#include <QPainter>

namespace upd::controls {

ImageList::ImageList(QObject* parent) : QObject(parent) {}

bool ImageList::setImageSize(QSize size) {
    if (size.width() <= 0 || size.height() <= 0) {
        return false;
    }
    if (size != m_imageSize) {
        m_imageSize = size;
        emit changed();
    }
    return true;
}

int ImageList::add(const QIcon& icon) {
    if (icon.isNull()) {
        return -1;
    }
    m_icons.push_back(icon);
    emit changed();
    return count() - 1;
}

int ImageList::addFile(const QString& fileName) {
    // A QIcon made from a path is never null, even when the file is missing or unreadable;
    // only drawing it tells.
    const QIcon icon(fileName);
    if (icon.pixmap(m_imageSize).isNull()) {
        return -1;
    }
    return add(icon);
}

QIcon ImageList::icon(int index) const {
    if (index < 0 || index >= count()) {
        return {};
    }
    return m_icons[static_cast<std::size_t>(index)];
}

QPixmap ImageList::pixmap(int index, qreal devicePixelRatio) const {
    if (index < 0 || index >= count()) {
        return {};
    }
    const QIcon& icon = m_icons[static_cast<std::size_t>(index)];
    const QSize target = m_imageSize * devicePixelRatio;
    QPixmap drawn = icon.pixmap(m_imageSize, devicePixelRatio);
    if (drawn.size() == target || drawn.isNull()) {
        return drawn;
    }
    // An icon never grows beyond its largest picture by itself: scale it, keeping its
    // proportions, and centre it in the image size.
    QPixmap scaled = drawn.scaled(target, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(1.0);  // drawn below in device pixels
    QPixmap image(target);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.drawPixmap((target.width() - scaled.width()) / 2,
                           (target.height() - scaled.height()) / 2, scaled);
    }
    image.setDevicePixelRatio(devicePixelRatio);
    return image;
}

void ImageList::clear() {
    if (m_icons.empty()) {
        return;
    }
    m_icons.clear();
    emit changed();
}

}  // namespace upd::controls
