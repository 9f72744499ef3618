#pragma once

#include <QSettings>
#include <memory>

#include "platform/Defaults.h"

namespace velmora::desktop {

// The defaults store on QSettings in its native format: on Linux an INI file under
// $XDG_CONFIG_HOME/velmora/. Every write is synced at once; a folder that takes no writes is
// reported once.
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

    QString fileName() const { return settings_->fileName(); }

  private:
    void write(const std::string& key, const QVariant& value);
    void sync();
    void reportSaveFailure();

    std::unique_ptr<QSettings> settings_;
    std::optional<std::string> problem_;
};

}  // namespace velmora::desktop
