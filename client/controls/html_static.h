// CHtmlStatic: a static text that shows the controls' markup, mostly as a
// clickable link, over a fill effect or a copy of what lies under it. Owners
// drive it with SetHyperlinkText and SetLinkColours (the hyperlink interface,
// through which the windows' Qt-free cores reach it); texts are GBK. Its
// links take the keyboard (Tab, Enter) and show to screen readers as links.
#pragma once

#include "client/controls/colour.h"
#include "client/controls/html_drawer.h"
#include "client/controls/hyperlink.h"

#include <QImage>
#include <QLabel>

#include <optional>
#include <string>

namespace mirvo {

class CHtmlStatic : public QLabel, public hyperlink {
    Q_OBJECT
public:
    // The message the drawer sends when the hovered link changes.
    static constexpr int notify_message = 32868;
    static constexpr int transparent_background = 1;

    // Alignment flags: bits 0-1 horizontal, bits 2-3 vertical; 0 in a group
    // lets the label's own alignment decide.
    enum align_flag : int {
        align_left = 1,
        align_right = 2,
        align_hcentre = 3,
        align_top = 4,
        align_bottom = 8,
        align_vcentre = 12,
    };

    explicit CHtmlStatic(QWidget* parent = nullptr);

    // The markup shown (the window text), GBK.
    void SetWindowText(const std::string& markup);
    const std::string& html_text() const { return html_; }
    // The window text set the Qt way (templates, QString owners).
    void setText(const QString& text);

    // Shows one link: <a href="address">text</a>.
    void SetHyperlinkText(const std::string& text, const std::string& address) override;
    // a:link in colour, underlined or not; a:hover in hover_colour, underlined.
    // Colours are 0x00BBGGRR: 0xFF0000 is blue.
    void SetLinkColours(colour_ref colour, bool underline, colour_ref hover_colour) override;

    // The colour of all text not coloured by the markup; nullopt: none.
    void SetTextColour(std::optional<colour_ref> colour);
    // Background: mode 1 copies what is under the control at its first
    // paint; any other mode fills with the effect and its three colours.
    void SetBackgroundMode(int mode);
    void SetBackgroundEffect(int effect);
    void SetBackgroundColours(colour_ref c1, colour_ref c2, colour_ref c3);
    void SetBackgroundColours(colour_ref c) { SetBackgroundColours(c, c, c); }
    void SetMargins(int horizontal, int vertical);
    void SetAlignment(int flags);
    // Builds the background again and repaints at once.
    void RebuildBackground();

    // The markup as it goes to the drawer (with the text colour applied).
    std::string markup_to_draw() const;
    // The text and links as a person reads them (screen readers, keys).
    const layout_reading& reading();
    // The link the keyboard is on while the control has the focus; -1: none.
    int focused_link() const { return focus_link_; }
    // Opens link i of the reading as a click on it would.
    void activate_link(int link);
    // Where link i was drawn last, in the control's coordinates; empty
    // when it was not drawn.
    QRect link_rect(int link) const;
    // Where the text was drawn last, in the control's coordinates.
    QRect text_box() const { return text_box_; }
    CHtmlDrawer& drawer() { return drawer_; }

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void changeEvent(QEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    bool focusNextPrevChild(bool next) override;

private:
    void apply_font();
    void adopt_label_text();
    void discard_background();
    void build_background();
    QRect place_text_box();
    void draw_text_layer(QPainter& painter);
    void redraw() { update(); }
    void text_changed();
    void update_focus_policy();
    // The first link a key can open from link `from` on in direction step
    // (1 or -1), `from` included; -1 when there is none.
    int usable_link(int from, int step);
    void focus_link(int link);
    void draw_focus_frame(QPainter& painter);

    CHtmlDrawer drawer_;
    std::string html_;
    QString label_text_;  // what was last handed to QLabel, to notice other writers
    std::optional<colour_ref> text_colour_;
    int background_mode_ = 2;
    int background_effect_ = 0;
    colour_ref background_colours_[3];
    int granularity_ = 5;
    int margin_x_ = 0;
    int margin_y_ = 0;
    int alignment_flags_ = 0;
    QImage background_;
    QRect text_box_;
    layout_reading reading_;
    bool reading_stale_ = true;
    int focus_link_ = -1;
};

}  // namespace mirvo
