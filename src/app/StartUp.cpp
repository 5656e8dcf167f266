// Application title, random draw, cursor file and application icon.
#include "app/StartUp.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>
#include <QTime>
#include <random>

namespace orv::app {

std::string ShortenToAppTitle(const std::string& productName) {
    std::string title = productName;
    do {
        const auto space = title.rfind(' ');
        if (space == std::string::npos) break;
        title.erase(space);
    } while (title.size() > 40);
    return title;
}

int DrawOneToHundred(const std::function<double()>& randomFraction) {
    return static_cast<int>(randomFraction() * 100.0) + 1;
}

double RandomFractionSeededByTime() {
    std::mt19937 generator(static_cast<unsigned>(QTime::currentTime().msecsSinceStartOfDay() / 1000));
    return std::uniform_real_distribution<double>(0.0, 1.0)(generator);
}

std::optional<QCursor> LoadCursorFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    // The 6-byte directory header is followed by the first 16-byte entry, whose planes and bit-count fields hold
    // the hotspot in a cursor file; the image reader does not expose them.
    const QByteArray header = file.read(22);
    if (header.size() < 22) return std::nullopt;
    auto word = [&](int at) {
        return static_cast<int>(static_cast<unsigned char>(header[at]) |
                                (static_cast<unsigned char>(header[at + 1]) << 8));
    };
    if (word(0) != 0 || word(2) != 2 || word(4) < 1) return std::nullopt;
    const int hotX = word(10);
    const int hotY = word(12);
    file.close();
    QImageReader reader(path, "ico");
    const QImage image = reader.read();
    if (image.isNull()) return std::nullopt;
    return QCursor(QPixmap::fromImage(image), hotX, hotY);
}

QIcon ApplicationIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const double u = size / 16.0;
        // Two sheets side by side with an arrow between them: a sheet travelling from one workbook to the other.
        auto sheet = [&](double x, const QColor& colour) {
            const QRectF r(x * u, 2 * u, 6 * u, 10 * u);
            p.setPen(QPen(colour.darker(160), std::max(1.0, u * 0.6)));
            p.setBrush(Qt::white);
            p.drawRect(r);
            p.setPen(QPen(colour, std::max(1.0, u * 0.5)));
            for (int row = 1; row <= 3; ++row) p.drawLine(QPointF(r.left() + u, r.top() + row * 2.5 * u),
                                                          QPointF(r.right() - u, r.top() + row * 2.5 * u));
        };
        sheet(0.5, QColor(0x1d, 0x6f, 0x42));
        sheet(9.5, QColor(0x2b, 0x57, 0x9a));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xe0, 0x8a, 0x00));
        const QPolygonF arrow{{5.5 * u, 12 * u}, {9.5 * u, 12 * u}, {9.5 * u, 10.5 * u},
                              {12.5 * u, 13 * u}, {9.5 * u, 15.5 * u}, {9.5 * u, 14 * u}, {5.5 * u, 14 * u}};
        p.drawPolygon(arrow);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace orv::app
