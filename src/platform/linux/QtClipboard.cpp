#include "platform/linux/QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace velmora::desktop {
namespace {

// Qt's in-process image object, offered beside the real image formats; it has no bytes of its own
// and another program never sees it.
constexpr const char* kQtImageFormat = "application/x-qt-image";
// More than any selection a user rewrites; a larger format is left out of the snapshot.
constexpr qsizetype kMaxSnapshotBytes = 64 * 1024 * 1024;

// A MIME type, not one of X's own targets (TARGETS, TIMESTAMP, MULTIPLE) nor Qt's image object.
bool isKeptFormat(const QString& format) {
    return format.contains(QLatin1Char('/')) && format != QLatin1String(kQtImageFormat);
}

}  // namespace

QClipboard* QtClipboard::clipboard() {
    return QGuiApplication::clipboard();
}

platform::Capability QtClipboard::availability() {
    if (sessionIsX11_) {
        return platform::Capability::yes();
    }
    return platform::Capability::no(
        "Velmora reaches the clipboard only in an X11 session for now. Log in to an X11 session "
        "to rewrite text.");
}

std::optional<std::string> QtClipboard::text() {
    const QMimeData* data = clipboard()->mimeData(QClipboard::Clipboard);
    if (data == nullptr || !data->hasText()) {
        return std::nullopt;
    }
    return data->text().toStdString();
}

void QtClipboard::setText(const std::string& text) {
    clipboard()->setText(QString::fromStdString(text), QClipboard::Clipboard);
}

void QtClipboard::clear() {
    clipboard()->clear(QClipboard::Clipboard);
}

platform::ClipboardSnapshot QtClipboard::snapshot() {
    platform::ClipboardSnapshot snapshot;
    const QMimeData* data = clipboard()->mimeData(QClipboard::Clipboard);
    if (data == nullptr) {
        return snapshot;
    }
    qsizetype total = 0;
    for (const QString& format : data->formats()) {
        if (!isKeptFormat(format)) {
            continue;
        }
        const QByteArray bytes = data->data(format);
        if (total + bytes.size() > kMaxSnapshotBytes) {
            snapshot.notKept.push_back(format.toStdString() + ": larger than Velmora keeps");
            continue;
        }
        total += bytes.size();
        snapshot.formats.emplace_back(format.toStdString(), bytes.toStdString());
    }
    return snapshot;
}

void QtClipboard::restore(const platform::ClipboardSnapshot& snapshot) {
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

}  // namespace velmora::desktop
