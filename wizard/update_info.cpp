#include "wizard/update_info.h"

#include "app/number_text.h"
#include "app/string_table.h"
#include "platform/update_path.h"
#include "wizard/file_digest.h"
#include "wizard/file_version.h"
#include "wizard/profile_file.h"

namespace upd::wizard {
namespace {

constexpr int kMessageCannotAnalyse = 119;
constexpr int kUnknownType = 127;
constexpr std::int64_t kMaxEntries = 32767;

std::string upperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

void addWorkingColumns(controls::ListModel& list) {
    (void)list.addColumn("FileName", "FileName", 2760);
    (void)list.addColumn("Ver", "Ver", 1650);
    (void)list.addColumn("Descript", "Descript", 1650);
}

class Analysis {
  public:
    Analysis(const std::string& iniPath, const std::string& appFolder, platform::LangId langId,
             platform::LangId textLanguage)
        : m_ini(iniPath),
          m_appFolder(appFolder),
          m_tag(languageTag(langId)),
          m_textLanguage(textLanguage) {}

    // False, with the reason in `failure`, at the first entry that cannot be taken.
    bool readSection(const char* section, const char* valueKey, controls::ListModel& list,
                     std::vector<std::string>& digests, std::string& failure) const {
        const std::string numText = ReadIniValue(section, "Num", m_ini);
        const auto num = app::wholeNumberFromText(numText);
        if (!num || *num < INT32_MIN || *num > INT32_MAX) {
            failure = std::string("[") + section + "] Num is not a number: \"" + numText + "\"";
            return false;
        }
        if (*num > kMaxEntries) {
            failure = std::string("[") + section + "] Num is above 32767";
            return false;
        }
        for (std::int64_t n = 1; n <= *num; ++n) {
            const std::string index = std::to_string(n);
            const std::string name = ReadIniValue(section, "File" + index, m_ini);
            const platform::UpdatePath local = platform::hostPathUnder(m_appFolder, name);
            if (!local) {
                failure = std::string("[") + section + "] File" + index + " \"" + name +
                          "\": " + platform::describe(local.error);
                return false;
            }
            if (const controls::ListError error = list.addRow(name);
                error != controls::ListError::None) {
                failure = std::string("[") + section + "] File" + index + " \"" + name +
                          "\": " + std::string(controls::listErrorText(error));
                return false;
            }
            const int row = list.rowCount();
            (void)list.setSubItem(row, 1, ReadIniValue(section, valueKey + index, m_ini));
            (void)list.setSubItem(row, 2, description(name));
            // A digest that is there must be one: a wrong one would fail every download.
            const std::string digest = ReadIniValue(section, "Sha256" + index, m_ini);
            if (!digest.empty() && !isSha256Hex(digest)) {
                failure = std::string("[") + section + "] Sha256" + index +
                          " is not 64 lower-case hexadecimal digits";
                return false;
            }
            digests.push_back(digest);
        }
        return true;
    }

    // Looked up under "EXE<tag>" first, then "EXE", and shown exactly as read.
    std::string description(const std::string& name) const {
        const std::string extension = upperAscii(GetExtension(name));
        std::string text = ReadIniValue("Descript", extension + std::string(m_tag), m_ini);
        if (text.empty()) {
            text = ReadIniValue("Descript", extension, m_ini);
        }
        return text.empty() ? app::LoadResString(kUnknownType, m_textLanguage) : text;
    }

    std::string whatsNew() const {
        return whatsNewText(ReadIniValue("Update", "Ver", m_ini),
                            ReadIniValue("Update", "Time", m_ini),
                            ReadIniValue("Update", "Contents" + std::string(m_tag), m_ini));
    }

  private:
    const std::string& m_ini;
    const std::string& m_appFolder;
    std::string_view m_tag;
    platform::LangId m_textLanguage;
};

}  // namespace

std::string_view languageTag(platform::LangId langId) {
    return langId == platform::kLangChineseSimplified ? "CHS" : "EN";
}

std::string whatsNewText(std::string_view version, std::string_view releaseDate,
                         std::string_view contents) {
    std::string text = "V " + std::string(version) + " (" + std::string(releaseDate) + ")\r\n";
    if (contents.empty()) {
        return text;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = contents.find(',', start);
        const std::string_view item = contents.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        text += "\r\n";
        text += item;
        if (item.empty() || comma == std::string_view::npos) {
            return text;
        }
        start = comma + 1;
    }
}

UpdateInformation analyseUpdateInformation(const std::string& iniPath, const std::string& appFolder,
                                           platform::LangId langId, platform::LangId textLanguage) {
    UpdateInformation info;
    addWorkingColumns(info.VersionList);
    addWorkingColumns(info.DateList);
    const Analysis analysis(iniPath, appFolder, langId, textLanguage);
    std::string failure;
    if (!analysis.readSection("Ver", "Ver", info.VersionList, info.VersionDigests, failure) ||
        !analysis.readSection("Time", "Date", info.DateList, info.DateDigests, failure)) {
        info.failure = failure;
        info.text = app::LoadResString(kMessageCannotAnalyse, textLanguage);
        return info;
    }
    info.text = analysis.whatsNew();
    return info;
}

}  // namespace upd::wizard
