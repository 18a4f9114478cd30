// Sets or clears environment variables for one test and restores them afterwards.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace upd::test {

class EnvGuard {
  public:
    EnvGuard() = default;
    ~EnvGuard() {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second) {
                setenv(it->first.c_str(), it->second->c_str(), 1);
            } else {
                unsetenv(it->first.c_str());
            }
        }
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

    // nullptr unsets the variable.
    EnvGuard& set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
        return *this;
    }

  private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

// LANG = `lang`, with LC_ALL, LC_CTYPE and LC_MESSAGES unset.
class LocaleGuard : public EnvGuard {
  public:
    explicit LocaleGuard(const char* lang) {
        set("LC_ALL", nullptr).set("LC_CTYPE", nullptr).set("LC_MESSAGES", nullptr);
        set("LANG", lang);
    }
};

}  // namespace upd::test
