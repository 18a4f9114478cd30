// A picture on a page (the header band `Image1`, the side picture `Picture1`): one of the
// compiled-in pictures, drawn to fill the control. On screens above 100 % the picture drawn
// at twice the size is used, so it stays sharp at 200 %.
#pragma once

#include <QPixmap>
#include <QString>
#include <QWidget>

namespace upd::wizard {

class PictureBox : public QWidget {
    Q_OBJECT

  public:
    explicit PictureBox(QWidget* parent = nullptr);

    // A picture of artwork.h by name ("header", "side_server", ...). False, and nothing
    // shown, when there is no such picture.
    bool setPicture(const QString& name);
    const QString& pictureName() const { return m_name; }
    bool hasPicture() const { return !m_normal.isNull(); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString m_name;
    QPixmap m_normal;
    QPixmap m_double;
};

}  // namespace upd::wizard
