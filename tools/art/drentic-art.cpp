// Draws every picture the program loads by name, as one set: one palette,
// one line weight, one corner radius. The PNG files it writes are kept in
// resources/images/ so a build never has to run this; run it again after
// changing a picture:
//
//   build/tools/art/drentic-art resources/images
//
// Everything is painted with QPainter; nothing is taken from elsewhere.

#include <QColor>
#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextOption>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

// --- the palette -----------------------------------------------------------
const QColor kInk(0x1E, 0x2A, 0x3A);
const QColor kMuted(0x5B, 0x6B, 0x7F);
const QColor kLine(0xD3, 0xDC, 0xE8);
const QColor kPanel(0xF3, 0xF6, 0xFA);
const QColor kWhite(0xFF, 0xFF, 0xFF);
const QColor kFiles(0x2F, 0x6F, 0xDB);  // files: blue
const QColor kPhotos(0x1A, 0x9E, 0x8F); // photos: teal
const QColor kParts(0x6C, 0x4F, 0xD1);  // partitions and drives: violet
const QColor kRed(0xD6, 0x45, 0x45);
const QColor kGreen(0x2E, 0x9E, 0x5B);
const QColor kGrey(0x9A, 0xA5, 0xB1);
const QColor kAmber(0xF0, 0xA8, 0x20);

const char* const kFamily = "DejaVu Sans";

QString gOut;
int gWritten = 0;

QColor tint(const QColor& c, double towardWhite) {
    return QColor::fromRgbF(c.redF() + (1 - c.redF()) * towardWhite, c.greenF() + (1 - c.greenF()) * towardWhite,
                            c.blueF() + (1 - c.blueF()) * towardWhite, 1.0);
}

QFont font(double px, bool bold = false) {
    QFont f(QString::fromLatin1(kFamily));
    f.setPixelSize(static_cast<int>(std::lround(px)));
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

void save(const QString& name, int w, int h, const std::function<void(QPainter&)>& draw) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        draw(p);
    }
    const QString path = gOut + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!img.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
    ++gWritten;
}

// --- glyphs: drawn in a unit box of side s at (x, y), stroked in one colour --

QPen glyphPen(const QColor& c, double s) {
    QPen pen(c, std::max(1.5, s * 0.075));
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

void glyphDocument(QPainter& p, QRectF r, const QColor& c) {
    const double s = r.width();
    p.save();
    p.setPen(glyphPen(c, s));
    p.setBrush(Qt::NoBrush);
    const double l = r.left() + s * 0.2, t = r.top() + s * 0.1, w = s * 0.6, h = s * 0.8, fold = s * 0.2;
    QPainterPath path;
    path.moveTo(l, t);
    path.lineTo(l + w - fold, t);
    path.lineTo(l + w, t + fold);
    path.lineTo(l + w, t + h);
    path.lineTo(l, t + h);
    path.closeSubpath();
    p.drawPath(path);
    p.drawLine(QPointF(l + w - fold, t), QPointF(l + w - fold, t + fold));
    p.drawLine(QPointF(l + w - fold, t + fold), QPointF(l + w, t + fold));
    for (int i = 0; i < 3; ++i) {
        double y = t + h * (0.45 + 0.17 * i);
        p.drawLine(QPointF(l + w * 0.2, y), QPointF(l + w * (i == 2 ? 0.55 : 0.8), y));
    }
    p.restore();
}

void glyphPhoto(QPainter& p, QRectF r, const QColor& c) {
    const double s = r.width();
    p.save();
    p.setPen(glyphPen(c, s));
    p.setBrush(Qt::NoBrush);
    QRectF frame(r.left() + s * 0.1, r.top() + s * 0.2, s * 0.8, s * 0.6);
    p.drawRoundedRect(frame, s * 0.08, s * 0.08);
    QPainterPath hills;
    hills.moveTo(frame.left() + s * 0.04, frame.bottom() - s * 0.06);
    hills.lineTo(frame.left() + s * 0.28, frame.top() + s * 0.26);
    hills.lineTo(frame.left() + s * 0.44, frame.top() + s * 0.42);
    hills.lineTo(frame.left() + s * 0.56, frame.top() + s * 0.32);
    hills.lineTo(frame.right() - s * 0.04, frame.bottom() - s * 0.06);
    p.drawPath(hills);
    p.drawEllipse(QPointF(frame.right() - s * 0.18, frame.top() + s * 0.16), s * 0.06, s * 0.06);
    p.restore();
}

void glyphDrive(QPainter& p, QRectF r, const QColor& c) {
    const double s = r.width();
    p.save();
    p.setPen(glyphPen(c, s));
    p.setBrush(Qt::NoBrush);
    QRectF body(r.left() + s * 0.1, r.top() + s * 0.3, s * 0.8, s * 0.42);
    p.drawRoundedRect(body, s * 0.08, s * 0.08);
    p.drawLine(QPointF(body.left(), body.top() + body.height() * 0.55),
               QPointF(body.right(), body.top() + body.height() * 0.55));
    p.setBrush(c);
    p.drawEllipse(QPointF(body.right() - s * 0.12, body.top() + body.height() * 0.78), s * 0.035, s * 0.035);
    p.restore();
}

void glyphPie(QPainter& p, QRectF r, const QColor& c) {
    const double s = r.width();
    p.save();
    p.setPen(glyphPen(c, s));
    p.setBrush(Qt::NoBrush);
    QRectF circle(r.left() + s * 0.14, r.top() + s * 0.14, s * 0.72, s * 0.72);
    p.drawEllipse(circle);
    QPointF centre = circle.center();
    p.drawLine(centre, QPointF(centre.x(), circle.top()));
    p.drawLine(centre, QPointF(circle.right() - s * 0.05, centre.y() + s * 0.16));
    p.drawLine(centre, QPointF(circle.left() + s * 0.08, centre.y() + s * 0.2));
    p.restore();
}

void glyphBolt(QPainter& p, QRectF r, const QColor& c) {
    const double s = r.width();
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    QPainterPath bolt;
    bolt.moveTo(r.left() + s * 0.58, r.top() + s * 0.05);
    bolt.lineTo(r.left() + s * 0.22, r.top() + s * 0.55);
    bolt.lineTo(r.left() + s * 0.47, r.top() + s * 0.55);
    bolt.lineTo(r.left() + s * 0.38, r.top() + s * 0.95);
    bolt.lineTo(r.left() + s * 0.78, r.top() + s * 0.42);
    bolt.lineTo(r.left() + s * 0.53, r.top() + s * 0.42);
    bolt.closeSubpath();
    p.drawPath(bolt);
    p.restore();
}

void glyphMagnifier(QPainter& p, QRectF r, const QColor& c) {
    const double s = r.width();
    p.save();
    QPen pen = glyphPen(c, s);
    pen.setWidthF(pen.widthF() * 1.3);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    QPointF centre(r.left() + s * 0.42, r.top() + s * 0.42);
    p.drawEllipse(centre, s * 0.24, s * 0.24);
    p.drawLine(QPointF(r.left() + s * 0.6, r.top() + s * 0.6), QPointF(r.left() + s * 0.86, r.top() + s * 0.86));
    p.restore();
}

void glyphCycle(QPainter& p, QRectF r, const QColor& c) {
    const double s = r.width();
    p.save();
    QPen pen = glyphPen(c, s);
    pen.setWidthF(pen.widthF() * 1.2);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    QRectF arc(r.left() + s * 0.2, r.top() + s * 0.2, s * 0.6, s * 0.6);
    p.drawArc(arc, 30 * 16, 280 * 16);
    // arrow head at the arc's open end
    const double a = 30.0 * M_PI / 180.0;
    QPointF tip(arc.center().x() + std::cos(a) * s * 0.3, arc.center().y() - std::sin(a) * s * 0.3);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    QPainterPath head;
    head.moveTo(tip + QPointF(s * 0.12, s * 0.02));
    head.lineTo(tip + QPointF(-s * 0.1, -s * 0.06));
    head.lineTo(tip + QPointF(s * 0.02, s * 0.18));
    head.closeSubpath();
    p.drawPath(head);
    p.restore();
}

void glyphHouse(QPainter& p, QRectF r, const QColor& c) {
    const double s = r.width();
    p.save();
    p.setPen(glyphPen(c, s));
    p.setBrush(Qt::NoBrush);
    QPainterPath roof;
    roof.moveTo(r.left() + s * 0.12, r.top() + s * 0.5);
    roof.lineTo(r.left() + s * 0.5, r.top() + s * 0.16);
    roof.lineTo(r.left() + s * 0.88, r.top() + s * 0.5);
    p.drawPath(roof);
    QPainterPath body;
    body.moveTo(r.left() + s * 0.24, r.top() + s * 0.42);
    body.lineTo(r.left() + s * 0.24, r.top() + s * 0.84);
    body.lineTo(r.left() + s * 0.76, r.top() + s * 0.84);
    body.lineTo(r.left() + s * 0.76, r.top() + s * 0.42);
    p.drawPath(body);
    p.drawRect(QRectF(r.left() + s * 0.43, r.top() + s * 0.62, s * 0.14, s * 0.22));
    p.restore();
}

void glyphFolder(QPainter& p, QRectF r, const QColor& c, bool filled = false) {
    const double s = r.width();
    p.save();
    p.setPen(glyphPen(c, s));
    p.setBrush(filled ? QBrush(tint(c, 0.75)) : QBrush(Qt::NoBrush));
    QPainterPath path;
    const double l = r.left() + s * 0.08, t = r.top() + s * 0.22, w = s * 0.84, h = s * 0.6;
    path.moveTo(l, t + h);
    path.lineTo(l, t);
    path.lineTo(l + w * 0.36, t);
    path.lineTo(l + w * 0.46, t + h * 0.14);
    path.lineTo(l + w, t + h * 0.14);
    path.lineTo(l + w, t + h);
    path.closeSubpath();
    p.drawPath(path);
    p.restore();
}

// --- shared shapes -----------------------------------------------------------

void shadow(QPainter& p, const QRectF& r, double radius, int strength) {
    for (int i = 4; i >= 1; --i) {
        QColor c(0x1E, 0x2A, 0x3A, strength / (i + 1));
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawRoundedRect(r.adjusted(-i * 0.5, i * 0.6, i * 0.5, i * 0.9), radius + i * 0.5, radius + i * 0.5);
    }
}

// One picture button of the wizard: a card with an icon tile, a title and a
// line of explanation; the hover picture is the same card in its colour.
using GlyphPair = std::function<void(QPainter&, QRectF, const QColor&)>;

void wizardButton(const QString& prefix, const QString& title, const QString& line, const QColor& accent,
                  const GlyphPair& glyph) {
    const int W = 360, H = 84;
    for (bool hover : {false, true}) {
        save(prefix + (hover ? QStringLiteral("-hover") : QStringLiteral("-normal")), W, H, [&](QPainter& p) {
            QRectF card(3, 2, W - 6, H - 8);
            shadow(p, card, 12, hover ? 70 : 30);
            p.setPen(QPen(hover ? accent.darker(115) : kLine, 1));
            p.setBrush(hover ? accent : kWhite);
            p.drawRoundedRect(card, 12, 12);
            QRectF tile(card.left() + 12, card.top() + 11, 54, 54);
            p.setPen(Qt::NoPen);
            p.setBrush(hover ? QColor(255, 255, 255, 46) : tint(accent, 0.86));
            p.drawRoundedRect(tile, 10, 10);
            glyph(p, tile.adjusted(7, 7, -7, -7), hover ? kWhite : accent);
            QRectF text(tile.right() + 14, card.top() + 12, card.right() - tile.right() - 26, card.height() - 24);
            // The title shrinks until it fits beside the chevron.
            const double titleWidth = text.width() - 22;
            double px = 16;
            while (px > 11 && QFontMetricsF(font(px, true)).horizontalAdvance(title) > titleWidth)
                px -= 0.5;
            p.setPen(hover ? kWhite : kInk);
            p.setFont(font(px, true));
            p.drawText(QRectF(text.left(), text.top(), titleWidth, 24), Qt::AlignLeft | Qt::AlignVCenter, title);
            p.setPen(hover ? QColor(255, 255, 255, 220) : kMuted);
            p.setFont(font(11.5));
            p.drawText(QRectF(text.left(), text.top() + 26, text.width() - 22, 30),
                       Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, line);
            // a chevron says "this leads on"
            QPen chev(hover ? kWhite : tint(accent, 0.35), 2.2);
            chev.setCapStyle(Qt::RoundCap);
            chev.setJoinStyle(Qt::RoundJoin);
            p.setPen(chev);
            const double cx = card.right() - 18, cy = card.center().y();
            p.drawPolyline(QPolygonF({QPointF(cx - 4, cy - 7), QPointF(cx + 3, cy), QPointF(cx - 4, cy + 7)}));
        });
    }
}

// The large picture areas of the home and recovery-kind screens.
const int kPicW = 400, kPicH = 400;

void panelBackground(QPainter& p) {
    QRectF r(0.5, 0.5, kPicW - 1, kPicH - 1);
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0, QColor(0xEE, 0xF3, 0xFB));
    g.setColorAt(1, QColor(0xE4, 0xEC, 0xF6));
    p.setPen(QPen(kLine, 1));
    p.setBrush(g);
    p.drawRoundedRect(r, 16, 16);
    // faint circles give the plain panel some depth
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 90));
    p.drawEllipse(QPointF(kPicW * 0.85, kPicH * 0.12), 120, 120);
    p.setBrush(QColor(255, 255, 255, 60));
    p.drawEllipse(QPointF(kPicW * 0.1, kPicH * 0.95), 150, 150);
}

void wrapText(QPainter& p, const QRectF& r, const QString& text, const QFont& f, const QColor& c,
              Qt::Alignment align = Qt::AlignHCenter | Qt::AlignTop) {
    p.setFont(f);
    p.setPen(c);
    QTextOption opt(align);
    opt.setWrapMode(QTextOption::WordWrap);
    p.drawText(r, text, opt);
}

// An explanation shown over "wizard2" while a choice is pointed at: a big
// badge with the choice's glyphs, its name and what it does.
void overlay(const QString& name, const QString& title, const QString& body, const QColor& accent,
             const GlyphPair& main, const GlyphPair& badge) {
    save(name, kPicW, kPicH, [&](QPainter& p) {
        QPointF centre(kPicW / 2.0, 130);
        QRadialGradient halo(centre, 110);
        halo.setColorAt(0, QColor(accent.red(), accent.green(), accent.blue(), 60));
        halo.setColorAt(1, QColor(accent.red(), accent.green(), accent.blue(), 0));
        p.setPen(Qt::NoPen);
        p.setBrush(halo);
        p.drawEllipse(centre, 110, 110);
        QRectF disc(centre.x() - 66, centre.y() - 66, 132, 132);
        shadow(p, disc, 66, 40);
        p.setBrush(kWhite);
        p.setPen(QPen(tint(accent, 0.6), 2));
        p.drawEllipse(disc);
        main(p, disc.adjusted(26, 26, -26, -26), accent);
        if (badge) {
            QRectF b(disc.right() - 44, disc.bottom() - 44, 50, 50);
            p.setPen(QPen(kWhite, 3));
            p.setBrush(accent);
            p.drawEllipse(b);
            badge(p, b.adjusted(10, 10, -10, -10), kWhite);
        }
        // A long title takes two lines and the explanation moves down.
        const QRectF titleBox(30, 226, kPicW - 60, 60);
        const QRectF used = QFontMetricsF(font(20, true))
                                .boundingRect(titleBox, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, title);
        wrapText(p, titleBox, title, font(20, true), kInk);
        wrapText(p, QRectF(40, used.bottom() + 12, kPicW - 80, 120), body, font(13), kMuted);
    });
}

void star(QPainter& p, QPointF c, double r, const QBrush& fill, const QPen& pen) {
    QPainterPath path;
    for (int i = 0; i < 10; ++i) {
        double a = -M_PI / 2 + i * M_PI / 5;
        double rr = (i % 2 == 0) ? r : r * 0.45;
        QPointF pt(c.x() + std::cos(a) * rr, c.y() + std::sin(a) * rr);
        if (i == 0)
            path.moveTo(pt);
        else
            path.lineTo(pt);
    }
    path.closeSubpath();
    p.setPen(pen);
    p.setBrush(fill);
    p.drawPath(path);
}

void rating(const QString& name, double stars) {
    const int W = 92, H = 18;
    save(name, W, H, [&](QPainter& p) {
        for (int i = 0; i < 5; ++i) {
            QPointF c(9 + i * 18.5, 9.5);
            star(p, c, 8, QColor(0xE3, 0xE8, 0xEF), QPen(QColor(0xC4, 0xCD, 0xD8), 1));
            double fill = std::clamp(stars - i, 0.0, 1.0);
            if (fill > 0) {
                p.save();
                p.setClipRect(QRectF(c.x() - 9, 0, 18 * fill, H));
                star(p, c, 8, kAmber, QPen(kAmber.darker(115), 1));
                p.restore();
            }
        }
    });
}

void dot(const QString& name, const QColor& c) {
    save(name, 14, 14, [&](QPainter& p) {
        QRadialGradient g(QPointF(5, 5), 8);
        g.setColorAt(0, tint(c, 0.35));
        g.setColorAt(1, c);
        p.setPen(QPen(c.darker(120), 1));
        p.setBrush(g);
        p.drawEllipse(QRectF(1.5, 1.5, 11, 11));
    });
}

void smallIcon(const QString& name, const std::function<void(QPainter&)>& draw) {
    save(name, 24, 24, draw);
}

void previewPanel(const QString& name, const QString& text, const std::function<void(QPainter&, QRectF)>& art) {
    const int W = 240, H = 180;
    save(name, W, H, [&](QPainter& p) {
        QRectF r(0.5, 0.5, W - 1, H - 1);
        p.setPen(QPen(kLine, 1));
        p.setBrush(kPanel);
        p.drawRoundedRect(r, 12, 12);
        art(p, QRectF(W / 2.0 - 32, 36, 64, 64));
        wrapText(p, QRectF(10, 118, W - 20, 40), text, font(13, true), kMuted);
    });
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    gOut = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(gOut)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }

    auto with = [](GlyphPair a, GlyphPair b) -> GlyphPair {
        return [a, b](QPainter& p, QRectF r, const QColor& c) {
            a(p, r, c);
            QRectF small(r.left() + r.width() * 0.52, r.top() + r.height() * 0.5, r.width() * 0.56, r.height() * 0.56);
            b(p, small, c);
        };
    };
    const GlyphPair doc = glyphDocument, photo = glyphPhoto, drive = glyphDrive, pie = glyphPie;
    const GlyphPair bolt = glyphBolt, magnifier = glyphMagnifier, cycle = glyphCycle;

    // Home screen choices.
    wizardButton("rf", "Recover Files", "Deleted or lost documents, folders and other files", kFiles, doc);
    wizardButton("rp", "Recover Photos", "Pictures, music and videos from cards, disks and volumes", kPhotos, photo);
    wizardButton("rpd", "Recover Partitions & Drives", "Lost partitions and formatted or reformatted drives", kParts,
                 pie);
    // Recovery-kind choices.
    wizardButton("ffr", "Fast File Recovery", "Quick: reads the volume's own records of its files", kFiles,
                 with(doc, bolt));
    wizardButton("afr", "Advanced File Recovery", "Also searches every block for known file types", kFiles,
                 with(doc, magnifier));
    wizardButton("fpr", "Fast Photo Recovery", "Finds pictures, music and videos by their records", kPhotos,
                 with(photo, bolt));
    wizardButton("apr", "Advanced Photo Recovery", "Searches every block for photo, audio and video data", kPhotos,
                 with(photo, magnifier));
    wizardButton("pr", "Partition Recovery", "Reads the partition table, or searches the disk for lost volumes", kParts,
                 pie);
    wizardButton("frr", "Formatted / Reformatted Recovery", "Rebuilds the folders of a drive that was formatted",
                 kParts, with(drive, cycle));

    // "home": back to the start from a recovery-kind screen (a wide pill);
    // "home2": the small home button of the later screens; "help".
    for (bool hover : {false, true}) {
        const QString suffix = hover ? QStringLiteral("-hover") : QStringLiteral("-normal");
        save("home" + suffix, 160, 40, [&](QPainter& p) {
            QRectF r(1, 1, 158, 36);
            p.setPen(QPen(hover ? kFiles.darker(110) : kLine, 1));
            p.setBrush(hover ? kFiles : kWhite);
            p.drawRoundedRect(r, 18, 18);
            glyphHouse(p, QRectF(r.left() + 14, r.top() + 7, 22, 22), hover ? kWhite : kFiles);
            p.setPen(hover ? kWhite : kInk);
            p.setFont(font(13, true));
            p.drawText(QRectF(r.left() + 42, r.top(), r.width() - 54, r.height()), Qt::AlignVCenter | Qt::AlignLeft,
                       "Start Page");
        });
        save("home2" + suffix, 36, 36, [&](QPainter& p) {
            QRectF r(1, 1, 34, 34);
            p.setPen(QPen(hover ? kFiles.darker(110) : kLine, 1));
            p.setBrush(hover ? kFiles : kWhite);
            p.drawEllipse(r);
            glyphHouse(p, r.adjusted(7, 6, -7, -8), hover ? kWhite : kFiles);
        });
        save("help" + suffix, 36, 36, [&](QPainter& p) {
            QRectF r(1, 1, 34, 34);
            p.setPen(QPen(hover ? kFiles.darker(110) : kLine, 1));
            p.setBrush(hover ? kFiles : kWhite);
            p.drawEllipse(r);
            p.setPen(hover ? kWhite : kFiles);
            p.setFont(font(19, true));
            p.drawText(r, Qt::AlignCenter, "?");
        });
    }

    // The picture areas.
    save("wizard", kPicW, kPicH, [&](QPainter& p) {
        panelBackground(p);
        // a drive with files and a photo rising out of it
        QRectF driveR(110, 150, 180, 92);
        shadow(p, driveR, 16, 50);
        QLinearGradient g(driveR.topLeft(), driveR.bottomLeft());
        g.setColorAt(0, kWhite);
        g.setColorAt(1, QColor(0xE8, 0xEE, 0xF6));
        p.setPen(QPen(kLine, 1.5));
        p.setBrush(g);
        p.drawRoundedRect(driveR, 16, 16);
        p.setPen(QPen(kLine, 2));
        p.drawLine(QPointF(driveR.left() + 14, driveR.top() + 56), QPointF(driveR.right() - 14, driveR.top() + 56));
        p.setPen(Qt::NoPen);
        p.setBrush(kGreen);
        p.drawEllipse(QPointF(driveR.right() - 26, driveR.top() + 74), 5, 5);
        glyphDrive(p, QRectF(driveR.left() + 18, driveR.top() + 4, 46, 46), kMuted);
        auto card = [&](QPointF c, double angle, const QColor& accent, const GlyphPair& gl) {
            p.save();
            p.translate(c);
            p.rotate(angle);
            QRectF r(-34, -34, 68, 68);
            shadow(p, r, 12, 40);
            p.setPen(QPen(tint(accent, 0.55), 1.5));
            p.setBrush(kWhite);
            p.drawRoundedRect(r, 12, 12);
            gl(p, r.adjusted(12, 12, -12, -12), accent);
            p.restore();
        };
        card(QPointF(130, 96), -10, kFiles, glyphDocument);
        card(QPointF(200, 74), 0, kPhotos, glyphPhoto);
        card(QPointF(270, 96), 10, kParts, glyphPie);
        QPen arrow(kFiles, 3);
        arrow.setCapStyle(Qt::RoundCap);
        p.setPen(arrow);
        for (double x : {150.0, 200.0, 250.0}) {
            p.drawLine(QPointF(x, 142), QPointF(x, 132));
        }
        wrapText(p, QRectF(30, 266, kPicW - 60, 34), "Welcome", font(24, true), kInk);
        wrapText(p, QRectF(40, 306, kPicW - 80, 80),
                 "Choose what you want to recover. Point at a choice to read what it does.", font(13), kMuted);
    });
    save("wizard2", kPicW, kPicH, [&](QPainter& p) { panelBackground(p); });

    overlay("Recover_File_hover", "Recover Files",
            "Brings back deleted or lost documents, folders and other files from a volume or a disk.", kFiles, doc,
            nullptr);
    overlay("Recover_Photos_hover", "Recover Photos",
            "Finds pictures, music and videos, even on memory cards and cameras' volumes.", kPhotos, photo, nullptr);
    overlay("Recover_Partition_Drives_hover", "Recover Partitions & Drives",
            "Finds partitions that were lost or deleted and rebuilds drives that were formatted.", kParts, pie,
            nullptr);
    overlay("Fast_File_Recovery_hover", "Fast File Recovery",
            "Reads the volume's own records of its files, deleted ones included. Quick, and keeps the names and "
            "folders.",
            kFiles, doc, bolt);
    overlay("Advanced_File_Recovery_hover", "Advanced File Recovery",
            "Reads the records, then searches every block for the file types you choose. Slower, finds more.", kFiles,
            doc, magnifier);
    overlay("Fast_Photo_Recovery_hover", "Fast Photo Recovery",
            "Keeps only pictures, music and videos from the volume's records and a quick search.", kPhotos, photo,
            bolt);
    overlay("Advanced_Photo_Recovery_hover", "Advanced Photo Recovery",
            "Searches every block of a volume or a whole disk for photo, audio and video data.", kPhotos, photo,
            magnifier);
    overlay("Partition_Recovery_hover", "Partition Recovery",
            "Lists the partitions of a disk, or searches the whole disk for volumes whose partition is gone.", kParts,
            pie, nullptr);
    overlay("Formatted_Reformatted_Recovery_hover", "Formatted / Reformatted Recovery",
            "Rebuilds the folders and files of a volume from what its earlier file system left behind.", kParts, drive,
            cycle);

    // Validity ratings, half a star per step.
    const char* ratings[] = {"0_5", "1_", "1_5", "2_", "2_5", "3_", "3_5", "4_", "4_5", "5_"};
    for (int i = 0; i < 10; ++i)
        rating(QString::fromLatin1(ratings[i]), 0.5 * (i + 1));

    // Completeness of a found file.
    dot("red", kRed);
    dot("green", kGreen);
    dot("grey", kGrey);

    // Drawn over a deleted entry's icon in the found-file list.
    save("DeleteOverlay_6", 16, 16, [&](QPainter& p) {
        p.setPen(QPen(kWhite, 1.5));
        p.setBrush(kRed);
        p.drawEllipse(QRectF(7, 7, 8.5, 8.5));
        QPen x(kWhite, 1.6);
        x.setCapStyle(Qt::RoundCap);
        p.setPen(x);
        p.drawLine(QPointF(9.4, 9.4), QPointF(13.1, 13.1));
        p.drawLine(QPointF(13.1, 9.4), QPointF(9.4, 13.1));
    });

    previewPanel("preview-loading", "Loading preview...", [&](QPainter& p, QRectF r) {
        for (int i = 0; i < 8; ++i) {
            double a = i * M_PI / 4;
            QPointF c(r.center().x() + std::cos(a) * 24, r.center().y() + std::sin(a) * 24);
            p.setPen(Qt::NoPen);
            QColor col = kFiles;
            col.setAlpha(60 + i * 24);
            p.setBrush(col);
            p.drawEllipse(c, 5, 5);
        }
    });
    previewPanel("preview-failed", "No preview for this file", [&](QPainter& p, QRectF r) {
        glyphPhoto(p, r, kGrey);
        QPen slash(kRed, 4);
        slash.setCapStyle(Qt::RoundCap);
        p.setPen(slash);
        p.drawLine(r.bottomLeft() + QPointF(8, -8), r.topRight() + QPointF(-8, 8));
    });

    // The result screen's view toggles.
    smallIcon("data-view", [&](QPainter& p) {
        QPen pen(kFiles, 1.6);
        pen.setCapStyle(Qt::RoundCap);
        p.setPen(pen);
        p.setBrush(tint(kFiles, 0.75));
        p.drawRoundedRect(QRectF(3, 3, 8, 6), 1.5, 1.5);
        p.drawRoundedRect(QRectF(11, 10, 10, 5), 1.5, 1.5);
        p.drawRoundedRect(QRectF(11, 17, 10, 5), 1.5, 1.5);
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(QPolygonF({QPointF(6, 9), QPointF(6, 19.5), QPointF(11, 19.5)}));
        p.drawLine(QPointF(6, 12.5), QPointF(11, 12.5));
    });
    smallIcon("file-types-view", [&](QPainter& p) {
        const QColor cols[] = {kFiles, kPhotos, kParts, kAmber};
        for (int i = 0; i < 4; ++i) {
            QRectF r(3 + (i % 2) * 10, 3 + (i / 2) * 10, 8, 8);
            p.setPen(QPen(cols[i], 1.4));
            p.setBrush(tint(cols[i], 0.7));
            p.drawRoundedRect(r, 2, 2);
        }
    });
    smallIcon("folder-select", [&](QPainter& p) {
        glyphFolder(p, QRectF(0, 0, 24, 24), kFiles, true);
        QPen tick(kGreen, 2.2);
        tick.setCapStyle(Qt::RoundCap);
        tick.setJoinStyle(Qt::RoundJoin);
        p.setPen(tick);
        p.drawPolyline(QPolygonF({QPointF(8, 13), QPointF(11, 16), QPointF(17, 10)}));
    });
    smallIcon("folder-delete", [&](QPainter& p) {
        glyphFolder(p, QRectF(0, 0, 24, 24), kFiles, true);
        QPen x(kRed, 2.2);
        x.setCapStyle(Qt::RoundCap);
        p.setPen(x);
        p.drawLine(QPointF(9, 10), QPointF(15, 16));
        p.drawLine(QPointF(15, 10), QPointF(9, 16));
    });

    // The marked-share bar of the file-type screen: few types are quick
    // (green), many are slow (red).
    save("gradient-thick", 300, 14, [&](QPainter& p) {
        QRectF r(0.5, 0.5, 299, 13);
        QLinearGradient g(r.topLeft(), r.topRight());
        g.setColorAt(0, kGreen);
        g.setColorAt(0.5, kAmber);
        g.setColorAt(1, kRed);
        p.setPen(QPen(QColor(0, 0, 0, 40), 1));
        p.setBrush(g);
        p.drawRoundedRect(r, 6.5, 6.5);
    });

    // The two scan modes of a partition: the catalog as it stands, or a
    // search of the whole volume for its fragments.
    save("standard-scan", 32, 32, [&](QPainter& p) {
        glyphDocument(p, QRectF(0, 0, 32, 32), kParts);
        glyphBolt(p, QRectF(16, 15, 17, 17), kParts);
    });
    save("advanced-scan", 32, 32, [&](QPainter& p) {
        glyphDocument(p, QRectF(0, 0, 32, 32), kParts);
        glyphMagnifier(p, QRectF(14, 14, 19, 19), kParts);
    });

    // Beside an alert that reports a failure.
    save("alert-caution", 64, 64, [&](QPainter& p) {
        QPainterPath triangle;
        triangle.moveTo(32, 6);
        triangle.lineTo(60, 56);
        triangle.lineTo(4, 56);
        triangle.closeSubpath();
        QPen edge(kAmber.darker(120), 3);
        edge.setJoinStyle(Qt::RoundJoin);
        p.setPen(edge);
        p.setBrush(kAmber);
        p.drawPath(triangle);
        p.setPen(kWhite);
        p.setFont(font(34, true));
        p.drawText(QRectF(4, 14, 56, 44), Qt::AlignCenter, "!");
    });

    // The program's own icon.
    save("AppIcon", 128, 128, [&](QPainter& p) {
        QRectF r(6, 6, 116, 116);
        shadow(p, r, 26, 50);
        QLinearGradient g(r.topLeft(), r.bottomRight());
        g.setColorAt(0, kFiles.lighter(115));
        g.setColorAt(1, kParts);
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawRoundedRect(r, 26, 26);
        glyphDrive(p, QRectF(22, 46, 84, 84), kWhite);
        QPen up(kWhite, 7);
        up.setCapStyle(Qt::RoundCap);
        up.setJoinStyle(Qt::RoundJoin);
        p.setPen(up);
        p.drawLine(QPointF(64, 74), QPointF(64, 30));
        p.drawPolyline(QPolygonF({QPointF(48, 45), QPointF(64, 29), QPointF(80, 45)}));
    });

    std::printf("%d pictures written to %s\n", gWritten, qPrintable(gOut));
    return 0;
}
