// CHtmlDrawer: measures and draws the controls' markup with its own style
// sheet, keeps the link areas of the last drawing, tracks the hovered link
// and opens links. The rules live in the Qt-free layout; this class gives
// them fonts and a painter.
#pragma once

#include "client/controls/colour.h"
#include "client/controls/draw_manager.h"
#include "client/controls/layout.h"
#include "client/controls/links.h"
#include "client/controls/style.h"

#include <QEvent>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QObject;
class QPainter;

namespace mirvo {
class qt_measurer;

// Sent (synchronously) to the notification window when the hovered link
// changes; its type is the message number the window asked for.
class html_notify_event : public QEvent {
public:
    html_notify_event(int message, int index, qintptr param)
        : QEvent(static_cast<QEvent::Type>(message)), index(index), param(param) {}
    int index;  // the new hovered link area, link_hover::none for none
    qintptr param;
};

class CHtmlDrawer {
public:
    using link_callback = std::function<void(const std::string& text, qintptr param)>;

    CHtmlDrawer();
    ~CHtmlDrawer();
    CHtmlDrawer(const CHtmlDrawer&) = delete;
    CHtmlDrawer& operator=(const CHtmlDrawer&) = delete;

    // Lays out GBK markup within width_limit (0: no wrapping) and returns
    // its size; the layout is kept for Draw and the link areas.
    QSize Measure(const std::string& markup, int width_limit);
    // Draws the last layout into rect (lines aligned within its width) and
    // records the link areas where they were drawn.
    void Draw(QPainter& painter, const QRect& rect);

    void SetStyle(const std::string& selector, const std::string& declarations);
    std::optional<std::string_view> GetStyle(std::string_view selector) const;

    // Hover tracking at a point of the window: updates the hovered link,
    // notifies the window when it changed; true over a link with a target.
    bool TrackHover(const QPoint& point);
    // The link area under the point, or -1.
    int LinkUnderPoint(const QPoint& point) const;
    // Address links open through the desktop (open_web_address: web
    // addresses only); message links go to the link callback, when one is set.
    void ActivateLink(int index);
    // The same for a link however it was chosen (a key, a screen reader).
    void OpenLink(const link_target& target);
    // What a person reads in markup, with this drawer's styles; the last
    // layout stays as it was.
    layout_reading Read(const std::string& markup);

    void SetNotify(QObject* window, int message, qintptr param = 0);
    void SetLinkCallback(link_callback callback, qintptr param = 0);
    void SetEnabled(bool enabled);
    bool enabled() const { return enabled_; }
    void SetDisabledColour(colour_ref colour);

    int hovered_link() const { return hover_.hovered(); }
    const html_layout& layout() const { return layout_; }
    const std::vector<link_area>& link_areas() const { return areas_; }
    const colour_table& colours() const { return colours_; }
    CDrawManager& draw_manager() { return draw_manager_; }

private:
    struct layout_key {
        int hovered_link = -1;
        bool enabled = true;
        colour_ref disabled_colour = 0;
        bool operator==(const layout_key&) const = default;
    };
    layout_key current_key() const;
    void lay_out();
    void draw_item(QPainter& painter, const layout_item& item, int x, int y, const QRect& box);

    colour_table colours_;
    style_sheet sheet_;
    std::unique_ptr<qt_measurer> measurer_;
    std::string markup_;
    int width_limit_ = 0;
    html_layout layout_;
    layout_key laid_out_with_;
    std::vector<link_area> areas_;
    link_hover hover_;
    QObject* notify_window_ = nullptr;
    int notify_message_ = 0;
    qintptr notify_param_ = 0;
    link_callback link_callback_;
    qintptr link_param_ = 0;
    bool enabled_ = true;
    colour_ref disabled_colour_;
    CDrawManager draw_manager_;
};

}  // namespace mirvo
