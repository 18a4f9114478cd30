// Sets the locale variables for one test and restores them afterwards.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace upd::test {

class LocaleGuard {
  public:
    // LANG = `lang`; LC_ALL, LC_CTYPE and LC_MESSAGES unset.
    explicit LocaleGuard(const char* lang) {
        for (const char* name : {"LANG", "LC_ALL", "LC_CTYPE", "LC_MESSAGES"}) {
            const char* old = std::getenv(name);
            m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            unsetenv(name);
        }
        setenv("LANG", lang, 1);
    }
    ~LocaleGuard() {
        for (const auto& [name, value] : m_saved) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }
    LocaleGuard(const LocaleGuard&) = delete;
    LocaleGuard& operator=(const LocaleGuard&) = delete;

  private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

}  // namespace upd::test
