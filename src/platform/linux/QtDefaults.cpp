#include "platform/linux/QtDefaults.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <cerrno>
#include <cstring>

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

// Far more than any settings file of Velmora's needs.
constexpr off_t kMaxFileBytes = 1024 * 1024;

// What was found at the settings path: nothing, the file's bytes, or why it is left alone.
struct SettingsFile {
    std::optional<QByteArray> bytes;
    std::optional<std::string> refusal;
};

std::string errorText(int error) {
    return std::strerror(error);
}

// Reads the file only when it is a regular file within the limit. Nothing else is opened, and
// the file is opened without waiting, so a FIFO, a device or a symbolic link to one costs
// nothing; a symbolic link to a regular file is read like the file.
SettingsFile readSettingsFile(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat status {};
    if (::stat(name.constData(), &status) != 0) {
        // No file there (nor a folder to hold one): nothing to read, and the first change makes
        // the file, or reports that it cannot.
        return errno == ENOENT || errno == ENOTDIR
                   ? SettingsFile{}
                   : SettingsFile{{}, "it cannot be examined: " + errorText(errno)};
    }
    const auto refusal = [](const struct stat& file) -> std::optional<std::string> {
        if (!S_ISREG(file.st_mode)) {
            return "it is not a regular file";
        }
        if (file.st_size > kMaxFileBytes) {
            return "it is larger than 1 MiB";
        }
        return std::nullopt;
    };
    if (auto refused = refusal(status)) {
        return {{}, std::move(refused)};
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return {{}, "it cannot be opened: " + errorText(errno)};
    }
    // What was opened may not be what was looked at.
    std::optional<std::string> refused =
        ::fstat(fd, &status) != 0 ? "it cannot be examined: " + errorText(errno) : refusal(status);
    QByteArray bytes;
    while (!refused) {
        char chunk[64 * 1024];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            refused = "it cannot be read: " + errorText(errno);
        } else if (n == 0) {
            break;
        } else if (bytes.size() + n > kMaxFileBytes) {
            refused = "it is larger than 1 MiB";
        } else {
            bytes.append(chunk, n);
        }
    }
    ::close(fd);
    return refused ? SettingsFile{{}, std::move(refused)} : SettingsFile{std::move(bytes), {}};
}

// The toolkit would read a byte that is not UTF-8 as a replacement character and write that back
// on the next change. Each such value is mended in the file before it is read, the damaged file is
// kept beside it, and the first keys are named in the log.
void repairDamagedText(const QString& path, const QByteArray& bytes) {
    const auto repaired = repairSettingsText(std::string_view(bytes.data(), bytes.size()));
    if (!repaired) {
        return;
    }
    for (const std::string& key : repaired->keys) {
        logLine("Settings: the value of '" + forLog(key) +
                "' held bytes that are not UTF-8 text; they were read as Latin-1.");
    }
    if (repaired->changedLines > repaired->keys.size()) {
        logLine("Settings: " + std::to_string(repaired->changedLines - repaired->keys.size()) +
                " more lines held bytes that are not UTF-8 text; they were read as Latin-1.");
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
QtDefaults::QtDefaults(const QString& path) : path_(path) {
    const SettingsFile file = readSettingsFile(path);
    if (file.refusal) {
        logLine("Settings: " + path.toStdString() + " cannot be read (" + *file.refusal +
                "); running on defaults and leaving it as it is.");
        readProblem_ = "Velmora cannot read its settings file " + path.toStdString() + ": " +
                       *file.refusal +
                       ". It uses its default settings for now and leaves the file as it is, so "
                       "changes you make last only until Velmora quits. Replace the file with a "
                       "regular file of at most 1 MiB, or remove it, to keep settings again.";
        return;
    }
    if (file.bytes) {
        repairDamagedText(path, *file.bytes);
    }
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

std::optional<std::string> QtDefaults::readProblem() const {
    return readProblem_;
}

void QtDefaults::reportSaveFailure() {
    if (problem_) {
        return;
    }
    const std::string folder = QFileInfo(path_).absolutePath().toStdString();
    problem_ = "Velmora cannot save its settings in " + folder +
               ". Changes you make last only until Velmora quits. Make the folder writable for "
               "your user to keep them.";
    logLine("Settings: cannot save settings in " + folder + "; changes last until Velmora quits.");
}

QVariant QtDefaults::value(const std::string& key) const {
    if (!settings_) {
        const auto found = memory_.find(key);
        return found == memory_.end() ? QVariant() : found->second;
    }
    return settings_->value(keyOf(key));
}

std::optional<std::string> QtDefaults::stringForKey(const std::string& key) {
    const QVariant value = this->value(key);
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
    const QVariant stored = value(key);
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
    if (!settings_) {
        memory_.erase(key);
        return;
    }
    settings_->remove(keyOf(key));
    sync();
}

void QtDefaults::write(const std::string& key, const QVariant& value) {
    if (!settings_) {
        memory_[key] = value;
        return;
    }
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
