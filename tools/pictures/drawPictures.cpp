// Draws every picture of the programs' windows into a folder (resources/ in the source tree), the same
// bytes on every run: one palette, the DejaVu fonts, no randomness. A picture is one entry of Pictures:
// its file name, its size and the function that paints it. The file name's ending chooses the format:
// ".jpg" a JPEG (on white, as JPEG has no transparency), ".ico" an icon, anything else a PNG.
//
//     QT_QPA_PLATFORM=offscreen drawPictures <folder>

#include <cmath>
#include <cstdio>
#include <functional>
#include <QColor>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <vector>

namespace {

// The palette of the product, around the window's blue.
const QColor Blue(0, 130, 203);
const QColor DeepBlue(0, 86, 150);
const QColor SkyBlue(86, 182, 236);
const QColor PaleBlue(227, 241, 250);
const QColor Ink(41, 57, 80);
const QColor Cream(255, 251, 242);
const QColor Amber(255, 186, 58);

QFont Font(int pixelSize, bool bold) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

void Text(QPainter& p, const QRectF& box, const QString& text, int pixelSize, bool bold, const QColor& colour,
          int flags = Qt::AlignCenter) {
    p.setFont(Font(pixelSize, bold));
    p.setPen(colour);
    p.drawText(box, flags, text);
}

QLinearGradient Vertical(qreal top, qreal bottom, const QColor& from, const QColor& to) {
    QLinearGradient gradient(0, top, 0, bottom);
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, to);
    return gradient;
}

// ---- Symbols, drawn into a square around a centre ----

using TSymbol = std::function<void(QPainter&, QPointF centre, qreal size, const QColor& colour)>;

QPen Stroke(const QColor& colour, qreal width) {
    return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void Magnifier(QPainter& p, QPointF c, qreal s, const QColor& colour) {
    p.setPen(Stroke(colour, s * 0.13));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(c.x() - s * 0.08, c.y() - s * 0.08), s * 0.26, s * 0.26);
    p.drawLine(QPointF(c.x() + s * 0.12, c.y() + s * 0.12), QPointF(c.x() + s * 0.34, c.y() + s * 0.34));
}

void Bin(QPainter& p, QPointF c, qreal s, const QColor& colour) {
    p.setPen(Stroke(colour, s * 0.09));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(c.x() - s * 0.34, c.y() - s * 0.24), QPointF(c.x() + s * 0.34, c.y() - s * 0.24));
    p.drawLine(QPointF(c.x() - s * 0.1, c.y() - s * 0.34), QPointF(c.x() + s * 0.1, c.y() - s * 0.34));
    QPainterPath body;
    body.moveTo(c.x() - s * 0.26, c.y() - s * 0.14);
    body.lineTo(c.x() - s * 0.2, c.y() + s * 0.36);
    body.lineTo(c.x() + s * 0.2, c.y() + s * 0.36);
    body.lineTo(c.x() + s * 0.26, c.y() - s * 0.14);
    p.drawPath(body);
    for (qreal dx : {-0.09, 0.09})
        p.drawLine(QPointF(c.x() + s * dx, c.y() - s * 0.04), QPointF(c.x() + s * dx, c.y() + s * 0.24));
}

void Cross(QPainter& p, QPointF c, qreal s, const QColor& colour) {
    p.setPen(Stroke(colour, s * 0.13));
    p.drawLine(QPointF(c.x() - s * 0.26, c.y() - s * 0.26), QPointF(c.x() + s * 0.26, c.y() + s * 0.26));
    p.drawLine(QPointF(c.x() + s * 0.26, c.y() - s * 0.26), QPointF(c.x() - s * 0.26, c.y() + s * 0.26));
}

void Tick(QPainter& p, QPointF c, qreal s, const QColor& colour) {
    p.setPen(Stroke(colour, s * 0.14));
    p.setBrush(Qt::NoBrush);
    QPainterPath tick;
    tick.moveTo(c.x() - s * 0.3, c.y() + s * 0.02);
    tick.lineTo(c.x() - s * 0.08, c.y() + s * 0.24);
    tick.lineTo(c.x() + s * 0.32, c.y() - s * 0.22);
    p.drawPath(tick);
}

void LeftArrow(QPainter& p, QPointF c, qreal s, const QColor& colour) {
    p.setPen(Stroke(colour, s * 0.13));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(c.x() + s * 0.3, c.y()), QPointF(c.x() - s * 0.28, c.y()));
    QPainterPath head;
    head.moveTo(c.x() - s * 0.02, c.y() - s * 0.27);
    head.lineTo(c.x() - s * 0.29, c.y());
    head.lineTo(c.x() - s * 0.02, c.y() + s * 0.27);
    p.drawPath(head);
}

void Question(QPainter& p, QPointF c, qreal s, const QColor& colour) {
    Text(p, QRectF(c.x() - s / 2, c.y() - s / 2, s, s), QStringLiteral("?"), static_cast<int>(s * 0.78), true,
         colour);
}

void Gear(QPainter& p, QPointF c, qreal s, const QColor& colour) {
    QPainterPath gear;
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        const qreal angle = i * 3.14159265358979 / teeth;
        const qreal r = (i % 2 == 0) ? s * 0.5 : s * 0.36;
        for (qreal half : {-0.17, 0.17}) {
            const QPointF point(c.x() + r * std::cos(angle + half), c.y() + r * std::sin(angle + half));
            if (gear.elementCount() == 0)
                gear.moveTo(point);
            else
                gear.lineTo(point);
        }
    }
    gear.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(c, s * 0.16, s * 0.16);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(gear.subtracted(hole));
}

void Refresh(QPainter& p, QPointF c, qreal s, const QColor& colour) {
    p.setPen(Stroke(colour, s * 0.1));
    p.setBrush(Qt::NoBrush);
    const QRectF ring(c.x() - s * 0.32, c.y() - s * 0.32, s * 0.64, s * 0.64);
    p.drawArc(ring, 30 * 16, 150 * 16);
    p.drawArc(ring, 210 * 16, 150 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    for (int side : {0, 1}) {
        const qreal sign = side == 0 ? 1 : -1;
        const QPointF tip(c.x() - sign * s * 0.32, c.y() + sign * s * 0.02);
        QPainterPath head;
        head.moveTo(tip.x() - s * 0.14, tip.y() - sign * s * 0.02);
        head.lineTo(tip.x() + s * 0.14, tip.y() - sign * s * 0.02);
        head.lineTo(tip.x(), tip.y() + sign * s * 0.16);
        head.closeSubpath();
        p.drawPath(head);
    }
}

// ---- Pictures ----

// A large foot button: a disc with the symbol, the word below. Hovered, the disc fills with the blue.
void BigButton(QPainter& p, const QSize& size, const TSymbol& symbol, const QString& word, bool hover) {
    const QPointF centre(size.width() / 2.0, 35);
    const qreal radius = 29;
    if (hover) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 130, 203, 40));
        p.drawEllipse(centre, radius + 4, radius + 4);
        QRadialGradient fill(centre.x(), centre.y() - 10, radius * 1.4);
        fill.setColorAt(0, SkyBlue);
        fill.setColorAt(1, Blue);
        p.setBrush(fill);
        p.setPen(QPen(DeepBlue, 1.5));
    } else {
        p.setBrush(QBrush(Vertical(centre.y() - radius, centre.y() + radius, Qt::white, PaleBlue)));
        p.setPen(QPen(Blue, 2));
    }
    p.drawEllipse(centre, radius, radius);
    symbol(p, centre, 34, hover ? Qt::white : Blue);
    Text(p, QRectF(0, 68, size.width(), 20), word, 13, true, hover ? Blue : Ink);
}

// A small foot button (61 x 31): a round mark and a word.
void SmallButton(QPainter& p, const QSize&, const TSymbol& symbol, const QString& word, bool hover) {
    const QPointF centre(15.5, 15.5);
    p.setPen(Qt::NoPen);
    p.setBrush(hover ? Amber : Blue);
    p.drawEllipse(centre, 11.5, 11.5);
    symbol(p, centre, 17, Qt::white);
    Text(p, QRectF(29, 0, 32, 31), word, 12, true, hover ? Blue : Ink, Qt::AlignLeft | Qt::AlignVCenter);
}

// A header control (30 x 11) on the blue header: a bar or a cross, brighter under the pointer.
void HeaderControl(QPainter& p, const QSize& size, bool cross, bool hover) {
    if (hover) {
        p.setPen(Qt::NoPen);
        p.setBrush(cross ? QColor(214, 69, 65) : QColor(255, 255, 255, 70));
        p.drawRoundedRect(QRectF(0, 0, size.width(), size.height()), 3, 3);
    }
    const QColor colour = hover ? Qt::white : Cream;
    p.setPen(Stroke(colour, 1.8));
    const QPointF c(size.width() / 2.0, size.height() / 2.0);
    if (cross) {
        p.drawLine(QPointF(c.x() - 3.2, c.y() - 3.2), QPointF(c.x() + 3.2, c.y() + 3.2));
        p.drawLine(QPointF(c.x() + 3.2, c.y() - 3.2), QPointF(c.x() - 3.2, c.y() + 3.2));
    } else {
        p.drawLine(QPointF(c.x() - 4.5, c.y() + 2.5), QPointF(c.x() + 4.5, c.y() + 2.5));
    }
}

void SettingsButton(QPainter& p, const QSize& size, bool hover) {
    if (hover) {
        p.setPen(Qt::NoPen);
        p.setBrush(Cream);
        p.drawRoundedRect(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1), 9, 9);
    }
    const QColor colour = hover ? DeepBlue : Cream;
    Gear(p, QPointF(11, 9), 12, colour);
    Text(p, QRectF(20, 0, 56, 18), QStringLiteral("Settings"), 11, true, colour,
         Qt::AlignLeft | Qt::AlignVCenter);
}

// The blue of the header, shared by the logo, the header and the top of the edges so that they join.
QLinearGradient HeaderBlue(qreal height) {
    QLinearGradient gradient(0, 0, 0, height);
    gradient.setColorAt(0, SkyBlue);
    gradient.setColorAt(0.55, Blue);
    gradient.setColorAt(1, DeepBlue);
    return gradient;
}

// Light waves across the whole top of the window (674 wide); a picture that starts at Left draws its part.
void Waves(QPainter& p, qreal left) {
    const qreal width = 674;
    p.save();
    p.translate(-left, 0);
    p.setPen(QPen(QColor(255, 255, 255, 28), 14));
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 3; ++i) {
        QPainterPath wave;
        const qreal y = 40 + i * 22;
        wave.moveTo(-20, y);
        wave.cubicTo(width * 0.3, y - 40, width * 0.6, y + 30, width + 20, y - 10);
        p.drawPath(wave);
    }
    p.restore();
}

void Emblem(QPainter& p, const QRectF& box) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 40, 80, 50));
    p.drawRoundedRect(box.translated(0, 2), box.width() * 0.22, box.width() * 0.22);
    p.setBrush(QBrush(Vertical(box.top(), box.bottom(), Qt::white, PaleBlue)));
    p.drawRoundedRect(box, box.width() * 0.22, box.width() * 0.22);
    Text(p, box, QStringLiteral("K"), static_cast<int>(box.height() * 0.72), true, Blue);
}

void Logo(QPainter& p, const QSize& size) {
    p.fillRect(QRect(QPoint(0, 0), size), HeaderBlue(size.height()));
    Waves(p, 0);
    Emblem(p, QRectF(16, 14, 50, 50));
    Text(p, QRectF(78, 12, 230, 34), QStringLiteral("Korvane"), 30, true, Qt::white,
         Qt::AlignLeft | Qt::AlignVCenter);
    Text(p, QRectF(80, 46, 230, 20), QStringLiteral("Remove programs completely"), 11, false, Cream,
         Qt::AlignLeft | Qt::AlignVCenter);
}

void Header(QPainter& p, const QSize& size) {
    p.fillRect(QRect(QPoint(0, 0), size), HeaderBlue(size.height()));
    Waves(p, 312);
}

// The window's sides: the header's blue down to the header's foot, then a light frame line.
void Edge(QPainter& p, const QSize& size, bool left) {
    p.fillRect(QRect(0, 0, size.width(), 81), HeaderBlue(81));
    p.fillRect(QRect(0, 81, size.width(), size.height() - 81 - 14),
               QBrush(Vertical(81, size.height(), PaleBlue, QColor(205, 228, 244))));
    p.fillRect(QRect(0, size.height() - 14, size.width(), 14),
               QBrush(Vertical(size.height() - 14, size.height(), Blue, DeepBlue)));
    p.setPen(QPen(QColor(170, 205, 230), 1));
    const qreal x = left ? size.width() - 0.5 : 0.5;
    p.drawLine(QPointF(x, 81), QPointF(x, size.height() - 14));
}

void Foot(QPainter& p, const QSize& size) {
    p.fillRect(QRect(QPoint(0, 0), size), QBrush(Vertical(0, size.height(), Blue, DeepBlue)));
    Text(p, QRectF(0, 0, size.width() - 12, size.height()), QStringLiteral("Korvane uninstaller"), 9, false,
         QColor(255, 255, 255, 190), Qt::AlignRight | Qt::AlignVCenter);
}

// The title pictures above the two result lists.
void ListTitle(QPainter& p, const QSize& size, const TSymbol& symbol, const QString& title) {
    p.setPen(Qt::NoPen);
    p.setBrush(Blue);
    p.drawRoundedRect(QRectF(1, 2, 16, 16), 4, 4);
    symbol(p, QPointF(9, 10), 12, Qt::white);
    Text(p, QRectF(24, 0, size.width() - 24, size.height()), title, 12, true, Ink,
         Qt::AlignLeft | Qt::AlignVCenter);
}

// The tray menu's pictures: the emblem of the programs, and the update arrows.
void TrayRestore(QPainter& p, const QSize& size) {
    p.setPen(Qt::NoPen);
    p.setBrush(QBrush(Vertical(0, size.height(), SkyBlue, DeepBlue)));
    p.drawRoundedRect(QRectF(2, 2, size.width() - 4, size.height() - 4), size.width() * 0.2,
                      size.width() * 0.2);
    Text(p, QRectF(0, 0, size.width(), size.height()), QStringLiteral("K"),
         static_cast<int>(size.height() * 0.66), true, Qt::white);
}

void TrayUpdate(QPainter& p, const QSize& size) {
    const QPointF c(size.width() / 2.0, size.height() / 2.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QBrush(Vertical(0, size.height(), SkyBlue, DeepBlue)));
    p.drawEllipse(c, size.width() * 0.47, size.height() * 0.47);
    Refresh(p, c, size.width() * 0.8, Qt::white);
}

// Update's window: the picture on its left, and the program's icon.
void UpdateSide(QPainter& p, const QSize& size) {
    p.fillRect(QRect(QPoint(0, 0), size), HeaderBlue(size.height()));
    Waves(p, 240);
    Emblem(p, QRectF((size.width() - 56) / 2.0, 30, 56, 56));
    Text(p, QRectF(0, 98, size.width(), 26), QStringLiteral("Korvane"), 20, true, Qt::white);
    Text(p, QRectF(0, 124, size.width(), 18), QStringLiteral("Online update"), 12, false, Cream);
    const QPointF centre(size.width() / 2.0, 190);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 40));
    p.drawEllipse(centre, 30, 30);
    Refresh(p, centre, 46, Qt::white);
}

void UpdateIcon(QPainter& p, const QSize& size) {
    p.setPen(Qt::NoPen);
    p.setBrush(QBrush(Vertical(0, size.height(), SkyBlue, DeepBlue)));
    p.drawRoundedRect(QRectF(1, 1, size.width() - 2, size.height() - 2), size.width() * 0.2,
                      size.width() * 0.2);
    Refresh(p, QPointF(size.width() / 2.0, size.height() / 2.0), size.width() * 0.82, Qt::white);
}

struct TPicture {
    const char* FileName;
    QSize Size;
    std::function<void(QPainter&, const QSize&)> Paint;
};

TPicture Big(const char* fileName, const TSymbol& symbol, const char* word, bool hover) {
    return {fileName, QSize(90, 91),
            [=](QPainter& p, const QSize& s) { BigButton(p, s, symbol, QString::fromLatin1(word), hover); }};
}

TPicture Small(const char* fileName, const TSymbol& symbol, const char* word, bool hover) {
    return {fileName, QSize(61, 31), [=](QPainter& p, const QSize& s) {
                SmallButton(p, s, symbol, QString::fromLatin1(word), hover);
            }};
}

const std::vector<TPicture>& Pictures() {
    static const std::vector<TPicture> pictures{
        Big("button_scan.png", Magnifier, "Scan", false),
        Big("button_scan_hover.png", Magnifier, "Scan", true),
        Big("button_clean.png", Bin, "Clean", false),
        Big("button_clean_hover.png", Bin, "Clean", true),
        Big("button_cancel.png", Cross, "Cancel", false),
        Big("button_cancel_hover.png", Cross, "Cancel", true),
        Big("button_submit.png", Tick, "Submit", false),
        Big("button_submit_hover.png", Tick, "Submit", true),
        Big("button_back.png", LeftArrow, "Back", false),
        Big("button_back_hover.png", LeftArrow, "Back", true),
        Small("help.png", Question, "Help", false),
        Small("help_hover.png", Question, "Help", true),
        Small("help_back.png", LeftArrow, "Back", false),
        Small("help_back_hover.png", LeftArrow, "Back", true),
        {"minimize.png", QSize(30, 11),
         [](QPainter& p, const QSize& s) { HeaderControl(p, s, false, false); }},
        {"minimize_hover.png", QSize(30, 11),
         [](QPainter& p, const QSize& s) { HeaderControl(p, s, false, true); }},
        {"close.png", QSize(30, 11), [](QPainter& p, const QSize& s) { HeaderControl(p, s, true, false); }},
        {"close_hover.png", QSize(30, 11),
         [](QPainter& p, const QSize& s) { HeaderControl(p, s, true, true); }},
        {"settings.png", QSize(78, 18), [](QPainter& p, const QSize& s) { SettingsButton(p, s, false); }},
        {"settings_hover.png", QSize(78, 18),
         [](QPainter& p, const QSize& s) { SettingsButton(p, s, true); }},
        {"logo.png", QSize(312, 81), Logo},
        {"header.png", QSize(362, 81), Header},
        {"edge_left.png", QSize(9, 517), [](QPainter& p, const QSize& s) { Edge(p, s, true); }},
        {"edge_right.png", QSize(9, 517), [](QPainter& p, const QSize& s) { Edge(p, s, false); }},
        {"foot.png", QSize(674, 14), Foot},
        {"title_leftovers.png", QSize(180, 20),
         [](QPainter& p, const QSize& s) { ListTitle(p, s, Bin, QStringLiteral("Leftovers found")); }},
        {"title_installed.png", QSize(180, 20),
         [](QPainter& p, const QSize& s) { ListTitle(p, s, Tick, QStringLiteral("Installed programs")); }},
        {"tray_restore.png", QSize(48, 48), TrayRestore},
        {"tray_update.png", QSize(128, 128), TrayUpdate},
        {"update_side.jpg", QSize(133, 244), UpdateSide},
        {"update.ico", QSize(48, 48), UpdateIcon},
    };
    return pictures;
}

} // namespace

int main(int argc, char* argv[]) {
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: drawPictures <folder>\n");
        return 2;
    }
    for (const char* font : {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf"})
        QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/fonts/truetype/dejavu/") +
                                          QLatin1String(font));
    const QString folder = QString::fromLocal8Bit(argv[1]);
    int failures = 0;
    for (const TPicture& picture : Pictures()) {
        QImage image(picture.Size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setRenderHint(QPainter::TextAntialiasing);
            picture.Paint(painter, picture.Size);
        }
        const QString file = folder + QLatin1Char('/') + QLatin1String(picture.FileName);
        bool saved = false;
        if (file.endsWith(QLatin1String(".jpg"))) {
            QImage opaque(picture.Size, QImage::Format_RGB32);
            opaque.fill(Qt::white);
            QPainter(&opaque).drawImage(0, 0, image);
            saved = opaque.save(file, "JPEG", 92);
        } else {
            saved = image.convertToFormat(QImage::Format_ARGB32)
                        .save(file, file.endsWith(QLatin1String(".ico")) ? "ICO" : "PNG");
        }
        if (!saved) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
