#include "controls/small_bar.h"

#include <QAccessible>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>
#include <limits>

#include "controls/controls_accessible.h"

namespace upd::controls {

namespace {

constexpr std::string_view kBackgroundColorName = "BackgroundColor";
constexpr std::string_view kProgressColorName = "ProgressColor";
constexpr std::string_view kPercentValueName = "PercentValue";

QString qName(std::string_view name) {
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

bool fitsInt16(std::int32_t value) {
    return value >= std::numeric_limits<std::int16_t>::min() &&
           value <= std::numeric_limits<std::int16_t>::max();
}

// The surface matches the widget in device pixels, so a bar edge falls on a whole pixel at
// any screen scale.
QSize deviceSize(const QWidget& widget) {
    const qreal ratio = widget.devicePixelRatioF();
    return QSize(static_cast<int>(std::lround(widget.width() * ratio)),
                 static_cast<int>(std::lround(widget.height() * ratio)));
}

}  // namespace

QColor toQColor(ColorValue color) {
    const auto value = static_cast<std::uint32_t>(color);
    return QColor(static_cast<int>(value & 0xFFu), static_cast<int>((value >> 8) & 0xFFu),
                  static_cast<int>((value >> 16) & 0xFFu));
}

std::optional<std::int32_t> PropertyBag::value(std::string_view name) const {
    auto it = m_values.find(name);
    if (it == m_values.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::int32_t PropertyBag::readProperty(std::string_view name, std::int32_t defaultValue) const {
    return value(name).value_or(defaultValue);
}

void PropertyBag::writeProperty(std::string_view name, std::int32_t value,
                                std::int32_t defaultValue) {
    auto it = m_values.find(name);
    if (value == defaultValue) {
        if (it != m_values.end()) {
            m_values.erase(it);
        }
        return;
    }
    if (it != m_values.end()) {
        it->second = value;
    } else {
        m_values.emplace(std::string(name), value);
    }
}

SmallBar::SmallBar(QWidget* parent) : QWidget(parent) {
    installControlsAccessibility();
    // Every paint copies the whole surface, so Qt need not erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_picBar = QImage(deviceSize(*this), QImage::Format_RGB32);
    clearSurface();
}

void SmallBar::setBackgroundColor(ColorValue color) {
    m_backgroundColor = color;
    clearSurface();
    update();
    emit propertyChanged(qName(kBackgroundColorName));
}

void SmallBar::setProgressColor(ColorValue color) {
    m_progressColor = color;
    redraw(m_percentValue);
    if (m_percentValue == 0) {
        clearSurface();
    }
    update();
    emit propertyChanged(qName(kProgressColorName));
}

void SmallBar::setPercentValue(int value) {
    if (value > 100 || value < std::numeric_limits<std::int16_t>::min()) {
        return;
    }
    if (value == 0) {
        m_percentValue = 0;
        emit propertyChanged(qName(kPercentValueName));
        clearSurface();
    } else {
        redraw(value);
        m_percentValue = static_cast<std::int16_t>(value);
        emit propertyChanged(qName(kPercentValueName));
    }
    update();
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, shownPercent());
        QAccessible::updateAccessibility(&event);
    }
}

int SmallBar::shownPercent() const {
    return std::clamp<int>(m_percentValue, 0, 100);
}

void SmallBar::ReadProperties(const PropertyBag& bag) {
    setBackgroundColor(bag.readProperty(kBackgroundColorName, kDefaultBackgroundColor));
    setProgressColor(bag.readProperty(kProgressColorName, kDefaultProgressColor));
    const std::int32_t percent = bag.readProperty(kPercentValueName, kDefaultPercentValue);
    if (fitsInt16(percent)) {
        setPercentValue(percent);
    }
}

void SmallBar::WriteProperties(PropertyBag& bag) const {
    bag.writeProperty(kBackgroundColorName, m_backgroundColor, kDefaultBackgroundColor);
    bag.writeProperty(kProgressColorName, m_progressColor, kDefaultProgressColor);
    bag.writeProperty(kPercentValueName, m_percentValue, kDefaultPercentValue);
}

QSize SmallBar::sizeHint() const {
    return QSize(150, 17);
}

void SmallBar::paintEvent(QPaintEvent* event) {
    // A move to a screen of another scale changes the device size without a resize.
    if (m_picBar.size() != deviceSize(*this)) {
        m_picBar = QImage(deviceSize(*this), QImage::Format_RGB32);
        redraw(m_percentValue);
        if (m_percentValue == 0) {
            clearSurface();
        }
    }
    QPainter painter(this);
    if (m_picBar.isNull()) {
        painter.fillRect(event->rect(), toQColor(m_backgroundColor));
        return;
    }
    painter.drawImage(rect(), m_picBar);
}

void SmallBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // Qt also sends resize events without a change of size (when it draws a hidden widget);
    // they must not redraw a bar that a background change has just erased.
    if (m_picBar.size() == deviceSize(*this)) {
        return;
    }
    // An empty size gives a null surface, which every drawing step skips.
    m_picBar = QImage(deviceSize(*this), QImage::Format_RGB32);
    redraw(m_percentValue);
    if (m_percentValue == 0) {
        clearSurface();
    }
}

void SmallBar::clearSurface() {
    if (!m_picBar.isNull()) {
        m_picBar.fill(toQColor(m_backgroundColor));
    }
}

// Horizontal coordinates are percent of the width: 100 fills the surface, 50 its left half,
// whatever its size in pixels. A negative value lies left of the surface and shows nothing.
void SmallBar::redraw(int value) {
    clearSurface();
    if (m_picBar.isNull() || value <= 0) {
        return;
    }
    const long long width = m_picBar.width();
    const int barWidth = static_cast<int>((value * width + 50) / 100);
    QPainter painter(&m_picBar);
    painter.fillRect(QRect(0, 0, barWidth, m_picBar.height()), toQColor(m_progressColor));
}

}  // namespace upd::controls
