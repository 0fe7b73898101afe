#include "ui/icons.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QPixmap folderPixmap(bool open) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QColor edge(0x80, 0x60, 0x00);
    p.setPen(edge);
    p.setBrush(QColor(0xF0, 0xD0, 0x60));
    p.drawRect(1, 4, 13, 9);  // body
    p.drawRect(1, 2, 5, 2);   // tab
    if (open) {
        QPainterPath flap;
        flap.moveTo(3, 7);
        flap.lineTo(15, 7);
        flap.lineTo(13, 13);
        flap.lineTo(1, 13);
        flap.closeSubpath();
        p.setBrush(QColor(0xFF, 0xE8, 0x90));
        p.drawPath(flap);
    }
    return pm;
}

QPixmap letteredPixmap(const QString& text, const QColor& ink, int pixelSize) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(QColor(0x60, 0x60, 0x60));
    p.setBrush(Qt::white);
    p.drawRect(0, 1, 15, 13);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setBold(true);
    p.setFont(font);
    p.setPen(ink);
    p.drawText(QRect(0, 1, 16, 14), Qt::AlignCenter, text);
    return pm;
}

}  // namespace

QIcon folderIcon() {
    QIcon icon;
    icon.addPixmap(folderPixmap(false), QIcon::Normal);
    icon.addPixmap(folderPixmap(true), QIcon::Selected);
    return icon;
}

QIcon stringValueIcon() {
    return QIcon(letteredPixmap(QStringLiteral("ab"), QColor(0xC0, 0x00, 0x00), 10));
}
QIcon numberValueIcon() {
    return QIcon(letteredPixmap(QStringLiteral("123"), QColor(0x00, 0x40, 0xC0), 7));
}
QIcon binaryValueIcon() {
    return QIcon(letteredPixmap(QStringLiteral("011\n110"), QColor(0x00, 0x80, 0x40), 6));
}

QIcon applicationIcon() {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(0x20, 0x40, 0x80));
    p.setBrush(QColor(0x50, 0x80, 0xD0));
    p.drawRoundedRect(1, 1, 30, 30, 5, 5);
    p.setPen(QPen(Qt::white, 2));
    // a small tree: a trunk with three branches, the registry's shape
    p.drawLine(9, 7, 9, 25);
    for (int y : {11, 17, 23}) {
        p.drawLine(9, y, 16, y);
        p.fillRect(17, y - 2, 9, 5, QColor(0xF0, 0xD0, 0x60));
    }
    return QIcon(pm);
}
