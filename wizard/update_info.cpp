#include "wizard/update_info.h"

#include "app/string_table.h"
#include "net/ascii_case.h"
#include "platform/printable_text.h"
#include "platform/update_path.h"
#include "publishing/file_digest.h"
#include "wizard/file_version.h"
#include "wizard/installation.h"
#include "wizard/profile_file.h"
#include "wizard/update_ini_schema.h"

namespace upd::wizard {
namespace {

constexpr int kMessageCannotAnalyse = 119;
constexpr int kUnknownType = 127;

void addWorkingColumns(controls::ListModel& list) {
    (void)list.addColumn("FileName", "FileName", 2760);
    (void)list.addColumn("Ver", "Ver", 1650);
    (void)list.addColumn("Descript", "Descript", 1650);
}

class Analysis {
  public:
    Analysis(const ProfileDocument& document, const UpdateIniFile& ini,
             const std::string& appFolder, platform::LangId langId, platform::LangId textLanguage)
        : m_document(document),
          m_ini(ini),
          m_appFolder(appFolder),
          m_tag(platform::languageProfile(langId).tag),
          m_textLanguage(textLanguage) {}

    // False, with the reason in `failure`, at the first entry that cannot be taken.
    bool readSection(const FileSection& section, controls::ListModel& list,
                     std::vector<std::string>& digests, std::string& failure) const {
        const std::string header = "[" + std::string(section.name) + "] ";
        const std::optional<std::int64_t>& num = section.count;
        if (!num || *num < INT32_MIN || *num > INT32_MAX) {
            failure =
                header + std::string(kNumKey) + " is not a number: \"" + section.num.text + "\"";
            return false;
        }
        if (*num > kMaxFileEntries) {
            failure = header + std::string(kNumKey) + " is above 32767";
            return false;
        }
        // The entries are 1 .. Num here: Num is at most kMaxFileEntries.
        for (std::size_t i = 0; i < section.entries.size(); ++i) {
            const FileEntry& entry = section.entries[i];
            const auto n = static_cast<std::int64_t>(i + 1);
            const std::string& name = entry.file.text;
            const platform::UpdatePath local = platform::hostPathUnder(m_appFolder, name);
            if (!local) {
                failure = header + fileKey(n) + " \"" + platform::printableText(name) +
                          "\": " + platform::describe(local.error);
                return false;
            }
            // A downloaded "install.journal" would be replayed as the installer's own.
            if (installerOwnsName(name)) {
                failure =
                    header + fileKey(n) + " \"" + name + "\": the name is the installer's own";
                return false;
            }
            if (const controls::ListError error = list.addRow(name);
                error != controls::ListError::None) {
                failure = header + fileKey(n) + " \"" + name +
                          "\": " + std::string(controls::listErrorText(error));
                return false;
            }
            const int row = list.rowCount();
            (void)list.setSubItem(row, 1, entry.value.text);
            (void)list.setSubItem(row, 2, description(name));
            // A digest that is there must be one: a wrong one would fail every download.
            const std::string& digest = entry.sha256.text;
            if (!digest.empty() && !isSha256Hex(digest)) {
                failure = header + sha256Key(n) + " is not 64 lower-case hexadecimal digits";
                return false;
            }
            digests.push_back(digest);
        }
        return true;
    }

    // Looked up under "EXE<tag>" first, then "EXE", and shown exactly as read.
    std::string description(const std::string& name) const {
        const std::string text =
            descriptionText(m_document, net::asciiUpper(GetExtension(name)), m_tag);
        return text.empty() ? app::LoadResString(kUnknownType, m_textLanguage) : text;
    }

    std::string whatsNew() const {
        return whatsNewText(m_ini.update.ver.text, m_ini.update.time.text,
                            m_ini.update.contents(m_tag).text);
    }

  private:
    const ProfileDocument& m_document;
    const UpdateIniFile& m_ini;
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
    UpdateIniFile ini = readUpdateIni(document);
    return analyseUpdateInformation(std::move(document), std::move(ini), appFolder, langId,
                                    textLanguage);
}

UpdateInformation analyseUpdateInformation(ProfileDocument document, UpdateIniFile ini,
                                           const std::string& appFolder, platform::LangId langId,
                                           platform::LangId textLanguage) {
    UpdateInformation info;
    info.document = std::move(document);
    info.ini = std::move(ini);
    addWorkingColumns(info.VersionList);
    addWorkingColumns(info.DateList);
    const Analysis analysis(info.document, info.ini, appFolder, langId, textLanguage);
    std::string failure;
    if (!analysis.readSection(info.ini.ver, info.VersionList, info.VersionDigests, failure) ||
        !analysis.readSection(info.ini.time, info.DateList, info.DateDigests, failure)) {
        info.failure = failure;
        info.text = app::LoadResString(kMessageCannotAnalyse, textLanguage);
        return info;
    }
    info.text = analysis.whatsNew();
    return info;
}

}  // namespace upd::wizard
