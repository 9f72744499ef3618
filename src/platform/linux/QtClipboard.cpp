#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include "platform/linux/X11Input.h"

namespace velmora::desktop {
namespace {

// Qt's in-process image object, offered beside the real image formats; it has no bytes of its own
// and another program never sees it.
constexpr const char* qtImageFormat = "application/x-qt-image";

// The CLIPBOARD selection. Qt answers other programs' requests from the event loop, so owning the
// clipboard costs nothing as long as the main thread keeps turning.
class QtClipboard : public platform::Clipboard {
  public:
    std::optional<std::string> text() override {
        const QMimeData* data = clipboard()->mimeData(QClipboard::Clipboard);
        if (data == nullptr || !data->hasText()) {
            return std::nullopt;
        }
        return data->text().toStdString();
    }

    void clear() override { clipboard()->clear(QClipboard::Clipboard); }

    void setText(const std::string& text) override {
        clipboard()->setText(QString::fromStdString(text), QClipboard::Clipboard);
    }

    platform::ClipboardSnapshot snapshot() override {
        platform::ClipboardSnapshot snapshot;
        const QMimeData* data = clipboard()->mimeData(QClipboard::Clipboard);
        if (data == nullptr) {
            return snapshot;
        }
        for (const QString& format : data->formats()) {
            if (format == QLatin1String(qtImageFormat)) {
                continue;
            }
            const QByteArray bytes = data->data(format);
            snapshot.formats.emplace_back(format.toStdString(), bytes.toStdString());
        }
        return snapshot;
    }

    void restore(const platform::ClipboardSnapshot& snapshot) override {
        if (snapshot.empty()) {
            clear();
            return;
        }
        auto* data = new QMimeData;
        for (const auto& [format, bytes] : snapshot.formats) {
            data->setData(QString::fromStdString(format),
                          QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
        }
        clipboard()->setMimeData(data, QClipboard::Clipboard);
    }

  private:
    static QClipboard* clipboard() { return QGuiApplication::clipboard(); }
};

}  // namespace

std::unique_ptr<platform::Clipboard> makeQtClipboard() {
    return std::make_unique<QtClipboard>();
}

}  // namespace velmora::desktop
