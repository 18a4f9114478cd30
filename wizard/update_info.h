// The update information file (update.ini) as the analysis page reads it: the files named
// in [Ver] and [Time] with their announced versions or dates and descriptions, and the
// What's-new text. Toolkit-free, so the page, updtool and unattended runs share it.
//
//   [Update]  Ver, Time, ContentsEN / ContentsCHS (items separated by ","), ForceUp, UpURL,
//             Update, UpdateVer, MoveVer (the last five are the plan's: download_plan.h)
//   [Ver]     Num, File<n>, Ver<n>       files checked by version
//   [Time]    Num, File<n>, Date<n>      files checked by date
//             Sha256<n> in both: the file's SHA-256 (lower-case hex), checked after download
//   [Update]  UpSha256, UpdateSha256, MoveSha256: those of the package and the updater's files
//   [Descript] EXT<tag> or EXT           description of files with extension EXT
//   (<tag>: the language's, "EN" or "CHS"; see platform::languageProfile)
// The names are those of update_ini_schema.h, read through update_ini_file.h.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "controls/list_model.h"
#include "platform/language.h"
#include "wizard/profile_file.h"
#include "wizard/update_ini_file.h"

namespace upd::wizard {

// The header line "V <ver> (<time>)", then one line per item of `contents` up to and
// including its first empty item, each after a CR LF: "a,,b" gives the header, an empty
// line, "a" and one more empty line.
std::string whatsNewText(std::string_view version, std::string_view releaseDate,
                         std::string_view contents);

struct UpdateInformation {
    // The information as read (and, under a key, verified), and its keys read from it once:
    // the plan reads its [Update] keys from `ini`, never from the file again.
    ProfileDocument document;
    UpdateIniFile ini;
    // Columns "FileName", "Ver", "Descript"; one row per File<n>, key = the name, sub-item 1
    // the announced version (or date), sub-item 2 the description.
    controls::ListModel VersionList;
    controls::ListModel DateList;
    // Row i's Sha256<n> (lower-case hex) or "" at index i - 1, beside each list.
    std::vector<std::string> VersionDigests;
    std::vector<std::string> DateDigests;
    // The What's-new text, or message 119 when the file could not be analysed.
    std::string text;
    // Nothing when the file was analysed; otherwise why not (English, for diagnostics; the
    // user sees message 119). Rows added before the failure stay in the lists.
    std::optional<std::string> failure;

    explicit operator bool() const { return !failure; }
};

// Analyses `document` (see information_file.h for how it is read). `langId` picks the contents and
// descriptions (the system language); `textLanguage` the wizard's own texts (119, 127). Every file
// name must name a file under `appFolder`: an empty, absolute, drive-letter, UNC or ".." name is
// refused, as are names the lists refuse (a repeated name within a section, a name that reads as a
// number), names with a control byte, names the installer keeps for itself (installerOwnsName), a
// missing, empty or non-numeric Num, and a Num above 32767.
UpdateInformation analyseUpdateInformation(ProfileDocument document, const std::string& appFolder,
                                           platform::LangId langId, platform::LangId textLanguage);
// The same for information already read into its keys (LoadedInformation::ini), so that the
// file is read once.
UpdateInformation analyseUpdateInformation(ProfileDocument document, UpdateIniFile ini,
                                           const std::string& appFolder, platform::LangId langId,
                                           platform::LangId textLanguage);

}  // namespace upd::wizard
