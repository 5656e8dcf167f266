// Paints the picture and the wrapped caption of a large button.
#include "app/PictureButton.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace orv::app {

void PictureButton::paintEvent(QPaintEvent* event) {
    if (icon().isNull()) {
        QPushButton::paintEvent(event);
        return;
    }
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    painter.drawControl(QStyle::CE_PushButtonBevel, option);

    const QSize size = iconSize();
    const QRect area = rect().adjusted(4, 4, -4, -4);
    const QFontMetrics metrics(font());
    const QRect textBounds = metrics.boundingRect(QRect(0, 0, area.width(), area.height()),
                                                  Qt::AlignHCenter | Qt::TextWordWrap, text());
    const int total = size.height() + 4 + textBounds.height();
    const int top = area.top() + std::max(0, (area.height() - total) / 2);
    const QRect iconRect(area.left() + (area.width() - size.width()) / 2, top, size.width(), size.height());
    const QIcon::Mode mode = isEnabled() ? QIcon::Normal : QIcon::Disabled;
    icon().paint(&painter, iconRect, Qt::AlignCenter, mode);
    const QRect textRect(area.left(), iconRect.bottom() + 4, area.width(),
                         area.bottom() - iconRect.bottom() - 4);
    painter.drawItemText(textRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, palette(), isEnabled(),
                         text(), QPalette::ButtonText);
}

}  // namespace orv::app
