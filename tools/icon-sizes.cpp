// Build tool: writes the application icon at the freedesktop icon-theme sizes.
//   icon-sizes <source.png> <out-dir> <size>...
// makes <out-dir>/<size>x<size>/apps/kovani.png for each size.
#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fputs("usage: icon-sizes <source.png> <out-dir> <size>...\n", stderr);
        return 2;
    }
    const QImage source(QString::fromLocal8Bit(argv[1]));
    if (source.isNull()) {
        std::fprintf(stderr, "icon-sizes: cannot read %s\n", argv[1]);
        return 1;
    }
    const QString out = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size <= 0 || size > 4096) {
            std::fprintf(stderr, "icon-sizes: bad size %s\n", argv[i]);
            return 2;
        }
        const QString folder = out + QStringLiteral("/%1x%1/apps").arg(size);
        QDir().mkpath(folder);
        const QImage scaled = source.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        if (!scaled.save(folder + QStringLiteral("/kovani.png"), "PNG")) {
            std::fprintf(stderr, "icon-sizes: cannot write size %d\n", size);
            return 1;
        }
    }
    return 0;
}
