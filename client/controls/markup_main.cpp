// mirvo-markup: renders the controls' markup, every fill effect or a sample
// of the controls to a PNG, so a change of looks can be seen without logging
// in. Runs without a display.
//
//   mirvo-markup --width W --out FILE.png [--hover N] [--disabled]
//                [--style SELECTOR=DECLARATIONS]... [--background COLOUR]
//                (--text MARKUP | --file FILE [--gbk])
//   mirvo-markup --effects --width W --out FILE.png [--colours C1,C2,C3]
//   mirvo-markup --controls --out FILE.png [--show SECONDS]
//
// --show keeps the sample on screen (a display is needed) and saves it when
// the time is up, so a mouse can be moved over it meanwhile.
//
// Markup on the command line and in files is UTF-8 unless --gbk is given.
#include "client/controls/html_drawer.h"
#include "client/controls/html_static.h"
#include "client/controls/qt_colour.h"
#include "client/controls/static_ex.h"
#include "client/controls/xp_button.h"
#include "common/text/gbk.h"

#include <QApplication>
#include <QEnterEvent>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace mirvo;

namespace {

struct options {
    int width = 300;
    std::string out;
    std::string markup;  // GBK
    bool effects = false;
    bool controls = false;
    bool disabled = false;
    int hover = -1;
    int show_seconds = 0;
    std::vector<std::pair<std::string, std::string>> styles;
    std::string background = "white";
    std::string colours = "red,white,blue";
};

int usage() {
    std::fputs(
        "usage: mirvo-markup --width W --out FILE.png [--hover N] [--disabled] [--style SEL=DECLS]...\n"
        "                    [--background COLOUR] (--text MARKUP | --file FILE [--gbk])\n"
        "       mirvo-markup --effects --width W --out FILE.png [--colours C1,C2,C3]\n"
        "       mirvo-markup --controls --out FILE.png [--show SECONDS]\n",
        stderr);
    return 2;
}

bool read_file(const std::string& path, bool is_gbk, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream s;
    s << in.rdbuf();
    out = is_gbk ? s.str() : utf8_to_gbk(s.str());
    return true;
}

bool parse(int argc, char** argv, options& o) {
    std::string file;
    bool is_gbk = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--width")
            o.width = std::atoi(value().c_str());
        else if (a == "--out")
            o.out = value();
        else if (a == "--text")
            o.markup = utf8_to_gbk(value());
        else if (a == "--file")
            file = value();
        else if (a == "--gbk")
            is_gbk = true;
        else if (a == "--effects")
            o.effects = true;
        else if (a == "--controls")
            o.controls = true;
        else if (a == "--disabled")
            o.disabled = true;
        else if (a == "--hover")
            o.hover = std::atoi(value().c_str());
        else if (a == "--show")
            o.show_seconds = std::atoi(value().c_str());
        else if (a == "--background")
            o.background = value();
        else if (a == "--colours")
            o.colours = value();
        else if (a == "--style") {
            std::string s = value();
            std::size_t eq = s.find('=');
            if (eq == std::string::npos) return false;
            o.styles.emplace_back(s.substr(0, eq), utf8_to_gbk(s.substr(eq + 1)));
        } else
            return false;
    }
    if (!file.empty() && !read_file(file, is_gbk, o.markup)) {
        std::fprintf(stderr, "mirvo-markup: cannot read %s\n", file.c_str());
        return false;
    }
    return !o.out.empty() && o.width > 0 && o.width <= 10000;
}

colour_ref named(const colour_table& names, const std::string& text, colour_ref fallback) {
    return parse_colour(text, names).value_or(fallback);
}

QImage render_markup(const options& o) {
    CHtmlDrawer drawer;
    for (const auto& [selector, decls] : o.styles) drawer.SetStyle(selector, decls);
    drawer.SetEnabled(!o.disabled);
    const int margin = 4;
    QSize size = drawer.Measure(o.markup, o.width - 2 * margin);
    QImage img(o.width, size.height() + 2 * margin, QImage::Format_RGB32);
    img.fill(qcolour(named(drawer.colours(), o.background, rgb(255, 255, 255))));
    QPainter p(&img);
    QRect box(margin, margin, o.width - 2 * margin, size.height());
    drawer.Draw(p, box);  // lays the link areas out
    if (o.hover >= 0 && o.hover < static_cast<int>(drawer.link_areas().size())) {
        const link_area& a = drawer.link_areas()[static_cast<std::size_t>(o.hover)];
        drawer.TrackHover(QPoint(a.left, a.top));
        img.fill(qcolour(named(drawer.colours(), o.background, rgb(255, 255, 255))));
        drawer.Draw(p, box);
    }
    return img;
}

QImage render_effects(const options& o) {
    CHtmlDrawer drawer;
    std::vector<std::string> c;
    for (const std::string& part : gbk_split(o.colours, ",")) c.push_back(part);
    while (c.size() < 3) c.push_back("white");
    const colour_ref c1 = named(drawer.colours(), c[0], 0), c2 = named(drawer.colours(), c[1], 0),
                     c3 = named(drawer.colours(), c[2], 0);
    const int strip = 28, label = 16;
    QImage img(o.width, 16 * (strip + label), QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    for (int effect = 0; effect < 16; ++effect) {
        int top = effect * (strip + label);
        std::string caption =
            "<font color=black>" + std::to_string(effect) + " " + std::string(effect_name(effect)) + "</font>";
        drawer.Measure(caption, 0);
        drawer.Draw(p, QRect(4, top + 1, o.width - 8, label));
        drawer.draw_manager().FillEffect(p, QRect(0, top + label, o.width, strip), effect, c1, c2, c3);
    }
    return img;
}

// A dialog-like sample: buttons in their states, coloured statics and links.
QImage render_controls(int show_seconds) {
    QWidget w;
    w.resize(360, 215);
    w.setAutoFillBackground(true);
    QPalette pal = w.palette();
    pal.setColor(QPalette::Window, QColor(228, 239, 255));
    w.setPalette(pal);

    auto* normal = new CXPButton(&w);
    normal->setText(QString::fromUtf8("登录"));
    normal->SetIcon(QIcon(":/images/icon204.png"));
    normal->setGeometry(10, 10, 74, 23);
    auto* focused = new CXPButton(&w);
    focused->setText(QString::fromUtf8("帮助"));
    focused->setGeometry(94, 10, 74, 23);
    auto* disabled = new CXPButton(&w);
    disabled->setText(QString::fromUtf8("取消"));
    disabled->setGeometry(178, 10, 74, 23);
    disabled->setEnabled(false);
    auto* hovered = new CXPButton(&w);
    hovered->setText(QString::fromUtf8("注册新用户"));
    hovered->setGeometry(262, 10, 90, 23);

    auto* user = new CStaticEx(&w);
    user->setText(QString::fromUtf8("用户:"));
    user->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    user->setGeometry(10, 45, 60, 16);
    user->SetBackColour(rgb(228, 239, 255));
    auto* status = new CStaticEx(&w);
    status->setText(QString::fromUtf8("正在检查您的互联网连接......"));
    status->setGeometry(80, 45, 270, 16);
    status->SetBackColour(rgb(255, 255, 255));
    status->SetLinkTarget("x");
    status->SetLinkMode(true);

    auto* link = new CHtmlStatic(&w);
    link->setGeometry(10, 70, 100, 20);
    link->SetBackgroundColours(rgb(228, 239, 255));
    link->SetLinkColours(rgb(0, 0, 255), true, rgb(0, 0, 255));
    link->SetHyperlinkText(utf8_to_gbk("注册新用户"), "http://127.0.0.1/reg.aspx");
    auto* notice = new CHtmlStatic(&w);
    notice->setGeometry(120, 70, 230, 20);
    notice->SetBackgroundEffect(2);
    notice->SetBackgroundColours(rgb(255, 255, 255), rgb(228, 239, 255), rgb(200, 220, 250));
    notice->SetLinkColours(0xFF0000, true, 0x0000FF);
    notice->SetHyperlinkText(utf8_to_gbk("您有新信息!"), "http://127.0.0.1/gonggao.htm");
    auto* rich = new CHtmlStatic(&w);
    rich->setGeometry(10, 100, 340, 40);
    rich->setWordWrap(true);
    rich->SetBackgroundEffect(13);
    rich->SetBackgroundColours(rgb(255, 255, 255), rgb(228, 239, 255), rgb(160, 190, 240));
    rich->SetWindowText(
        utf8_to_gbk("<b>加粗</b> <i>斜体</i> <u>下划线</u> <font color=#cc0000>红色</font> "
                    "<a href=\"http://127.0.0.1/\">链接</a> &copy; 2&lt;3 <<"));
    auto* grey = new CHtmlStatic(&w);
    grey->setGeometry(10, 150, 340, 24);
    grey->SetWindowText(utf8_to_gbk("已禁用的链接: <a href=\"http://127.0.0.1/\">交新朋友</a>"));
    grey->setEnabled(false);

    // The lesson window's news row: "宋体" at 11 pixels, blue links turning red under the mouse.
    QFont song(QString::fromUtf8("宋体"));
    song.setPixelSize(11);
    const char* news[] = {"新闻信息", "今日推荐", "学习乐园", "交新朋友", "新闻信息"};
    for (int i = 0; i < 5; ++i) {
        auto* link = new CHtmlStatic(&w);
        link->setFont(song);
        link->setGeometry(10 + 70 * i, 185, 66, 16);
        link->SetLinkColours(0xFF0000, true, 0x0000FF);
        link->SetHyperlinkText(utf8_to_gbk(news[i]), "http://127.0.0.1/ad" + std::to_string(i));
    }

    w.setWindowTitle(QString::fromUtf8("控件样品"));
    w.show();
    focused->setFocus();
    QApplication::processEvents();
    if (show_seconds > 0) {
        QTimer::singleShot(show_seconds * 1000, &w, &QWidget::close);
        QApplication::exec();
        return w.grab().toImage();
    }
    // Hover is what the mouse gives; here it is given by hand.
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(hovered, &enter);
    QApplication::processEvents();
    return w.grab().toImage();
}

}  // namespace

int main(int argc, char** argv) {
    options o;
    if (!parse(argc, argv, o)) return usage();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && o.show_seconds <= 0) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QImage img = o.controls ? render_controls(o.show_seconds) : o.effects ? render_effects(o) : render_markup(o);
    if (!img.save(QString::fromStdString(o.out), "PNG")) {
        std::fprintf(stderr, "mirvo-markup: cannot write %s\n", o.out.c_str());
        return 1;
    }
    std::printf("%s: %dx%d\n", o.out.c_str(), img.width(), img.height());
    return 0;
}
