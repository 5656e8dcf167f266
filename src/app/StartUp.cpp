// Application title, random draw, cursor file and application icon.
#include "app/StartUp.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QTime>
#include <random>

// The icons are compiled into this static library; its resources must be registered from the global
// namespace.
static void InitResources() { Q_INIT_RESOURCE(orvandel); }

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
    // The 6-byte directory header is followed by the first 16-byte entry, whose planes and bit-count fields
    // hold the hotspot in a cursor file; the image reader does not expose them.
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
    InitResources();
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) icon.addFile(QString(":/icons/orvandel-%1.png").arg(size));
    return icon;
}

}  // namespace orv::app
