// Draws the wizard's pictures: icon 501, watermark 311 and header 312.
// Not part of the build; run it again only to change the artwork:
//   g++ -std=c++17 -fPIC draw_pictures.cpp $(pkg-config --cflags --libs Qt6Gui) -o draw_pictures
//   QT_QPA_PLATFORM=offscreen ./draw_pictures <output folder>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>

namespace {

const QColor teal(15, 76, 92);
const QColor teal_light(42, 124, 140);
const QColor navy(12, 34, 56);
const QColor amber(233, 162, 59);
const QColor paper(244, 241, 234);
const QColor grid(170, 160, 140);

// A database drum: body, top ellipse and two ring lines.
void draw_drum(QPainter& p, const QRectF& r, const QColor& body, const QColor& top) {
    const qreal eh = r.height() * 0.22;
    QPainterPath path;
    path.moveTo(r.left(), r.top() + eh / 2);
    path.lineTo(r.left(), r.bottom() - eh / 2);
    path.arcTo(QRectF(r.left(), r.bottom() - eh, r.width(), eh), 180, 180);
    path.lineTo(r.right(), r.top() + eh / 2);
    path.arcTo(QRectF(r.left(), r.top(), r.width(), eh), 0, -180);
    QLinearGradient g(r.topLeft(), r.topRight());
    g.setColorAt(0, body.lighter(125));
    g.setColorAt(0.45, body);
    g.setColorAt(1, body.darker(140));
    p.setPen(QPen(body.darker(170), qMax<qreal>(1.0, r.width() / 40)));
    p.setBrush(g);
    p.drawPath(path);
    p.setBrush(top);
    p.drawEllipse(QRectF(r.left(), r.top(), r.width(), eh));
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i <= 2; ++i) {
        const qreal y = r.top() + eh / 2 + (r.height() - eh) * i / 3.0;
        p.drawArc(QRectF(r.left(), y - eh / 2, r.width(), eh), 180 * 16, 180 * 16);
    }
}

// A sheet of rows and columns with a folded corner.
void draw_sheet(QPainter& p, const QRectF& r, int rows, int cols) {
    const qreal fold = r.width() * 0.22;
    QPainterPath path;
    path.moveTo(r.topLeft());
    path.lineTo(r.right() - fold, r.top());
    path.lineTo(r.right(), r.top() + fold);
    path.lineTo(r.bottomRight());
    path.lineTo(r.bottomLeft());
    path.closeSubpath();
    p.setPen(QPen(grid.darker(150), qMax<qreal>(1.0, r.width() / 36)));
    p.setBrush(paper);
    p.drawPath(path);
    p.setBrush(grid.lighter(115));
    QPainterPath corner;
    corner.moveTo(r.right() - fold, r.top());
    corner.lineTo(r.right() - fold, r.top() + fold);
    corner.lineTo(r.right(), r.top() + fold);
    corner.closeSubpath();
    p.drawPath(corner);
    // The first row is the header line of field names.
    const QRectF body(r.left() + r.width() * 0.12, r.top() + fold * 1.3, r.width() * 0.76, r.height() - fold * 1.7);
    p.setPen(Qt::NoPen);
    p.setBrush(amber);
    p.drawRect(QRectF(body.left(), body.top(), body.width(), body.height() / rows));
    p.setPen(QPen(grid, qMax<qreal>(0.8, r.width() / 60)));
    for (int i = 1; i < rows; ++i) {
        const qreal y = body.top() + body.height() * i / rows;
        p.drawLine(QPointF(body.left(), y), QPointF(body.right(), y));
    }
    for (int i = 1; i < cols; ++i) {
        const qreal x = body.left() + body.width() * i / cols;
        p.drawLine(QPointF(x, body.top()), QPointF(x, body.bottom()));
    }
}

// A curved arrow from a to b bulging upwards.
void draw_arrow(QPainter& p, QPointF a, QPointF b, qreal width) {
    QPainterPath path(a);
    const QPointF c((a.x() + b.x()) / 2, qMin(a.y(), b.y()) - width * 3);
    path.quadTo(c, b);
    p.setPen(QPen(amber, width, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    const QPointF d = b - c;
    const qreal len = std::sqrt(d.x() * d.x() + d.y() * d.y());
    const QPointF u = d / len;
    const QPointF n(-u.y(), u.x());
    QPolygonF head;
    head << b + u * width * 1.2 << b - u * width * 1.6 + n * width * 1.6 << b - u * width * 1.6 - n * width * 1.6;
    p.setPen(Qt::NoPen);
    p.setBrush(amber);
    p.drawPolygon(head);
}

QImage icon(int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 64.0;
    draw_drum(p, QRectF(3 * s, 22 * s, 26 * s, 38 * s), teal, teal_light);
    draw_sheet(p, QRectF(34 * s, 6 * s, 27 * s, 34 * s), 4, 3);
    draw_arrow(p, QPointF(18 * s, 20 * s), QPointF(36 * s, 46 * s), 3.2 * s);
    return img;
}

QImage header() {
    QImage img(49, 49, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    draw_drum(p, QRectF(3, 17, 19, 28), teal, teal_light);
    draw_sheet(p, QRectF(26, 4, 20, 26), 4, 3);
    draw_arrow(p, QPointF(14, 15), QPointF(28, 36), 2.4);
    return img;
}

QImage watermark() {
    const int w = 164, h = 314;
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 0, 0, h);
    bg.setColorAt(0, teal_light);
    bg.setColorAt(0.55, teal);
    bg.setColorAt(1, navy);
    p.fillRect(img.rect(), bg);
    // Faint field separators running down the side.
    p.setPen(QPen(QColor(255, 255, 255, 28), 1));
    for (int y = 10; y < h; y += 14) p.drawLine(8, y, w - 8, y);
    for (int x = 30; x < w; x += 36) p.drawLine(x, 0, x, h);
    draw_drum(p, QRectF(34, 36, 96, 118), teal_light.lighter(115), QColor(120, 190, 200));
    draw_arrow(p, QPointF(82, 160), QPointF(82, 205), 7);
    draw_sheet(p, QRectF(42, 212, 80, 86), 5, 4);
    p.fillRect(QRect(0, h - 6, w, 6), amber);
    return img;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    bool ok = icon(64).save(dir + "/501.png") && watermark().save(dir + "/311.png") && header().save(dir + "/312.png");
    return ok ? 0 : 1;
}
