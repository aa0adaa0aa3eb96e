// CStaticEx: a static text with its own background, text and link colours
// and a hand cursor; the login dialog's labels and status line.
#pragma once

#include "client/controls/colour.h"

#include <QLabel>

#include <string>

namespace mirvo {

class CStaticEx : public QLabel {
    Q_OBJECT
public:
    explicit CStaticEx(QWidget* parent = nullptr);

    void SetBackColour(colour_ref colour);
    void SetTextColour(colour_ref colour);
    void SetLinkColour(colour_ref colour);
    // The text shows in the link colour only with link mode on and a target.
    void SetLinkMode(bool on);
    void SetLinkTarget(const std::string& gbk_target);
    void SetHandCursor(bool on);

    colour_ref back_colour() const { return back_colour_; }
    colour_ref text_colour() const { return text_colour_; }
    colour_ref link_colour() const { return link_colour_; }
    bool link_mode() const { return link_mode_; }
    const std::string& link_target() const { return link_target_; }
    bool hand_cursor() const { return hand_cursor_; }
    // The colour the text is drawn in now.
    colour_ref drawn_text_colour() const;

protected:
    virtual void RebuildBackBrush();

private:
    void apply_colours();

    bool hand_cursor_ = true;
    bool link_mode_ = false;
    std::string link_target_;
    colour_ref back_colour_;
    colour_ref text_colour_;
    colour_ref link_colour_ = mirvo::rgb(0, 128, 192);
};

}  // namespace mirvo
