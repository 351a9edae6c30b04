// Writes copies of the logo artwork at the pixel sizes the window draws it, with the same
// scaling the application uses, so that opening the window decodes no 1024-pixel image.
//   kovani_logo_sizes <AppIcon1024.png> <output folder> <side>...
#include "app/AppLogo.h"

#include <QGuiApplication>
#include <QImageReader>

#include <cstdio>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <artwork.png> <folder> <side>...\n", argv[0]);
        return 2;
    }
    QImageReader reader(QString::fromLocal8Bit(argv[1]));
    const QImage artwork = reader.read();
    if (artwork.isNull()) {
        std::fprintf(stderr, "cannot read %s: %s\n", argv[1], qPrintable(reader.errorString()));
        return 1;
    }
    const QString folder = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i) {
        const int side = QByteArray(argv[i]).toInt();
        const QString path = folder + u'/' + AppLogo::scaledCopyName(side);
        if (side <= 0 || !AppLogo::scaledArtwork(artwork, side).save(path, "png")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
