#include "wizard/profile_file.h"

#include "wizard/profile_cache.h"
#include "wizard/profile_writer.h"

namespace upd::wizard {

std::string ReadIniValue(const std::string& section, const std::string& key,
                         const std::string& file) {
    return profile_detail::profileCache().read(section, key, file);
}

void WriteIniValue(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file) {
    static_cast<void>(tryWriteIniValue(section, key, value, file));
}

IniWriteResult tryWriteIniValue(const std::string& section, const std::string& key,
                                const std::string& value, const std::string& file) {
    const IniEntry entry{key, value};
    return tryWriteIniValues(section, {&entry, 1}, file, IniFileAccess::Shared);
}

IniWriteResult tryWriteIniValues(const std::string& section, std::span<const IniEntry> entries,
                                 const std::string& file, IniFileAccess access) {
    return profile_detail::writeIniValues(section, entries, file, access);
}

std::uint64_t profileFileLoadCount() {
    return profile_detail::profileCache().loads();
}

}  // namespace upd::wizard
