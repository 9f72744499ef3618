// A Qt program holding a large image on the clipboard (3000x2000, or WIDTH HEIGHT), which Qt offers
// in every image format it can write, converting on request. Prints "ready" once it owns the
// clipboard.
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const int width = argc > 2 ? std::atoi(argv[1]) : 3000;
    const int height = argc > 2 ? std::atoi(argv[2]) : 2000;
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, width, height);
    gradient.setColorAt(0, Qt::darkBlue);
    gradient.setColorAt(1, Qt::yellow);
    painter.fillRect(image.rect(), gradient);
    painter.end();
    QGuiApplication::clipboard()->setImage(image);
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}
