#pragma once

#include <QSettings>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/Defaults.h"

namespace velmora::desktop {

// The defaults store on QSettings in its native format: on Linux an INI file under
// $XDG_CONFIG_HOME/velmora/. Every write is synced at once; a folder that takes no writes is
// reported once. A file that is not a regular file of at most 1 MiB is neither read nor written:
// the values then live in memory until Velmora quits, and that is reported once too.
class QtDefaults : public platform::Defaults {
  public:
    explicit QtDefaults(const QString& path = standardPath());
    // $XDG_CONFIG_HOME/velmora/velmora.conf
    static QString standardPath();

    std::optional<std::string> stringForKey(const std::string& key) override;
    std::int64_t integerForKey(const std::string& key) override;
    void setString(const std::string& key, const std::string& value) override;
    void setBool(const std::string& key, bool value) override;
    void setInteger(const std::string& key, std::int64_t value) override;
    void removeObject(const std::string& key) override;
    std::optional<std::string> storageProblem() const override;
    std::optional<std::string> readProblem() const override;

  private:
    QVariant value(const std::string& key) const;
    void write(const std::string& key, const QVariant& value);
    void sync();
    void reportSaveFailure();

    const QString path_;
    // None when the file could not be read: the values are then held in `memory_`.
    std::unique_ptr<QSettings> settings_;
    std::map<std::string, QVariant> memory_;
    std::optional<std::string> problem_;
    std::optional<std::string> readProblem_;
};

}  // namespace velmora::desktop
