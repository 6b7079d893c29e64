// render_icon: renders an SVG file into a square PNG of the given size,
// using Qt's SVG image-format plug-in (no QtSvg headers needed).
//
//   render_icon INPUT.svg SIZE OUTPUT.png
#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
#include <QSize>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: render_icon INPUT.svg SIZE OUTPUT.png\n");
        return 2;
    }
    const int size = QString::fromLocal8Bit(argv[2]).toInt();
    if (size <= 0) {
        std::fprintf(stderr, "render_icon: bad size %s\n", argv[2]);
        return 2;
    }
    QImageReader reader(QString::fromLocal8Bit(argv[1]), "svg");
    reader.setScaledSize(QSize(size, size));
    const QImage image = reader.read();
    if (image.isNull()) {
        std::fprintf(stderr, "render_icon: cannot render %s: %s (is Qt's SVG plug-in, libqt6svg6, installed?)\n",
                     argv[1], qPrintable(reader.errorString()));
        return 1;
    }
    if (!image.convertToFormat(QImage::Format_ARGB32).save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "render_icon: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
