// A small window holding one selected line of text, standing in for the application whose text
// the user rewrites. Every change of its text is written to the file named on the command line.
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTextStream>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        return 2;
    }
    const QString reportPath = QString::fromLocal8Bit(argv[1]);
    const QString initialText = QString::fromUtf8(argv[2]);

    QWidget window;
    window.setWindowTitle("velmora-e2e-target");
    auto* layout = new QVBoxLayout(&window);
    auto* field = new QLineEdit(initialText, &window);
    layout->addWidget(field);
    window.resize(480, 80);
    window.move(40, 200);

    auto report = [&reportPath, field] {
        QFile file(reportPath);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            QTextStream(&file) << field->text();
        }
    };
    QObject::connect(field, &QLineEdit::textChanged, report);
    report();

    window.show();
    QTimer::singleShot(0, [field] {
        field->setFocus();
        field->selectAll();
    });
    return app.exec();
}
