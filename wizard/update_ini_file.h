// update.ini read once into a plain struct: every key the wizard acts on, by the names of
// update_ini_schema.h, as the profile reader gives it and with the line it stands on. The
// analysis (update_info.h), the plan (download_plan.h), the check of a signed set
// (information_file.h) and updtool's lint all read the file through here, so they cannot
// disagree about what it says.
//
// Reading never fails: an absent key is an IniValue that is not `present`, with empty text.
// Judging the values (a Num that is no number, a name that leaves the folder) is the
// callers' part; only the bound on the entries read is applied here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "wizard/profile_document.h"

namespace upd::wizard {

struct IniValue {
    std::string text;      // as ProfileDocument::find gives it; "" when absent
    int line = 0;          // 1-based line of the key; 0 when absent
    bool present = false;  // the key is in the file (its text may still be empty)
};

struct UpdateSection {
    int line = 0;  // of the [Update] header; 0 when there is none
    IniValue forceUp, upUrl, update, updateVer, moveVer, upSha256, updateSha256, moveSha256;
    IniValue upSize, updateSize, moveSize;
    // The updater and its helper compressed: the digest and size of "<name>.zst".
    IniValue updateZstSha256, updateZstSize, moveZstSha256, moveZstSize;
    IniValue serial, expires;          // of signed information
    IniValue ver, time;                // the release's version and date, shown in What's new
    IniValue contentsEn, contentsChs;  // Contents<tag> of the two languages

    // Contents<tag>: `tag` is a platform::LanguageProfile tag ("EN" or "CHS"); another tag
    // reads as an absent key.
    const IniValue& contents(std::string_view tag) const;
};

// One patch of an entry: PatchBase<n>_<k>, PatchSha256<n>_<k>, PatchSize<n>_<k>.
struct PatchEntry {
    IniValue base, sha256, size;
};

struct FileEntry {
    IniValue file;                // File<n>
    IniValue value;               // Ver<n> in [Ver], Date<n> in [Time]
    IniValue sha256;              // Sha256<n>
    IniValue size;                // Size<n>
    IniValue zstSha256, zstSize;  // ZstSha256<n>, ZstSize<n>
    // k = 1 .. kMaxPatches at index k - 1; an absent patch has none of its keys present.
    std::vector<PatchEntry> patches;
};

struct FileSection {
    std::string_view name;         // kVerSection or kTimeSection
    std::string_view valuePrefix;  // kVersionPrefix or kDatePrefix
    int line = 0;                  // of the header; 0 when there is none
    IniValue num;
    // Num as a whole number (app::wholeNumberFromText: "1.4" is 1, " 2" is 2); nothing when
    // it is not one.
    std::optional<std::int64_t> count;
    // Entries 1 .. min(count, kMaxFileEntries), at index n - 1; none when count is below 1.
    std::vector<FileEntry> entries;
};

struct UpdateIniFile {
    UpdateSection update;
    FileSection ver;
    FileSection time;
};

UpdateIniFile readUpdateIni(const ProfileDocument& document);

// The [Descript] text of files with `extension` (upper case, as GetExtension gives it) in the
// language of `tag`: "<EXT><tag>" first, then "<EXT>"; "" when neither has a text.
std::string descriptionText(const ProfileDocument& document, std::string_view extension,
                            std::string_view tag);

// A 16-bit flag of [Update] (ForceUp, Update) as the plan reads it: "1", " 1" and "1.0" all
// give 1.
enum class FlagProblem {
    None,
    NotANumber,  // "" and "yes" too: the plan fails with a type mismatch
    OutOfRange,  // beyond -32768 .. 32767: the plan fails with an overflow
};
struct FlagReading {
    std::optional<std::int16_t> value;  // nothing when `problem` is not None
    FlagProblem problem = FlagProblem::None;
};
FlagReading readFlag(const IniValue& flag);

// A digest the file must give, when signed, for a file it can make the wizard download, run or
// open: Sha256<n> of every entry of [Ver] and [Time]; UpdateSha256 when Update=1; MoveSha256
// when Update=1 with a MoveVer; UpSha256 when ForceUp=1.
struct MissingDigest {
    std::string_view section;  // kUpdateSection, kVerSection or kTimeSection
    std::string key;           // "UpSha256", "Sha2561"
    std::int64_t entry = 0;    // n of Sha256<n>; 0 in [Update]

    std::string text() const;  // "[Ver] Sha2561"
};

// Those the file lacks: UpSha256, UpdateSha256, MoveSha256, then [Ver]'s and [Time]'s by n.
std::vector<MissingDigest> missingDigestKeys(const UpdateIniFile& file);

}  // namespace upd::wizard
