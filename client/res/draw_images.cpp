// Draws the client's icons and bitmaps into PNG files at build time, so the
// pictures are plain code that anyone can change and review.
//
// Usage: mirvo-draw-images OUTPUT_FOLDER
//   icon127.png (32x32) and icon127_16.png  the program's icon
//   icon204.png, icon205.png (16x16)         the login and cancel buttons
//   banner189.png (341x62)                   the login dialog's banner
//   toolbar127.png (176x15)                  the frame's eleven toolbar images
// or:    mirvo-draw-images --theme-icons OUTPUT_FOLDER NAME SIZE...
//   OUTPUT_FOLDER/<SIZE>x<SIZE>/apps/NAME.png, the program's icon laid out
//   as an icon theme's folders are, for the desktop's menus
#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QStringList>

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

const QColor deep_blue(30, 80, 170);
const QColor light_blue(110, 170, 245);
const QColor frame_violet(100, 0, 255);

QImage blank(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

// The program's mark: an open book on a blue rounded square.
void draw_mark(QPainter& p, const QRectF& r) {
    const double s = r.width();
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, light_blue);
    g.setColorAt(1, deep_blue);
    p.setPen(QPen(deep_blue.darker(130), s / 32.0));
    p.setBrush(g);
    p.drawRoundedRect(r.adjusted(s / 32, s / 32, -s / 32, -s / 32), s / 5, s / 5);

    // Two pages meeting at a spine.
    const double cx = r.center().x(), top = r.top() + s * 0.30, bottom = r.top() + s * 0.78;
    QPainterPath left, right;
    left.moveTo(cx, top + s * 0.06);
    left.cubicTo(cx - s * 0.12, top - s * 0.04, cx - s * 0.28, top, cx - s * 0.36, top + s * 0.04);
    left.lineTo(cx - s * 0.36, bottom - s * 0.06);
    left.cubicTo(cx - s * 0.26, bottom - s * 0.10, cx - s * 0.12, bottom - s * 0.10, cx, bottom);
    left.closeSubpath();
    right = QTransform().translate(2 * cx, 0).scale(-1, 1).map(left);
    p.setPen(QPen(QColor(20, 50, 120), s / 40.0));
    p.setBrush(QColor(255, 255, 255));
    p.drawPath(left);
    p.setBrush(QColor(235, 242, 255));
    p.drawPath(right);
    // A bookmark ribbon in warm orange.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 150, 30));
    QPolygonF ribbon;
    ribbon << QPointF(cx + s * 0.14, top + s * 0.01) << QPointF(cx + s * 0.22, top + s * 0.01)
           << QPointF(cx + s * 0.22, top + s * 0.30) << QPointF(cx + s * 0.18, top + s * 0.25)
           << QPointF(cx + s * 0.14, top + s * 0.30);
    p.drawPolygon(ribbon);
}

QImage program_icon(int size) {
    QImage img = blank(size, size);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    draw_mark(p, QRectF(0, 0, size, size));
    return img;
}

// A round badge with a white symbol, the style of the two button icons.
QImage badge(const QColor& colour, const std::function<void(QPainter&)>& symbol) {
    QImage img = blank(16, 16);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient g(QPointF(6, 5), 10);
    g.setColorAt(0, colour.lighter(150));
    g.setColorAt(1, colour);
    p.setPen(QPen(colour.darker(140), 1));
    p.setBrush(g);
    p.drawEllipse(QRectF(1, 1, 14, 14));
    p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    symbol(p);
    return img;
}

QImage login_icon() {  // an arrow pointing in
    return badge(QColor(40, 160, 60), [](QPainter& p) {
        p.drawLine(QPointF(4.5, 8), QPointF(11, 8));
        p.drawPolyline(QPolygonF() << QPointF(8, 5) << QPointF(11, 8) << QPointF(8, 11));
    });
}

QImage cancel_icon() {  // a cross
    return badge(QColor(210, 50, 40), [](QPainter& p) {
        p.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 10.5));
        p.drawLine(QPointF(10.5, 5.5), QPointF(5.5, 10.5));
    });
}

QImage banner() {
    QImage img(341, 62, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient g(0, 0, 341, 62);
    g.setColorAt(0, deep_blue);
    g.setColorAt(0.6, QColor(70, 130, 220));
    g.setColorAt(1, light_blue);
    p.fillRect(img.rect(), g);
    // Soft circles for depth.
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 5; ++i) {
        p.setBrush(QColor(255, 255, 255, 18 + 6 * i));
        const double r = 40 - 6 * i;
        p.drawEllipse(QPointF(260 + 14 * i, 10 + 9 * i), r, r);
    }
    // A line where the banner meets the dialog's pale blue.
    p.setPen(QPen(frame_violet, 1));
    p.drawLine(0, 61, 341, 61);
    draw_mark(p, QRectF(12, 11, 40, 40));

    QFont title;
    title.setPixelSize(24);
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(255, 255, 255));
    p.drawText(QRectF(62, 6, 270, 30), Qt::AlignLeft | Qt::AlignVCenter, "Mirvo");
    QFont sub;
    sub.setPixelSize(14);
    p.setFont(sub);
    p.setPen(QColor(225, 238, 255));
    p.drawText(QRectF(63, 34, 270, 22), Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf8("学习娱乐空间"));
    return img;
}

// The toolbar's eleven 16x15 images, in the order of the toolbar's buttons.
QImage toolbar_strip() {
    const int w = 16, h = 15, n = 11;
    QImage img = blank(w * n, h);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    auto at = [&](int i) {
        p.resetTransform();
        p.translate(i * w, 0);
    };
    const QColor ink(40, 70, 140);
    QPen pen(ink, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);

    // 0: suggestion, a speech bubble with a pencil stroke.
    at(0);
    p.setPen(pen);
    p.setBrush(QColor(255, 240, 150));
    p.drawRoundedRect(QRectF(1.5, 1.5, 13, 9), 3, 3);
    p.drawPolygon(QPolygonF() << QPointF(4, 10.5) << QPointF(4, 14) << QPointF(8, 10.5));
    p.drawLine(QPointF(5, 5), QPointF(11, 5));
    p.drawLine(QPointF(5, 7.5), QPointF(9.5, 7.5));
    // 1: help, a question mark on a blue disc.
    at(1);
    p.setPen(QPen(deep_blue.darker(120), 1));
    p.setBrush(QColor(70, 130, 220));
    p.drawEllipse(QRectF(1, 0.5, 14, 14));
    p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(5, 3, 6, 5), 180 * 16 - 30 * 16, -250 * 16);
    p.drawLine(QPointF(8, 8.3), QPointF(8, 9.2));
    p.drawPoint(QPointF(8, 11.8));
    // 2: settings, a gear.
    at(2);
    {
        QPainterPath gear;
        const QPointF c(8, 7.5);
        for (int k = 0; k < 16; ++k) {
            const double a = k * M_PI / 8;
            const double r = (k % 2 == 0) ? 7.0 : 5.0;
            QPointF pt(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
            if (k == 0)
                gear.moveTo(pt);
            else
                gear.lineTo(pt);
        }
        gear.closeSubpath();
        gear.addEllipse(c, 2.2, 2.2);
        p.setPen(QPen(QColor(70, 70, 80), 1));
        p.setBrush(QColor(160, 165, 180));
        p.drawPath(gear);
    }
    // 3: exit, a door with an arrow leaving it.
    at(3);
    p.setPen(QPen(QColor(110, 60, 20), 1));
    p.setBrush(QColor(200, 140, 70));
    p.drawRect(QRectF(1.5, 1.5, 8, 12));
    p.setPen(QPen(QColor(200, 40, 30), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(7, 7.5), QPointF(14.5, 7.5));
    p.drawPolyline(QPolygonF() << QPointF(12, 5) << QPointF(14.5, 7.5) << QPointF(12, 10));
    // 4: back, 5: forward.
    for (int i : {4, 5}) {
        at(i);
        p.setPen(QPen(QColor(20, 110, 40), 1));
        p.setBrush(QColor(60, 180, 80));
        QPolygonF arrow;
        arrow << QPointF(2, 7.5) << QPointF(8, 2) << QPointF(8, 5) << QPointF(14, 5) << QPointF(14, 10)
              << QPointF(8, 10) << QPointF(8, 13);
        if (i == 5) arrow = QTransform().translate(16, 0).scale(-1, 1).map(arrow);
        p.drawPolygon(arrow);
    }
    // 6: stop, a red square.
    at(6);
    p.setPen(QPen(QColor(140, 20, 20), 1));
    p.setBrush(QColor(220, 60, 50));
    p.drawRoundedRect(QRectF(2.5, 2, 11, 11), 2, 2);
    // 7: refresh, a circular arrow.
    at(7);
    p.setPen(QPen(QColor(20, 110, 40), 2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(3, 2.5, 10, 10), 90 * 16, 270 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 110, 40));
    p.drawPolygon(QPolygonF() << QPointF(7, 0) << QPointF(11, 2.5) << QPointF(7, 5.5));
    // 8: home, a house.
    at(8);
    p.setPen(QPen(QColor(120, 40, 20), 1));
    p.setBrush(QColor(230, 90, 60));
    p.drawPolygon(QPolygonF() << QPointF(8, 1) << QPointF(15, 7.5) << QPointF(1, 7.5));
    p.setBrush(QColor(250, 235, 200));
    p.drawRect(QRectF(3.5, 7.5, 9, 6.5));
    p.setBrush(QColor(150, 90, 40));
    p.drawRect(QRectF(7, 9.5, 3, 4.5));
    // 9: play, a triangle.
    at(9);
    p.setPen(QPen(QColor(20, 60, 140), 1));
    p.setBrush(QColor(70, 130, 220));
    p.drawPolygon(QPolygonF() << QPointF(4, 2) << QPointF(13, 7.5) << QPointF(4, 13));
    // 10: pause, two bars.
    at(10);
    p.drawRect(QRectF(3.5, 2.5, 3, 10));
    p.drawRect(QRectF(9.5, 2.5, 3, 10));
    return img;
}

bool save(const QImage& img, const QString& folder, const char* name) {
    const QString path = QDir(folder).filePath(QString::fromLatin1(name));
    if (!img.save(path, "PNG")) {
        std::fprintf(stderr, "mirvo-draw-images: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// The program's icon at every size a desktop asks for: drawn for each size
// rather than scaled, so the small ones stay sharp.
bool save_theme_icons(const QString& out, const QString& name, const QStringList& sizes) {
    for (const QString& text : sizes) {
        bool number = false;
        const int size = text.toInt(&number);
        if (!number || size < 16 || size > 1024) {
            std::fprintf(stderr, "mirvo-draw-images: not an icon size: %s\n", qPrintable(text));
            return false;
        }
        const QString folder = QDir(out).filePath(QStringLiteral("%1x%1/apps").arg(size));
        QDir().mkpath(folder);
        if (!save(program_icon(size), folder, qPrintable(name + QStringLiteral(".png")))) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Drawing needs fonts but no screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc >= 5 && QByteArray(argv[1]) == "--theme-icons") {
        QStringList sizes;
        for (int i = 4; i < argc; ++i) sizes << QString::fromLocal8Bit(argv[i]);
        return save_theme_icons(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), sizes) ? 0 : 1;
    }
    if (argc != 2) {
        std::fprintf(stderr,
                     "usage: mirvo-draw-images OUTPUT_FOLDER\n"
                     "       mirvo-draw-images --theme-icons OUTPUT_FOLDER NAME SIZE...\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    bool ok = save(program_icon(32), out, "icon127.png") && save(program_icon(16), out, "icon127_16.png") &&
              save(login_icon(), out, "icon204.png") && save(cancel_icon(), out, "icon205.png") &&
              save(banner(), out, "banner189.png") && save(toolbar_strip(), out, "toolbar127.png");
    return ok ? 0 : 1;
}
