#include "client/controls/html_drawer.h"

#include "client/controls/qt_colour.h"
#include "client/res/string_table.h"
#include "gui/desktop.h"
#include "gui/qt_text.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>

#include <cmath>
#include <unordered_map>

namespace mirvo {

// Fonts and their metrics for the layout, kept per look: a short text uses
// a handful of fonts, measured many times.
class qt_measurer final : public text_measurer {
public:
    int advance(const font_request& font, std::string_view utf8) override {
        return entry(font).metrics.horizontalAdvance(
            QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
    }
    font_metrics metrics(const font_request& font) override {
        const QFontMetrics& m = entry(font).metrics;
        return {m.ascent(), m.descent()};
    }
    const QFont& font(const font_request& wanted) { return entry(wanted).font; }

private:
    struct cached {
        QFont font;
        QFontMetrics metrics;
    };

    static QFont make_font(const font_request& wanted) {
        QFont f(QString::fromStdString(wanted.family));
        // Points are the desktop's 96-per-inch points; negative sizes are a
        // character height in pixels. Pixel sizes keep the layout the same on
        // every screen.
        int pixels = wanted.size < 0 ? -wanted.size : static_cast<int>(std::lround(wanted.size * 96.0 / 72.0));
        f.setPixelSize(std::max(1, pixels));
        f.setWeight(static_cast<QFont::Weight>(wanted.weight));
        f.setItalic(wanted.italic);
        f.setUnderline(wanted.underline);
        f.setStrikeOut(wanted.strikeout);
        f.setOverline(wanted.overline);
        return f;
    }

    static std::string key_of(const font_request& s) {
        std::string k = s.family;
        k += '\0';
        k += std::to_string(s.size) + ',' + std::to_string(s.weight);
        k += s.italic ? 'i' : '-';
        k += s.underline ? 'u' : '-';
        k += s.strikeout ? 's' : '-';
        k += s.overline ? 'o' : '-';
        return k;
    }

    cached& entry(const font_request& wanted) {
        std::string key = key_of(wanted);
        auto it = cache_.find(key);
        if (it == cache_.end()) {
            QFont f = make_font(wanted);
            it = cache_.emplace(std::move(key), cached{f, QFontMetrics(f)}).first;
        }
        return it->second;
    }

    std::unordered_map<std::string, cached> cache_;
};

namespace {

// A picture of the client's own resources by its number ("icon204.png" for
// icon 204); nothing else can be named from markup.
QPixmap client_picture(int id) {
    if (id <= 0) return {};
    const QString suffix = QString::number(id) + ".png";
    for (QDirIterator it(":/images"); it.hasNext();) {
        QString path = it.next();
        QString name = path.section('/', -1);
        if (name.endsWith(suffix) && (name.size() == suffix.size() || !name[name.size() - suffix.size() - 1].isDigit()))
            return QPixmap(path);
    }
    return {};
}

}  // namespace

CHtmlDrawer::CHtmlDrawer()
    : colours_(desktop_colours(QGuiApplication::palette())),
      measurer_(std::make_unique<qt_measurer>()),
      disabled_colour_(button_shadow_colour(QGuiApplication::palette())) {}

CHtmlDrawer::~CHtmlDrawer() = default;

CHtmlDrawer::layout_key CHtmlDrawer::current_key() const {
    layout_key k;
    int h = hover_.hovered();
    if (h >= 0 && h < static_cast<int>(areas_.size())) k.hovered_link = areas_[static_cast<std::size_t>(h)].link;
    k.enabled = enabled_;
    k.disabled_colour = disabled_colour_;
    return k;
}

void CHtmlDrawer::lay_out() {
    laid_out_with_ = current_key();
    layout_options options;
    options.width_limit = width_limit_;
    options.hovered_link = laid_out_with_.hovered_link;
    options.enabled = enabled_;
    options.disabled_colour = disabled_colour_;
    options.resource_string = [](int id) { return load_string(id); };
    layout_ = lay_out_html(markup_, sheet_, colours_, options, *measurer_);
}

QSize CHtmlDrawer::Measure(const std::string& markup, int width_limit) {
    markup_ = markup;
    width_limit_ = std::max(0, width_limit);
    lay_out();
    return QSize(layout_.width, layout_.height);
}

void CHtmlDrawer::Draw(QPainter& painter, const QRect& rect) {
    // The hovered link or the enabled look may have changed since Measure.
    if (!(current_key() == laid_out_with_)) lay_out();
    painter.save();
    for (const auto& line : layout_.lines) {
        const int x = rect.left() + line_offset(line, rect.width());
        for (const auto& item : line.items) draw_item(painter, item, x, rect.top() + line.y, rect);
    }
    painter.restore();
    areas_ = place_link_areas(layout_, rect.left(), rect.top(), rect.width());
}

void CHtmlDrawer::draw_item(QPainter& painter, const layout_item& item, int x, int y, const QRect& box) {
    switch (item.what) {
        case layout_item::kind::text: {
            const QRect box(x + item.x, y + item.y, item.width, item.height);
            if (item.background) painter.fillRect(box, qcolour(*item.background));
            painter.setFont(measurer_->font(item.font));
            painter.setPen(qcolour(item.colour));
            painter.drawText(QPoint(box.left(), box.top() + item.ascent), QString::fromStdString(item.text));
            return;
        }
        case layout_item::kind::rule: {
            // Rules stand centred on a line of their own.
            int width = item.rule_percent > 0 ? box.width() * item.rule_percent / 100 : item.width;
            painter.fillRect(QRect(box.left() + (box.width() - width) / 2, y + item.y, width, item.height),
                             qcolour(item.colour));
            return;
        }
        case layout_item::kind::image: {
            QPixmap picture = client_picture(item.image_id);
            if (picture.isNull()) return;
            QRect source(0, 0, picture.width(), picture.height());
            if (item.image == tag_kind::image_list)
                source = QRect(item.image_index * item.width, 0, item.width, item.height);
            painter.drawPixmap(QRect(x + item.x, y + item.y, item.width, item.height), picture, source);
            return;
        }
    }
}

void CHtmlDrawer::SetStyle(const std::string& selector, const std::string& declarations) {
    sheet_.set(selector, declarations);
}

std::optional<std::string_view> CHtmlDrawer::GetStyle(std::string_view selector) const { return sheet_.find(selector); }

bool CHtmlDrawer::TrackHover(const QPoint& point) {
    link_hover::result r = hover_.track(areas_, point.x(), point.y());
    if (r.changed && notify_window_) {
        html_notify_event e(notify_message_, r.index, notify_param_);
        QCoreApplication::sendEvent(notify_window_, &e);
    }
    return r.over_link;
}

int CHtmlDrawer::LinkUnderPoint(const QPoint& point) const { return link_at(areas_, point.x(), point.y()); }

void CHtmlDrawer::ActivateLink(int index) {
    if (index < 0 || index >= static_cast<int>(areas_.size())) return;
    const link_area& a = areas_[static_cast<std::size_t>(index)];
    OpenLink({a.what, a.text});
}

void CHtmlDrawer::OpenLink(const link_target& target) {
    if (target.what == link_target::kind::address) {
        if (!target.text.empty()) open_web_address(target.text);
    } else if (link_callback_) {
        link_callback_(target.text, link_param_);
    }
}

layout_reading CHtmlDrawer::Read(const std::string& markup) {
    layout_options options;
    options.resource_string = [](int id) { return load_string(id); };
    return read_layout(lay_out_html(markup, sheet_, colours_, options, *measurer_));
}

void CHtmlDrawer::SetNotify(QObject* window, int message, qintptr param) {
    notify_window_ = window;
    notify_message_ = message;
    notify_param_ = param;
}

void CHtmlDrawer::SetLinkCallback(link_callback callback, qintptr param) {
    link_callback_ = std::move(callback);
    link_param_ = param;
}

void CHtmlDrawer::SetEnabled(bool enabled) { enabled_ = enabled; }

void CHtmlDrawer::SetDisabledColour(colour_ref colour) { disabled_colour_ = colour; }

}  // namespace mirvo
