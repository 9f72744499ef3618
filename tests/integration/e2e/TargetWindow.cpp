// A small window holding one selected line of text, standing in for the application whose text
// the user rewrites. Every change of its text is written to the file named on the command line,
// and every key it receives, with the modifiers held ("Ctrl+C"), to the next file if one is named.
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QTextStream>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>

struct KeyLog : QObject {
    explicit KeyLog(std::FILE* log) : file(log) {}
    std::FILE* file;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const QKeySequence key(static_cast<QKeyEvent*>(event)->keyCombination());
            std::fprintf(file, "%s\n", qPrintable(key.toString()));
            std::fflush(file);
        }
        return false;
    }
};

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
    if (argc > 3) {
        field->installEventFilter(new KeyLog(std::fopen(argv[3], "a")));
    }
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
