// Draws the program's own images (icons, arrows, grips and the splash
// picture) into the folder given as the first argument. Not part of the
// build; run it by hand after changing a drawing:
//   g++ -std=c++17 -fPIC makeImages.cpp $(pkg-config --cflags --libs Qt5Gui) -o /tmp/makeImages
//   QT_QPA_PLATFORM=offscreen /tmp/makeImages ..
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#include <cmath>
#include <functional>

namespace {

QString outDir;

// Draws on a square (or w x h) transparent canvas in a 16-unit coordinate
// system scaled to the image size.
void icon(const QString &name, int w, int h, const std::function<void(QPainter &)> &draw, double units = 16.0)
{
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(w / units, h / units);
    draw(p);
    p.end();
    img.save(outDir + "/" + name + ".png");
}

void glyph(const QString &name, const std::function<void(QPainter &)> &draw)
{
    icon(name, 32, 32, draw);
}

QPen pen(const QColor &c, double width)
{
    QPen pn(c, width);
    pn.setCapStyle(Qt::RoundCap);
    pn.setJoinStyle(Qt::RoundJoin);
    return pn;
}

const QColor white(235, 235, 235);

void arrow(const QString &name, int direction, const QColor &c)
{
    // direction: 0 down, 1 up, 2 left, 3 right
    icon(name, 9, 9, [&](QPainter &p) {
        p.translate(4.5, 4.5);
        p.rotate(direction == 0 ? 0 : direction == 1 ? 180 : direction == 2 ? 90 : -90);
        QPainterPath path;
        path.moveTo(-3.5, -1.8);
        path.lineTo(3.5, -1.8);
        path.lineTo(0, 2.2);
        path.closeSubpath();
        p.fillPath(path, c);
    }, 9.0);
}

void check(const QString &name, const QColor &c)
{
    icon(name, 12, 12, [&](QPainter &p) {
        p.setPen(pen(c, 2.0));
        p.drawPolyline(QPolygonF({QPointF(2.5, 6.5), QPointF(5, 9), QPointF(9.5, 3)}));
    }, 12.0);
}

void menuArrow(const QString &name, const QColor &c)
{
    icon(name, 8, 12, [&](QPainter &p) {
        QPainterPath path;
        path.moveTo(2, 2.5);
        path.lineTo(6, 6);
        path.lineTo(2, 9.5);
        path.closeSubpath();
        p.fillPath(path, c);
    }, 8.0);
}

void splashPicture(const QString &name, int scale)
{
    const int w = 500 * scale, h = 300 * scale;
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    QLinearGradient bg(0, 0, 0, 300);
    bg.setColorAt(0, QColor(250, 250, 248));
    bg.setColorAt(1, QColor(222, 226, 224));
    p.setPen(QPen(QColor(170, 170, 170), 1));
    p.setBrush(bg);
    p.drawRoundedRect(QRectF(0.5, 0.5, 499, 299), 6, 6);
    // Three overlapping exposures: dark, middle and bright.
    const QColor tones[3] = {QColor(40, 60, 50, 150), QColor(40, 178, 83, 150), QColor(250, 210, 90, 170)};
    for (int i = 0; i < 3; ++i) {
        QRadialGradient g(QPointF(205 + i * 45, 56), 40);
        g.setColorAt(0, tones[i].lighter(130));
        g.setColorAt(1, tones[i]);
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawEllipse(QPointF(205 + i * 45, 56), 36, 36);
    }
    QFont f("DejaVu Sans");
    f.setPixelSize(30);
    f.setBold(true);
    p.setFont(f);
    p.setPen(QColor(60, 70, 64));
    p.drawText(QRectF(0, 100, 500, 34), Qt::AlignCenter, "Lumidra");
    p.setPen(QPen(QColor(40, 178, 83), 2));
    p.drawLine(QPointF(170, 258), QPointF(330, 258));
    p.end();
    img.save(outDir + "/" + name + ".png");
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString(".");

    // Title bar buttons.
    for (int scale : {1, 2}) {
        const QString suffix = scale == 2 ? "@2x" : "";
        icon("window_close" + suffix, 10 * scale, 10 * scale, [](QPainter &p) {
            p.setPen(pen(white, 1.6));
            p.drawLine(QPointF(2.5, 2.5), QPointF(7.5, 7.5));
            p.drawLine(QPointF(7.5, 2.5), QPointF(2.5, 7.5));
        }, 10.0);
        icon("window_resize" + suffix, 10 * scale, 10 * scale, [](QPainter &p) {
            p.setPen(pen(white, 1.2));
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRectF(2, 2, 6, 6));
            p.drawLine(QPointF(2, 3), QPointF(8, 3));
        }, 10.0);
        icon("window_minimize" + suffix, 10 * scale, 10 * scale, [](QPainter &p) {
            p.setPen(pen(white, 1.4));
            p.drawLine(QPointF(2.5, 7.5), QPointF(7.5, 7.5));
        }, 10.0);
    }
    // Program icon.
    for (int size : {16, 32}) {
        icon(QString("icon%1").arg(size), size, size, [](QPainter &p) {
            const QColor tones[3] = {QColor(30, 80, 50), QColor(40, 178, 83), QColor(240, 200, 80)};
            for (int i = 0; i < 3; ++i) {
                p.setPen(Qt::NoPen);
                p.setBrush(QColor(tones[i].red(), tones[i].green(), tones[i].blue(), 200));
                p.drawEllipse(QPointF(5 + i * 3, 8), 4.5, 4.5);
            }
        });
    }
    icon("size_grip", 12, 12, [](QPainter &p) {
        p.setPen(pen(QColor(140, 140, 140), 1.0));
        for (int i = 0; i < 3; ++i)
            p.drawLine(QPointF(11 - 3 * i - 2, 11), QPointF(11, 11 - 3 * i - 2));
    }, 12.0);

    // Message box kinds (white glyphs, tinted at run time).
    glyph("_info_icon", [](QPainter &p) {
        p.setPen(pen(white, 1.3));
        p.drawEllipse(QPointF(8, 8), 6.5, 6.5);
        p.setPen(pen(white, 1.8));
        p.drawLine(QPointF(8, 7), QPointF(8, 11.5));
        p.drawPoint(QPointF(8, 4.5));
    });
    glyph("_warn_icon", [](QPainter &p) {
        p.setPen(pen(white, 1.3));
        p.drawPolygon(QPolygonF({QPointF(8, 1.5), QPointF(15, 14), QPointF(1, 14)}));
        p.setPen(pen(white, 1.8));
        p.drawLine(QPointF(8, 6), QPointF(8, 9.5));
        p.drawPoint(QPointF(8, 12));
    });
    glyph("_error_icon", [](QPainter &p) {
        p.setPen(pen(white, 1.3));
        p.drawEllipse(QPointF(8, 8), 6.5, 6.5);
        p.setPen(pen(white, 1.8));
        p.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 10.5));
        p.drawLine(QPointF(10.5, 5.5), QPointF(5.5, 10.5));
    });
    glyph("_question_icon", [](QPainter &p) {
        p.setPen(pen(white, 1.3));
        p.drawEllipse(QPointF(8, 8), 6.5, 6.5);
        p.setPen(pen(white, 1.6));
        QPainterPath q;
        q.moveTo(5.8, 6.2);
        q.cubicTo(5.8, 3.5, 10.4, 3.5, 10.4, 6.2);
        q.cubicTo(10.4, 7.8, 8, 7.8, 8, 9.8);
        p.drawPath(q);
        p.drawPoint(QPointF(8, 12));
    });

    // Widget kit buttons.
    glyph("default_m", [](QPainter &p) {
        p.setPen(pen(white, 1.5));
        p.drawArc(QRectF(3, 3, 10, 10), 90 * 16, 270 * 16);
        QPainterPath head;
        head.moveTo(8, 1);
        head.lineTo(11, 3);
        head.lineTo(8, 5);
        head.closeSubpath();
        p.fillPath(head, white);
    });
    glyph("zoom_100", [](QPainter &p) {
        QFont f("DejaVu Sans");
        f.setPixelSize(8);
        f.setBold(true);
        p.setFont(f);
        p.setPen(white);
        p.drawText(QRectF(0, 0, 16, 16), Qt::AlignCenter, "1:1");
    });
    glyph("zoom_fit", [](QPainter &p) {
        p.setPen(pen(white, 1.3));
        p.drawRect(QRectF(2.5, 3.5, 11, 9));
        p.drawLine(QPointF(5, 6), QPointF(11, 10));
        p.drawLine(QPointF(11, 6), QPointF(5, 10));
    });
    glyph("user", [](QPainter &p) {
        p.setPen(Qt::NoPen);
        p.setBrush(white);
        p.drawEllipse(QPointF(8, 5.2), 3, 3);
        p.drawChord(QRectF(2.5, 9, 11, 10), 0, 180 * 16);
    });
    glyph("pin3", [](QPainter &p) {
        p.setPen(pen(QColor(128, 128, 128), 1.4));
        p.drawRect(QRectF(3, 3, 10, 10));
        p.drawLine(QPointF(3, 6), QPointF(13, 6));
    });
    glyph("unpin", [](QPainter &p) {
        p.setPen(pen(QColor(128, 128, 128), 1.4));
        p.drawRect(QRectF(2, 5, 8, 8));
        p.drawLine(QPointF(6, 3), QPointF(14, 3));
        p.drawLine(QPointF(14, 3), QPointF(14, 10));
    });
    icon("grip", 4, 4, [](QPainter &p) {
        p.fillRect(QRectF(0, 0, 1, 1), QColor(90, 90, 90));
        p.fillRect(QRectF(2, 2, 1, 1), QColor(90, 90, 90));
        p.fillRect(QRectF(1, 1, 1, 1), QColor(30, 30, 30));
        p.fillRect(QRectF(3, 3, 1, 1), QColor(30, 30, 30));
    }, 4.0);
    icon("slider_handle", 8, 8, [](QPainter &p) {
        p.setPen(pen(QColor(140, 140, 140), 1));
        p.drawLine(QPointF(4, 1.5), QPointF(4, 6.5));
    }, 8.0);
    icon("slider_handle_disabled", 8, 8, [](QPainter &p) {
        p.setPen(pen(QColor(90, 90, 90), 1));
        p.drawLine(QPointF(4, 1.5), QPointF(4, 6.5));
    }, 8.0);

    // Style sheet images: Dark skin, then the Bright skin variants ("2").
    const QColor arrowDark(177, 177, 177), arrowDisabled(96, 96, 96), arrowHover(40, 178, 83);
    const QColor arrowBright(40, 40, 40), arrowBrightDisabled(150, 150, 150), arrowBrightHover(20, 120, 50);
    arrow("down_arrow", 0, arrowDark);
    arrow("down_arrow_disabled", 0, arrowDisabled);
    arrow("down_arrow_hover", 0, arrowHover);
    arrow("up_arrow", 1, arrowDark);
    arrow("up_arrow_disabled", 1, arrowDisabled);
    arrow("left_arrow", 2, arrowDark);
    arrow("left_arrow_disabled", 2, arrowDisabled);
    arrow("right_arrow", 3, arrowDark);
    arrow("right_arrow_disabled", 3, arrowDisabled);
    arrow("down_arrow2", 0, arrowBright);
    arrow("down_arrow_disabled2", 0, arrowBrightDisabled);
    arrow("down_arrow_hover2", 0, arrowBrightHover);
    arrow("up_arrow2", 1, arrowBright);
    arrow("up_arrow_disabled2", 1, arrowBrightDisabled);
    arrow("left_arrow2", 2, arrowBright);
    arrow("left_arrow_disabled2", 2, arrowBrightDisabled);
    arrow("right_arrow2", 3, arrowBright);
    arrow("right_arrow_disabled2", 3, arrowBrightDisabled);
    check("check", QColor(200, 200, 200));
    check("check-disabled", QColor(100, 100, 100));
    check("check-selected", QColor(40, 178, 83));
    check("check2", QColor(20, 20, 20));
    check("check-disabled2", QColor(150, 150, 150));
    check("check-selected2", QColor(20, 120, 50));
    menuArrow("menu-right-arrow", QColor(192, 192, 192));
    menuArrow("menu-right-arrow-disabled", QColor(104, 104, 104));
    menuArrow("menu-right-arrow-selected", QColor(240, 240, 240));
    menuArrow("menu-right-arrow2", QColor(20, 20, 20));
    menuArrow("menu-right-arrow-disabled2", QColor(150, 150, 150));
    menuArrow("menu-right-arrow-selected2", QColor(8, 8, 8));
    icon("toolbar_handle1", 8, 8, [](QPainter &p) {
        p.fillRect(QRectF(3, 1, 1, 6), QColor(100, 100, 100));
    }, 8.0);
    icon("toolbar_handle2", 8, 8, [](QPainter &p) {
        p.fillRect(QRectF(1, 3, 6, 1), QColor(100, 100, 100));
    }, 8.0);
    icon("toolbar_separator1", 6, 6, [](QPainter &p) {
        p.fillRect(QRectF(2, 0, 1, 6), QColor(34, 34, 34));
        p.fillRect(QRectF(3, 0, 1, 6), QColor(90, 90, 90));
    }, 6.0);
    icon("toolbar_separator2", 6, 6, [](QPainter &p) {
        p.fillRect(QRectF(0, 2, 6, 1), QColor(34, 34, 34));
        p.fillRect(QRectF(0, 3, 6, 1), QColor(90, 90, 90));
    }, 6.0);
    icon("splitter-horz", 4, 20, [](QPainter &p) {
        for (int y = 6; y < 14; y += 3)
            p.fillRect(QRectF(1, y, 2, 1), QColor(110, 110, 110));
    }, 1.0);
    icon("splitter-vert", 20, 4, [](QPainter &p) {
        for (int x = 6; x < 14; x += 3)
            p.fillRect(QRectF(x, 1, 1, 2), QColor(110, 110, 110));
    }, 1.0);


    // Glyphs of the panels, layers, presets and main window (white, tinted at
    // run time).
    const QPen line = pen(white, 1.4);
    glyph("add", [&](QPainter &p) {
        p.setPen(line);
        p.drawLine(QPointF(8, 3), QPointF(8, 13));
        p.drawLine(QPointF(3, 8), QPointF(13, 8));
    });
    glyph("plus", [&](QPainter &p) {
        p.setPen(pen(white, 2.0));
        p.drawLine(QPointF(8, 4), QPointF(8, 12));
        p.drawLine(QPointF(4, 8), QPointF(12, 8));
    });
    glyph("remove", [&](QPainter &p) {
        p.setPen(pen(white, 2.0));
        p.drawLine(QPointF(4, 8), QPointF(12, 8));
    });
    glyph("delete", [&](QPainter &p) {
        p.setPen(line);
        p.drawLine(QPointF(3, 4), QPointF(13, 4));
        p.drawLine(QPointF(6.5, 2.5), QPointF(9.5, 2.5));
        p.drawPolyline(QPolygonF({QPointF(4.5, 5), QPointF(5.5, 14), QPointF(10.5, 14), QPointF(11.5, 5)}));
    });
    glyph("ok", [&](QPainter &p) {
        p.setPen(pen(white, 1.8));
        p.drawPolyline(QPolygonF({QPointF(3, 8.5), QPointF(6.5, 12), QPointF(13, 4)}));
    });
    glyph("undo", [&](QPainter &p) {
        p.setPen(line);
        p.drawArc(QRectF(4, 4, 9, 8), 90 * 16, -200 * 16);
        p.drawLine(QPointF(8.5, 4), QPointF(4, 4));
        p.drawPolyline(QPolygonF({QPointF(6, 2), QPointF(4, 4), QPointF(6, 6)}));
    });
    glyph("redo", [&](QPainter &p) {
        p.translate(16, 0);
        p.scale(-1, 1);
        p.setPen(line);
        p.drawArc(QRectF(4, 4, 9, 8), 90 * 16, -200 * 16);
        p.drawLine(QPointF(8.5, 4), QPointF(4, 4));
        p.drawPolyline(QPolygonF({QPointF(6, 2), QPointF(4, 4), QPointF(6, 6)}));
    });
    glyph("new", [&](QPainter &p) {
        p.setPen(line);
        p.drawPolygon(QPolygonF({QPointF(4, 2), QPointF(10, 2), QPointF(13, 5), QPointF(13, 14), QPointF(4, 14)}));
        p.drawPolyline(QPolygonF({QPointF(10, 2), QPointF(10, 5), QPointF(13, 5)}));
    });
    glyph("list", [&](QPainter &p) {
        p.setPen(line);
        for (int y : {4, 8, 12})
            p.drawLine(QPointF(3, y), QPointF(13, y));
    });
    glyph("grid", [&](QPainter &p) {
        p.setPen(pen(white, 1.1));
        p.drawRect(QRectF(2.5, 2.5, 11, 11));
        p.drawLine(QPointF(6.2, 2.5), QPointF(6.2, 13.5));
        p.drawLine(QPointF(9.8, 2.5), QPointF(9.8, 13.5));
        p.drawLine(QPointF(2.5, 6.2), QPointF(13.5, 6.2));
        p.drawLine(QPointF(2.5, 9.8), QPointF(13.5, 9.8));
    });
    glyph("options", [&](QPainter &p) {
        p.setPen(line);
        p.drawEllipse(QPointF(8, 8), 2.5, 2.5);
        for (int i = 0; i < 8; ++i) {
            const double a = i * M_PI / 4;
            p.drawLine(QPointF(8 + std::cos(a) * 4.5, 8 + std::sin(a) * 4.5),
                       QPointF(8 + std::cos(a) * 6.5, 8 + std::sin(a) * 6.5));
        }
    });
    glyph("home", [&](QPainter &p) {
        p.setPen(line);
        p.drawPolyline(QPolygonF({QPointF(2, 8), QPointF(8, 2.5), QPointF(14, 8)}));
        p.drawPolyline(QPolygonF({QPointF(4, 7), QPointF(4, 14), QPointF(12, 14), QPointF(12, 7)}));
    });
    glyph("home_plus_user", [&](QPainter &p) {
        p.setPen(line);
        p.drawPolyline(QPolygonF({QPointF(1, 8), QPointF(6, 3), QPointF(11, 8)}));
        p.drawPolyline(QPolygonF({QPointF(3, 7), QPointF(3, 13), QPointF(9, 13), QPointF(9, 7)}));
        p.setPen(Qt::NoPen);
        p.setBrush(white);
        p.drawEllipse(QPointF(12.5, 9), 1.8, 1.8);
        p.drawChord(QRectF(9.5, 11.5, 6, 6), 0, 180 * 16);
    });
    glyph("keyboard", [&](QPainter &p) {
        p.setPen(line);
        p.drawRoundedRect(QRectF(1.5, 4.5, 13, 8), 1.5, 1.5);
        p.setPen(pen(white, 1.0));
        for (int x = 4; x <= 12; x += 2)
            p.drawPoint(QPointF(x, 7));
        p.drawLine(QPointF(5, 10), QPointF(11, 10));
    });
    glyph("picture", [&](QPainter &p) {
        p.setPen(line);
        p.drawRect(QRectF(2, 3, 12, 10));
        p.drawPolyline(QPolygonF({QPointF(2.5, 12), QPointF(6, 8), QPointF(9, 11), QPointF(11, 9), QPointF(13.5, 12)}));
        p.drawEllipse(QPointF(10.5, 6), 1, 1);
    });
    glyph("panorama", [&](QPainter &p) {
        p.setPen(line);
        p.drawRect(QRectF(1, 5, 14, 6));
        p.drawPolyline(QPolygonF({QPointF(1.5, 10.5), QPointF(5, 7.5), QPointF(8, 10), QPointF(11, 7), QPointF(14.5, 10.5)}));
    });
    glyph("generateHDR", [&](QPainter &p) {
        p.setPen(line);
        p.drawEllipse(QPointF(5.5, 8), 3.5, 3.5);
        p.drawEllipse(QPointF(10.5, 8), 3.5, 3.5);
        p.setPen(Qt::NoPen);
        p.setBrush(white);
        p.drawEllipse(QPointF(8, 8), 1.3, 1.3);
    });
    glyph("fantasy", [&](QPainter &p) {
        QPainterPath star;
        for (int i = 0; i < 10; ++i) {
            const double r = i % 2 ? 2.6 : 6.0;
            const double a = -M_PI / 2 + i * M_PI / 5;
            const QPointF pt(8 + r * std::cos(a), 8.5 + r * std::sin(a));
            if (i == 0)
                star.moveTo(pt);
            else
                star.lineTo(pt);
        }
        star.closeSubpath();
        p.fillPath(star, white);
    });
    glyph("robot", [&](QPainter &p) {
        p.setPen(line);
        p.drawRoundedRect(QRectF(3, 5, 10, 8), 2, 2);
        p.drawLine(QPointF(8, 5), QPointF(8, 2.5));
        p.setPen(pen(white, 1.8));
        p.drawPoint(QPointF(6, 8.5));
        p.drawPoint(QPointF(10, 8.5));
    });
    glyph("brush", [&](QPainter &p) {
        p.setPen(line);
        p.drawLine(QPointF(13.5, 2.5), QPointF(7, 9));
        QPainterPath tip;
        tip.moveTo(7.5, 8.5);
        tip.cubicTo(4, 8, 3, 11, 2.5, 13.5);
        tip.cubicTo(5, 13, 8, 12, 7.5, 8.5);
        p.fillPath(tip, white);
    });
    glyph("eraser", [&](QPainter &p) {
        p.setPen(line);
        p.drawPolygon(QPolygonF({QPointF(2, 10), QPointF(9, 3), QPointF(14, 8), QPointF(9, 13), QPointF(5, 13)}));
        p.drawLine(QPointF(5.5, 6.5), QPointF(10.5, 11.5));
    });
    glyph("bucket", [&](QPainter &p) {
        p.setPen(line);
        p.drawPolygon(QPolygonF({QPointF(3, 7), QPointF(8, 2), QPointF(13, 7), QPointF(8, 12)}));
        p.setPen(Qt::NoPen);
        p.setBrush(white);
        p.drawEllipse(QPointF(13.5, 12), 1.5, 2);
    });
    glyph("gradient", [&](QPainter &p) {
        QLinearGradient g(2, 0, 14, 0);
        g.setColorAt(0, QColor(235, 235, 235, 255));
        g.setColorAt(1, QColor(235, 235, 235, 0));
        p.setPen(line);
        p.setBrush(g);
        p.drawRect(QRectF(2, 3, 12, 10));
    });
    auto eyedropper = [&](const QString &name, int fill) {
        glyph(name, [&](QPainter &p) {
            p.setPen(line);
            p.drawLine(QPointF(2.5, 13.5), QPointF(9, 7));
            p.drawLine(QPointF(7, 5), QPointF(11, 9));
            p.setPen(Qt::NoPen);
            p.setBrush(white);
            p.drawEllipse(QPointF(11.5, 4.5), 2.5, 2.5);
            if (fill >= 0) {
                p.setPen(pen(white, 0.8));
                p.setBrush(QColor(fill, fill, fill));
                p.drawRect(QRectF(1.5, 1.5, 4, 4));
            }
        });
    };
    eyedropper("eyedropper", -1);
    eyedropper("eyedropper_bl", 0);
    eyedropper("eyedropper_wh", 255);
    glyph("padlock_locked", [&](QPainter &p) {
        p.setPen(line);
        p.drawArc(QRectF(5, 2.5, 6, 7), 0, 180 * 16);
        p.drawLine(QPointF(5, 6), QPointF(5, 7.5));
        p.drawLine(QPointF(11, 6), QPointF(11, 7.5));
        p.setPen(Qt::NoPen);
        p.setBrush(white);
        p.drawRoundedRect(QRectF(3.5, 7.5, 9, 6.5), 1, 1);
    });
    glyph("padlock_unlocked", [&](QPainter &p) {
        p.setPen(line);
        p.drawArc(QRectF(8, 1.5, 6, 7), 0, 180 * 16);
        p.drawLine(QPointF(14, 5), QPointF(14, 6.5));
        p.drawLine(QPointF(8, 5), QPointF(8, 7.5));
        p.setPen(Qt::NoPen);
        p.setBrush(white);
        p.drawRoundedRect(QRectF(2.5, 7.5, 9, 6.5), 1, 1);
    });
    auto eye = [&](QPainter &p) {
        p.setPen(line);
        QPainterPath e;
        e.moveTo(1.5, 8);
        e.quadTo(8, 1.5, 14.5, 8);
        e.quadTo(8, 14.5, 1.5, 8);
        p.drawPath(e);
        p.setPen(Qt::NoPen);
        p.setBrush(white);
        p.drawEllipse(QPointF(8, 8), 2.2, 2.2);
    };
    glyph("visible", eye);
    glyph("invisible2", [&](QPainter &p) {
        eye(p);
        p.setPen(pen(white, 1.6));
        p.drawLine(QPointF(3, 13), QPointF(13, 3));
    });
    glyph("hist100", [&](QPainter &p) {
        p.setPen(Qt::NoPen);
        p.setBrush(white);
        const double h[] = {2, 4, 7, 10, 8, 5, 3};
        for (int i = 0; i < 7; ++i)
            p.drawRect(QRectF(1.5 + i * 1.9, 14 - h[i], 1.5, h[i]));
    });
    glyph("curve_linear", [&](QPainter &p) {
        p.setPen(line);
        p.drawPolyline(QPolygonF({QPointF(2, 14), QPointF(7, 7), QPointF(14, 2)}));
    });
    glyph("curve_smooth", [&](QPainter &p) {
        p.setPen(line);
        QPainterPath c;
        c.moveTo(2, 14);
        c.cubicTo(6, 13, 9, 3, 14, 2);
        p.drawPath(c);
    });
    glyph("curve_reset1", [&](QPainter &p) {
        p.setPen(line);
        p.drawLine(QPointF(2, 14), QPointF(14, 2));
        p.setPen(pen(white, 1.0));
        p.drawRect(QRectF(1.5, 1.5, 13, 13));
    });
    glyph("curve_reset4", [&](QPainter &p) {
        p.setPen(pen(white, 1.0));
        for (int i = 0; i < 4; ++i)
            p.drawLine(QPointF(2 + i, 14), QPointF(14, 2 + i));
        p.drawRect(QRectF(1.5, 1.5, 13, 13));
    });
    glyph("cm_monitor", [&](QPainter &p) {
        p.setPen(line);
        p.drawRect(QRectF(2, 2.5, 12, 8.5));
        p.drawLine(QPointF(8, 11), QPointF(8, 13.5));
        p.drawLine(QPointF(5, 13.5), QPointF(11, 13.5));
    });
    glyph("cm_photo", [&](QPainter &p) {
        p.setPen(line);
        p.drawRoundedRect(QRectF(1.5, 4.5, 13, 9), 1.5, 1.5);
        p.drawEllipse(QPointF(8, 9), 2.8, 2.8);
        p.drawLine(QPointF(5, 4.5), QPointF(6, 2.5));
        p.drawLine(QPointF(6, 2.5), QPointF(10, 2.5));
        p.drawLine(QPointF(10, 2.5), QPointF(11, 4.5));
    });
    icon("toggle_bg", 14, 14, [&](QPainter &p) {
        p.fillRect(QRectF(0, 0, 7, 7), QColor(200, 200, 200));
        p.fillRect(QRectF(7, 7, 7, 7), QColor(200, 200, 200));
        p.fillRect(QRectF(7, 0, 7, 7), QColor(70, 70, 70));
        p.fillRect(QRectF(0, 7, 7, 7), QColor(70, 70, 70));
    }, 14.0);
    for (int scale : {1, 2})
        icon(scale == 2 ? "logo-about@2x" : "logo-about", 96 * scale, 96 * scale, [](QPainter &p) {
            const QColor tones[3] = {QColor(40, 60, 50, 170), QColor(40, 178, 83, 170), QColor(250, 210, 90, 190)};
            for (int i = 0; i < 3; ++i) {
                p.setPen(Qt::NoPen);
                p.setBrush(tones[i]);
                p.drawEllipse(QPointF(4.5 + i * 3.5, 8), 4, 4);
            }
        });

    // Main window commands.
    auto arrowHead = [&](QPainter &p, QPointF tip, double angleDeg) {
        p.save();
        p.translate(tip);
        p.rotate(angleDeg);
        QPainterPath head;
        head.moveTo(0, 0);
        head.lineTo(-3, -2.2);
        head.lineTo(-3, 2.2);
        head.closeSubpath();
        p.fillPath(head, white);
        p.restore();
    };
    auto floppy = [&](QPainter &p) {
        p.setPen(line);
        QPainterPath body;
        body.moveTo(2, 2);
        body.lineTo(12, 2);
        body.lineTo(14, 4);
        body.lineTo(14, 14);
        body.lineTo(2, 14);
        body.closeSubpath();
        p.drawPath(body);
        p.drawRect(QRectF(5, 2, 6, 4));
        p.drawRect(QRectF(4.5, 9, 7, 5));
    };
    glyph("save", floppy);
    glyph("saveas", [&](QPainter &p) {
        p.scale(0.8, 0.8);
        floppy(p);
        p.resetTransform();
        p.scale(2, 2);
        p.setPen(pen(white, 1.6));
        p.drawLine(QPointF(10, 14.5), QPointF(15, 9.5));
    });
    glyph("extedit", [&](QPainter &p) {
        p.setPen(line);
        p.drawRect(QRectF(2, 4, 10, 10));
        p.drawLine(QPointF(7, 9), QPointF(14, 2));
        p.drawLine(QPointF(10, 2), QPointF(14, 2));
        p.drawLine(QPointF(14, 2), QPointF(14, 6));
    });
    glyph("batch", [&](QPainter &p) {
        p.setPen(line);
        for (int i = 0; i < 3; ++i)
            p.drawRect(QRectF(2 + 2 * i, 7 - 2 * i, 8, 7));
    });
    glyph("copy", [&](QPainter &p) {
        p.setPen(line);
        p.drawRect(QRectF(2, 2, 8, 9));
        p.drawRect(QRectF(6, 5, 8, 9));
    });
    glyph("layers", [&](QPainter &p) {
        p.setPen(line);
        for (int i = 0; i < 3; ++i) {
            const double y = 4 + 3.5 * i;
            p.drawPolygon(QPolygonF({QPointF(8, y - 2.5), QPointF(14, y), QPointF(8, y + 2.5), QPointF(2, y)}));
        }
    });
    auto magnifier = [&](QPainter &p, bool plus) {
        p.setPen(line);
        p.drawEllipse(QPointF(6.5, 6.5), 4.5, 4.5);
        p.setPen(pen(white, 2.0));
        p.drawLine(QPointF(10, 10), QPointF(14, 14));
        p.setPen(line);
        p.drawLine(QPointF(4.5, 6.5), QPointF(8.5, 6.5));
        if (plus)
            p.drawLine(QPointF(6.5, 4.5), QPointF(6.5, 8.5));
    };
    glyph("zoom_in", [&](QPainter &p) { magnifier(p, true); });
    glyph("zoom_out", [&](QPainter &p) { magnifier(p, false); });
    glyph("before", [&](QPainter &p) {
        p.setPen(line);
        p.drawRect(QRectF(2, 3, 12, 10));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(235, 235, 235, 110));
        p.drawPolygon(QPolygonF({QPointF(3, 12), QPointF(7, 7), QPointF(10, 10), QPointF(13, 12)}));
    });
    glyph("result", [&](QPainter &p) {
        p.setPen(line);
        p.drawRect(QRectF(2, 3, 12, 10));
        p.setPen(Qt::NoPen);
        p.setBrush(white);
        p.drawPolygon(QPolygonF({QPointF(3, 12), QPointF(7, 7), QPointF(10, 10), QPointF(13, 12)}));
        p.drawEllipse(QPointF(11, 6), 1.4, 1.4);
    });
    glyph("split", [&](QPainter &p) {
        p.setPen(line);
        p.drawRect(QRectF(2, 3, 12, 10));
        p.fillRect(QRectF(8, 3, 6, 10), QColor(235, 235, 235, 150));
        p.drawLine(QPointF(8, 1.5), QPointF(8, 14.5));
    });
    auto turn = [&](QPainter &p, bool clockwise, int span) {
        p.setPen(line);
        const QRectF r(3, 3, 10, 10);
        const double toRad = M_PI / 180.0;
        double a, dx, dy;
        if (clockwise) {
            p.drawArc(r, 180 * 16, -span * 16);
            a = (180.0 - span) * toRad;
            dx = std::sin(a);
            dy = std::cos(a);
        } else {
            p.drawArc(r, 0, span * 16);
            a = span * toRad;
            dx = -std::sin(a);
            dy = -std::cos(a);
        }
        arrowHead(p, QPointF(8 + 5 * std::cos(a), 8 - 5 * std::sin(a)), std::atan2(dy, dx) / toRad);
    };
    glyph("rotate90ccw", [&](QPainter &p) { turn(p, false, 200); });
    glyph("rotate90cw", [&](QPainter &p) { turn(p, true, 200); });
    glyph("rotate180", [&](QPainter &p) { turn(p, true, 300); });
    glyph("flip_horizontal", [&](QPainter &p) {
        p.setPen(pen(white, 1.0));
        p.drawLine(QPointF(8, 1.5), QPointF(8, 14.5));
        p.setPen(line);
        p.drawPolygon(QPolygonF({QPointF(6, 3), QPointF(6, 13), QPointF(1.5, 13)}));
        p.setBrush(white);
        p.drawPolygon(QPolygonF({QPointF(10, 3), QPointF(10, 13), QPointF(14.5, 13)}));
    });
    glyph("flip_vertical", [&](QPainter &p) {
        p.setPen(pen(white, 1.0));
        p.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
        p.setPen(line);
        p.drawPolygon(QPolygonF({QPointF(3, 6), QPointF(13, 6), QPointF(13, 1.5)}));
        p.setBrush(white);
        p.drawPolygon(QPolygonF({QPointF(3, 10), QPointF(13, 10), QPointF(13, 14.5)}));
    });
    glyph("crop", [&](QPainter &p) {
        p.setPen(line);
        p.drawPolyline(QPolygonF({QPointF(4, 1.5), QPointF(4, 12), QPointF(14.5, 12)}));
        p.drawPolyline(QPolygonF({QPointF(1.5, 4), QPointF(12, 4), QPointF(12, 14.5)}));
    });
    glyph("default", [&](QPainter &p) {
        p.setPen(line);
        p.drawArc(QRectF(3, 3, 10, 10), 90 * 16, 270 * 16);
        arrowHead(p, QPointF(10, 3), 0);
    });
    glyph("book", [&](QPainter &p) {
        p.setPen(line);
        p.drawPolygon(QPolygonF({QPointF(8, 4), QPointF(2, 2.5), QPointF(2, 13), QPointF(8, 14.5)}));
        p.drawPolygon(QPolygonF({QPointF(8, 4), QPointF(14, 2.5), QPointF(14, 13), QPointF(8, 14.5)}));
    });
    glyph("about", [&](QPainter &p) {
        p.setPen(line);
        p.drawEllipse(QPointF(8, 8), 6.5, 6.5);
        QFont f("DejaVu Sans");
        f.setPixelSize(9);
        f.setBold(true);
        p.setFont(f);
        p.drawText(QRectF(0, 0.5, 16, 16), Qt::AlignCenter, "i");
    });

    // The command glyphs of the main window and the zoom control are tinted
    // at run time by multiplying each channel by 12 (normal), 7 (disabled)
    // and 16 (active): they are stored at the base grey 18, so that the three
    // states come out as 216, 126 and 255 instead of all saturating at white.
    for (const char *name : {"new", "add", "remove", "generateHDR", "undo", "redo", "plus", "cm_photo", "cm_monitor",
                             "panorama", "zoom_100", "zoom_fit", "save", "saveas", "extedit", "batch", "copy",
                             "layers", "zoom_in", "zoom_out", "before", "result", "split", "rotate90ccw", "rotate90cw",
                             "rotate180", "flip_horizontal", "flip_vertical", "crop", "default", "book", "about"}) {
        const QString file = outDir + "/" + name + ".png";
        QImage img(file);
        img = img.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < img.height(); ++y) {
            QRgb *row = reinterpret_cast<QRgb *>(img.scanLine(y));
            for (int x = 0; x < img.width(); ++x) {
                auto base = [](int v) { return (v * 18 + 117) / 235; };
                row[x] = qRgba(base(qRed(row[x])), base(qGreen(row[x])), base(qBlue(row[x])), qAlpha(row[x]));
            }
        }
        img.save(file);
    }

    splashPicture("splash", 1);
    splashPicture("splash@2x", 2);
    return 0;
}
