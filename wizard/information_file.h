// update.ini as the analysis page takes it: read once into memory (bounded, never through a
// link), the vendor's signature checked over exactly those bytes, and only then parsed. The
// analysis and the plan read the parsed document, never the file again, so what is analysed
// is what was verified.
//
// Under a key (update.pub beside the program) the signed information must also give the
// SHA-256 digest of every file it can make the wizard download, run or open: Sha256<n> of
// every File<n> in [Ver] and [Time]; UpdateSha256 when Update=1; MoveSha256 when Update=1
// with a MoveVer; UpSha256 when ForceUp=1. Otherwise a mirror or anyone on the path could
// swap those files under a genuine signature. Without a key digests stay optional.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "publishing/signed_info.h"
#include "wizard/profile_file.h"
#include "wizard/update_ini_file.h"

namespace upd::wizard {

enum class InformationRefusal {
    None,
    Unreadable,      // not a regular file we can read (a link, a folder, a read error)
    TooLarge,        // above kMaxProfileFileBytes
    NotSigned,       // a key is installed and no signature came
    BadSignature,    // a malformed signature, or one that does not match
    MissingDigests,  // signed, but a file it names has no digest
};

struct LoadedInformation {
    ProfileDocument document;  // the verified bytes, parsed; empty when refused
    UpdateIniFile ini;         // the keys of `document`, read once (readUpdateIni)
    InformationRefusal refusal = InformationRefusal::None;
    std::string reason;  // English detail of a refusal, for the message's second line and logs

    explicit operator bool() const { return refusal == InformationRefusal::None; }
};

// `signature` is the .sig file's content (nullopt when none came); `key` nullopt when no key
// is installed. A file that is missing reads as empty, as the profile reader has it.
LoadedInformation loadUpdateInformation(const std::string& path,
                                        const std::optional<PublicKey>& key,
                                        const std::optional<std::string>& signature);

// The digest keys signed information lacks, as "[Ver] Sha256<n>" or "[Update] UpdateSha256",
// in file order. Empty when every file it can lead to is digested. The rule is
// missingDigestKeys (update_ini_file.h), which updtool lint applies too.
std::vector<std::string> missingDigests(const UpdateIniFile& ini);

}  // namespace upd::wizard
