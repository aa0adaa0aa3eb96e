// A plain label standing in for the HTML static control until that control
// takes its place: it shows the link's text in the link's colours and opens
// the address on a click through the desktop seam (web addresses only).
#pragma once

#include "client/controls/hyperlink.h"

#include <QObject>
#include <QPointer>

#include <string>

class QLabel;

namespace mirvo {

class label_link final : public QObject, public hyperlink {
public:
    // Drives label, which outlives nothing of this object's.
    explicit label_link(QLabel* label);
    ~label_link() override;

    void SetHyperlinkText(const std::string& text, const std::string& address) override;
    void SetLinkColours(colour_ref colour, bool underline, colour_ref hover_colour) override;

    const std::string& address() const { return address_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void apply_looks();

    QPointer<QLabel> label_;
    std::string address_;
    colour_ref colour_ = colour_blue;
    colour_ref hover_colour_ = colour_red;
    bool underline_ = true;
    bool hovered_ = false;
    bool showing_link_ = false;
};

}  // namespace mirvo
