#include "platform/linux/QtDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryFile>

#include "base/Log.h"
#include "settings/SettingsText.h"

namespace velmora::desktop {
namespace {

// An INI file, which is what the toolkit's native format is on Linux, so files written before
// read the same.
std::unique_ptr<QSettings> openSettings(const QString& path) {
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

QString keyOf(const std::string& key) {
    return QString::fromStdString(key);
}

bool writeWhole(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

// The toolkit would read a byte that is not UTF-8 as a replacement character and write that back
// on the next change. Each such value is mended in the file before it is read, the damaged file is
// kept beside it, and the keys are named in the log.
void repairDamagedText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    const auto repaired = repairSettingsText(std::string_view(bytes.data(), bytes.size()));
    if (!repaired) {
        return;
    }
    for (const std::string& key : repaired->keys) {
        logLine("Settings: the value of '" + forLog(key) +
                "' held bytes that are not UTF-8 text; they were read as Latin-1.");
    }
    const QString kept = path + QStringLiteral(".damaged");
    if (!writeWhole(kept, bytes) || !writeWhole(path, QByteArray::fromStdString(repaired->text))) {
        logLine("Settings: could not write the mended file; reading it as it is: " +
                path.toStdString());
        return;
    }
    logLine("Settings: the file as it was is kept in " + kept.toStdString());
}

// Whether a file can be made in the settings folder: the store writes a new file and renames it.
bool canSaveIn(const QString& folder) {
    if (!QDir().mkpath(folder)) {
        return false;
    }
    QTemporaryFile probe(folder + QStringLiteral("/.velmora-XXXXXX"));
    return probe.open();
}

}  // namespace

QString QtDefaults::standardPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/velmora/velmora.conf");
}

// The file is mended before the toolkit first reads it: it keeps what it read of a path for the
// life of the process.
QtDefaults::QtDefaults(const QString& path) {
    repairDamagedText(path);
    settings_ = openSettings(path);
    if (settings_->status() != QSettings::NoError) {
        logLine("Settings: parts of " + path.toStdString() +
                " could not be read; they are left at their defaults.");
    }
    const QString folder = QFileInfo(path).absolutePath();
    if (!canSaveIn(folder) || (QFileInfo::exists(path) && !QFileInfo(path).isWritable())) {
        reportSaveFailure();
    }
}

std::optional<std::string> QtDefaults::storageProblem() const {
    return problem_;
}

void QtDefaults::reportSaveFailure() {
    if (problem_) {
        return;
    }
    const std::string folder = QFileInfo(settings_->fileName()).absolutePath().toStdString();
    problem_ = "Velmora cannot save its settings in " + folder +
               ". Changes you make last only until Velmora quits. Make the folder writable for "
               "your user to keep them.";
    logLine("Settings: cannot save settings in " + folder + "; changes last until Velmora quits.");
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
    sync();
}

void QtDefaults::write(const std::string& key, const QVariant& value) {
    settings_->setValue(keyOf(key), value);
    sync();
}

void QtDefaults::sync() {
    settings_->sync();
    if (settings_->status() == QSettings::AccessError) {
        reportSaveFailure();
    }
}

}  // namespace velmora::desktop
