#include "wizard/update_info.h"

#include "app/number_text.h"
#include "app/string_table.h"
#include "net/ascii_case.h"
#include "platform/printable_text.h"
#include "platform/update_path.h"
#include "publishing/file_digest.h"
#include "wizard/file_version.h"
#include "wizard/installation.h"
#include "wizard/profile_file.h"

namespace upd::wizard {
namespace {

constexpr int kMessageCannotAnalyse = 119;
constexpr int kUnknownType = 127;
constexpr std::int64_t kMaxEntries = 32767;

void addWorkingColumns(controls::ListModel& list) {
    (void)list.addColumn("FileName", "FileName", 2760);
    (void)list.addColumn("Ver", "Ver", 1650);
    (void)list.addColumn("Descript", "Descript", 1650);
}

class Analysis {
  public:
    Analysis(const ProfileDocument& ini, const std::string& appFolder, platform::LangId langId,
             platform::LangId textLanguage)
        : m_ini(ini),
          m_appFolder(appFolder),
          m_tag(platform::languageProfile(langId).tag),
          m_textLanguage(textLanguage) {}

    // False, with the reason in `failure`, at the first entry that cannot be taken.
    bool readSection(const char* section, const char* valueKey, controls::ListModel& list,
                     std::vector<std::string>& digests, std::string& failure) const {
        const std::string numText = m_ini.value(section, "Num");
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
            const std::string name = m_ini.value(section, "File" + index);
            const platform::UpdatePath local = platform::hostPathUnder(m_appFolder, name);
            if (!local) {
                failure = std::string("[") + section + "] File" + index + " \"" +
                          platform::printableText(name) + "\": " + platform::describe(local.error);
                return false;
            }
            // A downloaded "install.journal" would be replayed as the installer's own.
            if (installerOwnsName(name)) {
                failure = std::string("[") + section + "] File" + index + " \"" + name +
                          "\": the name is the installer's own";
                return false;
            }
            if (const controls::ListError error = list.addRow(name);
                error != controls::ListError::None) {
                failure = std::string("[") + section + "] File" + index + " \"" + name +
                          "\": " + std::string(controls::listErrorText(error));
                return false;
            }
            const int row = list.rowCount();
            (void)list.setSubItem(row, 1, m_ini.value(section, valueKey + index));
            (void)list.setSubItem(row, 2, description(name));
            // A digest that is there must be one: a wrong one would fail every download.
            const std::string digest = m_ini.value(section, "Sha256" + index);
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
        const std::string extension = net::asciiUpper(GetExtension(name));
        std::string text = m_ini.value("Descript", extension + std::string(m_tag));
        if (text.empty()) {
            text = m_ini.value("Descript", extension);
        }
        return text.empty() ? app::LoadResString(kUnknownType, m_textLanguage) : text;
    }

    std::string whatsNew() const {
        return whatsNewText(m_ini.value("Update", "Ver"), m_ini.value("Update", "Time"),
                            m_ini.value("Update", "Contents" + std::string(m_tag)));
    }

  private:
    const ProfileDocument& m_ini;
    const std::string& m_appFolder;
    std::string_view m_tag;
    platform::LangId m_textLanguage;
};

}  // namespace

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

UpdateInformation analyseUpdateInformation(ProfileDocument document, const std::string& appFolder,
                                           platform::LangId langId, platform::LangId textLanguage) {
    UpdateInformation info;
    info.document = std::move(document);
    addWorkingColumns(info.VersionList);
    addWorkingColumns(info.DateList);
    const Analysis analysis(info.document, appFolder, langId, textLanguage);
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
