// A Qt program holding a large image on the clipboard, which Qt offers in every image format it
// can write, converting on request. Prints "ready" once it owns the clipboard.
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QImage image(3000, 2000, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 3000, 2000);
    gradient.setColorAt(0, Qt::darkBlue);
    gradient.setColorAt(1, Qt::yellow);
    painter.fillRect(image.rect(), gradient);
    painter.end();
    QGuiApplication::clipboard()->setImage(image);
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}
