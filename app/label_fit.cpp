#include "app/label_fit.h"

#include <QLabel>
#include <QWidget>

namespace upd::app {

void fitLabelsToText(QWidget& root) {
    for (QLabel* label : root.findChildren<QLabel*>()) {
        if (label->wordWrap() || label->text().isEmpty()) {
            continue;
        }
        const QSize needed = label->sizeHint();
        const QSize grown = label->size().expandedTo(needed);
        if (grown != label->size()) {
            label->resize(grown);
        }
    }
}

}  // namespace upd::app
