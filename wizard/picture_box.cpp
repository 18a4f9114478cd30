#include "wizard/picture_box.h"

#include <QPainter>

#include "wizard/artwork.h"

namespace upd::wizard {

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

bool PictureBox::setPicture(const QString& name) {
    artwork::initResources();
    m_name = name;
    m_normal = QPixmap(artwork::picturePath(name));
    m_double = QPixmap(QStringLiteral(":/images/%1@2x.png").arg(name));
    update();
    return !m_normal.isNull();
}

void PictureBox::paintEvent(QPaintEvent*) {
    if (m_normal.isNull()) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const bool sharper = devicePixelRatioF() > 1.0 && !m_double.isNull();
    painter.drawPixmap(rect(), sharper ? m_double : m_normal);
}

}  // namespace upd::wizard
