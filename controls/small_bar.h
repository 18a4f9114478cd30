// `SmallBar`: the wizard's progress bar. A bar of `ProgressColor` over `BackgroundColor`
// whose length is `PercentValue` percent of the control's width. No text, no events for the
// page; the pages set only `PercentValue`.
//
// The drawing lives on an off-screen surface (the control's `picBar`) that paint requests
// copy to the screen, so it survives repaints exactly as it was last drawn: setting
// `BackgroundColor` erases the bar until the next redraw.
#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace upd::controls {

// A colour as a 32-bit value 0x00BBGGRR (red in the low byte). The top byte is kept but not
// drawn.
using ColorValue = std::int32_t;

inline constexpr ColorValue kDefaultBackgroundColor = 0xFFFFFF;  // white
inline constexpr ColorValue kDefaultProgressColor = 0xFF00;      // green
inline constexpr std::int16_t kDefaultPercentValue = 0;

QColor toQColor(ColorValue color);

// Saved properties of a control: name -> 32-bit value. Toolkit-free; whoever keeps a
// control's design-time settings stores the bag.
class PropertyBag {
  public:
    // The stored value, or nothing when the name is not stored.
    std::optional<std::int32_t> value(std::string_view name) const;
    // The stored value, or `defaultValue` when the name is not stored.
    std::int32_t readProperty(std::string_view name, std::int32_t defaultValue) const;
    // Stores the value, unless it equals `defaultValue`: then the name is not stored (and
    // an earlier stored value is dropped).
    void writeProperty(std::string_view name, std::int32_t value, std::int32_t defaultValue);
    bool contains(std::string_view name) const { return m_values.find(name) != m_values.end(); }
    int count() const { return static_cast<int>(m_values.size()); }

  private:
    std::map<std::string, std::int32_t, std::less<>> m_values;
};

class SmallBar : public QWidget {
    Q_OBJECT

  public:
    explicit SmallBar(QWidget* parent = nullptr);

    ColorValue BackgroundColor() const { return m_backgroundColor; }
    // Clears the surface to the new colour (the bar disappears until the next redraw).
    void setBackgroundColor(ColorValue color);

    ColorValue ProgressColor() const { return m_progressColor; }
    // Redraws the bar at the current `PercentValue` in the new colour.
    void setProgressColor(ColorValue color);

    std::int16_t PercentValue() const { return m_percentValue; }
    // 0 clears the bar; 1 to 100 and negative values draw it (a negative bar lies left of
    // the visible area, so nothing shows) and are stored; values above 100 are ignored.
    // Values outside the 16-bit range are ignored too: the property cannot hold them.
    void setPercentValue(int value);
    // What the bar shows, 0 to 100 (a negative value shows as 0): its value for screen
    // readers (controls_accessible.h), which hear of each change.
    int shownPercent() const;

    // Applies "BackgroundColor", "ProgressColor" and "PercentValue" from the bag, in this
    // order, each through its setter; a missing name applies its default. A stored
    // "PercentValue" outside the 16-bit range is ignored.
    void ReadProperties(const PropertyBag& bag);
    // Stores the three properties; a value equal to its default is not stored.
    void WriteProperties(PropertyBag& bag) const;

    QSize sizeHint() const override;

  signals:
    // A property changed and should be saved by whoever keeps the control's properties.
    void propertyChanged(const QString& name);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void clearSurface();
    void redraw(int value);

    ColorValue m_backgroundColor = kDefaultBackgroundColor;
    ColorValue m_progressColor = kDefaultProgressColor;
    std::int16_t m_percentValue = kDefaultPercentValue;
    QImage m_picBar;  // the drawing surface, in device pixels
};

}  // namespace upd::controls
