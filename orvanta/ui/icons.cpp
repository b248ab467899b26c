#include "orvanta/ui/icons.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace orvanta::ui {
namespace {

const QColor kNavy(0x1f, 0x3a, 0x5f);
const QColor kTeal(0x2a, 0x9d, 0x8f);
const QColor kAmber(0xe9, 0xa2, 0x3b);

// An envelope with a shield over its lower right corner: mail, guarded.
void PaintEmblem(QPainter& p, const QRectF& r, const QColor& shield)
{
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF envelope(r.left(), r.top() + r.height() * 0.15, r.width() * 0.8, r.height() * 0.6);
    p.setPen(QPen(kNavy, r.width() / 24.0));
    p.setBrush(Qt::white);
    p.drawRoundedRect(envelope, r.width() / 24.0, r.width() / 24.0);
    QPainterPath flap;
    flap.moveTo(envelope.topLeft());
    flap.lineTo(envelope.center().x(), envelope.top() + envelope.height() * 0.55);
    flap.lineTo(envelope.topRight());
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);

    const QRectF s(r.left() + r.width() * 0.5, r.top() + r.height() * 0.4, r.width() * 0.5, r.height() * 0.6);
    QPainterPath guard;
    guard.moveTo(s.center().x(), s.top());
    guard.lineTo(s.right(), s.top() + s.height() * 0.2);
    guard.quadTo(s.right(), s.bottom() - s.height() * 0.2, s.center().x(), s.bottom());
    guard.quadTo(s.left(), s.bottom() - s.height() * 0.2, s.left(), s.top() + s.height() * 0.2);
    guard.closeSubpath();
    p.setPen(QPen(kNavy, r.width() / 32.0));
    p.setBrush(shield);
    p.drawPath(guard);
}

QIcon EmblemIcon(const QColor& shield)
{
    QIcon icon;
    for (int size : {16, 22, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        PaintEmblem(p, QRectF(0, 0, size, size), shield);
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

QIcon ProgramIcon() { return EmblemIcon(kTeal); }
QIcon BusyIcon() { return EmblemIcon(kAmber); }

QIcon ToolIcon(ToolImage image)
{
    QPixmap pixmap(26, 20);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kNavy, 1.6));
    p.setBrush(Qt::NoBrush);
    switch (image) {
    case ToolImage::kFilters:  // a funnel
        p.setBrush(kTeal);
        p.drawPolygon(QPolygonF({{5, 3}, {21, 3}, {15, 11}, {15, 17}, {11, 17}, {11, 11}}));
        break;
    case ToolImage::kSettings:  // sliders
        for (int y : {5, 10, 15}) {
            p.drawLine(5, y, 21, y);
            p.setBrush(kTeal);
            p.drawEllipse(QPointF(y == 10 ? 16 : 9, y), 2.5, 2.5);
        }
        break;
    case ToolImage::kUpdate:  // a circular arrow
        p.drawArc(QRectF(6, 3, 14, 14), 30 * 16, 300 * 16);
        p.setBrush(kNavy);
        p.drawPolygon(QPolygonF({{18, 2}, {21, 7}, {15, 7}}));
        break;
    case ToolImage::kHelp:  // a question mark in a ring
        p.drawEllipse(QRectF(6, 2, 15, 15));
        p.setFont(QFont("Sans", 8, QFont::Bold));
        p.drawText(QRectF(6, 2, 15, 15), Qt::AlignCenter, "?");
        break;
    case ToolImage::kHome:  // a house
        p.setBrush(kTeal);
        p.drawPolygon(QPolygonF({{13, 2}, {22, 10}, {19, 10}, {19, 18}, {7, 18}, {7, 10}, {4, 10}}));
        break;
    case ToolImage::kClose:  // a cross
        p.setPen(QPen(kNavy, 2.2));
        p.drawLine(8, 4, 18, 16);
        p.drawLine(18, 4, 8, 16);
        break;
    case ToolImage::kDebug:  // a terminal
        p.drawRect(QRectF(4, 3, 18, 14));
        p.drawLine(7, 7, 10, 10);
        p.drawLine(10, 10, 7, 13);
        p.drawLine(12, 13, 17, 13);
        break;
    }
    return QIcon(pixmap);
}

QPixmap SplashPicture()
{
    QPixmap pixmap(420, 240);
    QPainter p(&pixmap);
    QLinearGradient sky(0, 0, 0, 240);
    sky.setColorAt(0, QColor(0xf4, 0xf7, 0xfb));
    sky.setColorAt(1, QColor(0xd8, 0xe6, 0xf2));
    p.fillRect(pixmap.rect(), sky);
    PaintEmblem(p, QRectF(30, 50, 140, 140), kTeal);
    p.setPen(kNavy);
    p.setFont(QFont("Sans", 28, QFont::Bold));
    p.drawText(QRectF(185, 70, 230, 50), Qt::AlignLeft | Qt::AlignVCenter, "Orvanta");
    p.setFont(QFont("Sans", 12));
    p.drawText(QRectF(187, 120, 230, 30), Qt::AlignLeft | Qt::AlignVCenter, "Zidevoz anti-spam");
    return pixmap;
}

}  // namespace orvanta::ui
