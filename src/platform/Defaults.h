#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velmora::platform {

// The per-user settings store. Absent keys read as none, false or 0. Writes take effect at once;
// when they cannot be kept, `storageProblem` says so.
class Defaults {
  public:
    virtual ~Defaults() = default;
    virtual std::optional<std::string> stringForKey(const std::string& key) = 0;
    virtual std::int64_t integerForKey(const std::string& key) = 0;
    virtual void setString(const std::string& key, const std::string& value) = 0;
    virtual void setBool(const std::string& key, bool value) = 0;
    virtual void setInteger(const std::string& key, std::int64_t value) = 0;
    virtual void removeObject(const std::string& key) = 0;
    // Plain words for the user when changes cannot be saved (an unwritable folder, say).
    virtual std::optional<std::string> storageProblem() const { return std::nullopt; }
    // Plain words for the user when the stored settings could not be read (a file that is no
    // settings file, or far too large); the store then runs on defaults and leaves them alone.
    virtual std::optional<std::string> readProblem() const { return std::nullopt; }
};

}  // namespace velmora::platform
