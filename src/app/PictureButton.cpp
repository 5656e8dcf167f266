// Paints the picture and the wrapped caption of a large button.
#include "app/PictureButton.h"

#include <QFontMetrics>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace orv::app {

namespace {

constexpr int kEdge = 4;  // between the button's edge and what it shows, and between picture and caption
constexpr double kSmallestPoints = 6;

}  // namespace

QRect PictureButton::captionArea() const {
    // A single line has the button's height but for its frame: the small "..." buttons are barely taller
    // than their line.
    if (icon().isNull()) return rect().adjusted(kEdge, 2, -kEdge, -2);
    return rect().adjusted(kEdge, kEdge, -kEdge, -kEdge).adjusted(0, iconSize().height() + kEdge, 0, 0);
}

bool PictureButton::Fits(const QFont& font) const {
    const QRect area = captionArea();
    const QFontMetrics metrics(font);
    // A word wider than the area is not wrapped but cut; the bounds then come out wider than the area.
    const QRect needed = metrics.boundingRect(QRect(0, 0, area.width(), 1 << 16),
                                              Qt::AlignHCenter | (icon().isNull() ? 0 : Qt::TextWordWrap), text());
    return needed.width() <= area.width() && needed.height() <= area.height();
}

QFont PictureButton::captionFont() const {
    QFont font = this->font();
    while (!Fits(font) && font.pointSizeF() - 0.5 >= kSmallestPoints) font.setPointSizeF(font.pointSizeF() - 0.5);
    return font;
}

void PictureButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QFont caption = captionFont();
    painter.setFont(caption);
    option.fontMetrics = QFontMetrics(caption);
    if (icon().isNull()) {
        painter.drawControl(QStyle::CE_PushButton, option);
        return;
    }
    painter.drawControl(QStyle::CE_PushButtonBevel, option);

    const QSize size = iconSize();
    const QRect area = rect().adjusted(kEdge, kEdge, -kEdge, -kEdge);
    const QRect textBounds = option.fontMetrics.boundingRect(QRect(0, 0, area.width(), area.height()),
                                                             Qt::AlignHCenter | Qt::TextWordWrap, text());
    const int total = size.height() + kEdge + textBounds.height();
    const int top = area.top() + std::max(0, (area.height() - total) / 2);
    const QRect iconRect(area.left() + (area.width() - size.width()) / 2, top, size.width(), size.height());
    const QIcon::Mode mode = isEnabled() ? QIcon::Normal : QIcon::Disabled;
    icon().paint(&painter, iconRect, Qt::AlignCenter, mode);
    const QRect textRect(area.left(), iconRect.bottom() + kEdge, area.width(), area.bottom() - iconRect.bottom() - kEdge);
    painter.drawItemText(textRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, palette(), isEnabled(),
                         text(), QPalette::ButtonText);
}

}  // namespace orv::app
