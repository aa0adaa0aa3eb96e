#include "gui/fonts.h"

#include "gui/desktop.h"
#include "gui/translations.h"

#include <QFont>
#include <QFontDatabase>
#include <QStringList>

namespace mirvo {

namespace {
// Debian's fonts-wqy-microhei and fonts-noto-cjk, then other common ones.
const QStringList chinese_families = {
    "WenQuanYi Micro Hei", "Noto Sans CJK SC", "Noto Serif CJK SC",   "Source Han Sans SC",
    "WenQuanYi Zen Hei",   "AR PL UMing CN",   "Droid Sans Fallback",
};
}  // namespace

void map_window_fonts() {
    for (const char* name : {"宋体", "SimSun", "新宋体", "NSimSun"})
        QFont::insertSubstitutions(QString::fromUtf8(name), chinese_families);
}

bool chinese_font_installed() { return !QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty(); }

std::string missing_chinese_font_text() {
    return "Mirvo cannot show its texts: no Chinese font is installed on this computer, "
           "so every label, button and message is drawn as boxes.\n\n"
           "Please install the package fonts-wqy-microhei (or fonts-noto-cjk), for example with\n"
           "    sudo apt install fonts-wqy-microhei\n"
           "and start Mirvo again.";
}

bool set_up_program_texts(bool tell_user) {
    map_window_fonts();
    if (chinese_font_installed()) {
        install_qt_translations();
        return true;
    }
    if (tell_user) the_desktop().message_box(nullptr, missing_chinese_font_text(), "Mirvo", box_kind::ok);
    return false;
}

}  // namespace mirvo
