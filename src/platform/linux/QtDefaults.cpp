#include "platform/linux/QtDefaults.h"

#include <QFile>
#include <QStringDecoder>

#include "base/Log.h"

namespace velmora::desktop {
namespace {

std::unique_ptr<QSettings> openSettings() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("velmora"), QStringLiteral("velmora"));
}

QString keyOf(const std::string& key) {
    return QString::fromStdString(key);
}

// QSettings drops what it cannot make sense of and carries on; a settings file is text, so
// binary content or a file we cannot open counts as damaged too.
bool isReadableText(const QString& path) {
    QFile file(path);
    if (!file.exists()) {
        return true;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (bytes.contains('\0')) {
        return false;
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    [[maybe_unused]] const QString text = decoder(bytes);
    return !decoder.hasError();
}

}  // namespace

QtDefaults::QtDefaults() : settings_(openSettings()) {
    if (settings_->status() == QSettings::NoError && isReadableText(settings_->fileName())) {
        return;
    }
    // A file we cannot read or parse would refuse every later write; set it aside and start
    // from defaults rather than stop the program.
    const QString path = settings_->fileName();
    logLine("Settings file could not be read; starting from defaults: " + path.toStdString());
    settings_.reset();
    QFile::remove(path + QStringLiteral(".corrupt"));
    if (!QFile::rename(path, path + QStringLiteral(".corrupt"))) {
        QFile::remove(path);
    }
    settings_ = openSettings();
}

std::optional<std::string> QtDefaults::stringForKey(const std::string& key) {
    const QVariant value = settings_->value(keyOf(key));
    if (!value.isValid()) {
        return std::nullopt;
    }
    // An unquoted comma in a hand-edited file reads back as a list.
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QLatin1Char(',')).toStdString();
    }
    if (!value.canConvert<QString>()) {
        return std::nullopt;
    }
    return value.toString().toStdString();
}

std::int64_t QtDefaults::integerForKey(const std::string& key) {
    const QVariant stored = settings_->value(keyOf(key));
    // A flag written by setBool reads back as the text "true" from the file.
    if (stored.toString() == QLatin1String("true")) {
        return 1;
    }
    bool ok = false;
    const qlonglong value = stored.toLongLong(&ok);
    return ok ? value : 0;
}

void QtDefaults::setString(const std::string& key, const std::string& value) {
    write(key, QString::fromStdString(value));
}

void QtDefaults::setBool(const std::string& key, bool value) {
    write(key, value);
}

void QtDefaults::setInteger(const std::string& key, std::int64_t value) {
    write(key, static_cast<qlonglong>(value));
}

void QtDefaults::removeObject(const std::string& key) {
    settings_->remove(keyOf(key));
    settings_->sync();
}

void QtDefaults::write(const std::string& key, const QVariant& value) {
    settings_->setValue(keyOf(key), value);
    settings_->sync();
}

}  // namespace velmora::desktop
