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
//
// Under a key it must also say where it stands in time (release_serial.h): a valid Serial no
// lower than the highest this application folder has accepted, and an Expires not yet past.
// Otherwise a mirror could serve an older signed file forever. Without a key both keys are
// read when present and otherwise ignored.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "publishing/signed_info.h"
#include "wizard/profile_file.h"
#include "wizard/release_serial.h"
#include "wizard/update_ini_file.h"

namespace upd::wizard {

enum class InformationRefusal {
    None,
    Unreadable,          // not a regular file we can read (a link, a folder, a read error)
    TooLarge,            // above kMaxProfileFileBytes
    NotSigned,           // a key is installed and no signature came
    BadSignature,        // a malformed signature, or one that does not match
    MissingDigests,      // signed, but a file it names has no digest
    BadStamp,            // signed, but its Serial or Expires is missing or malformed
    Expired,             // signed, but its Expires has passed
    OlderSerial,         // signed, but older than information this folder accepted before
    SerialFileUnusable,  // the record of the highest accepted Serial cannot be read
    SerialNotRecorded,   // accepted, but its Serial could not be recorded
};

struct LoadedInformation {
    ProfileDocument document;  // the verified bytes, parsed; empty when refused
    UpdateIniFile ini;         // the keys of `document`, read once (readUpdateIni)
    InformationRefusal refusal = InformationRefusal::None;
    std::string reason;  // English detail of a refusal, for the message's second line and logs
    // Under a key: the Serial and Expires (seconds since 1970, UTC) of what was accepted.
    // `expires` is also set when refused as Expired, for the message.
    std::optional<std::int64_t> serial;
    std::optional<std::int64_t> expires;

    explicit operator bool() const { return refusal == InformationRefusal::None; }
};

// What signed information is judged against besides its signature.
struct ReleaseHistory {
    AcceptedSerial accepted;  // readSerialFile of the folder's update.serial
    std::int64_t now = 0;     // the time, seconds since 1970 (UTC), that Expires must not pass
};

// `signature` is the .sig file's content (nullopt when none came); `keys` empty when no key is
// installed, and `history` then unused. A file that is missing reads as empty, as the profile
// reader has it. Under a key the refusals come in this order: the signature, the digests,
// Serial and Expires' form, expiry, an unusable serial record, an older Serial.
LoadedInformation loadUpdateInformation(const std::string& path, std::span<const PublicKey> keys,
                                        const std::optional<std::string>& signature,
                                        const ReleaseHistory& history);

// Without a key (updtool plan, the benchmark): nothing is asked of the signature, the digests
// or the Serial.
LoadedInformation loadUpdateInformation(const std::string& path, std::nullopt_t, std::nullopt_t);

// Serial and Expires of `update` judged as a signed file's, against `accepted` (an unusable
// record refuses; one with nothing accepted yet takes any Serial) and `now`: None with
// `serial` and `expires` set, or the refusal with its reason. updtool verify judges with an
// empty record.
struct StampCheck {
    InformationRefusal refusal = InformationRefusal::None;
    std::string reason;
    std::optional<std::int64_t> serial;
    std::optional<std::int64_t> expires;
};
StampCheck checkReleaseStamp(const UpdateSection& update, const AcceptedSerial& accepted,
                             std::int64_t now);

// Keeps the Serial of accepted signed information as the highest this folder has accepted, in
// update.serial at `serialFile`, before anything is downloaded. When it cannot be kept the
// information becomes refused (SerialNotRecorded): taken unrecorded, an older copy could pass
// on the next run. Does nothing for refused information or information without a Serial.
void recordAcceptedSerial(LoadedInformation& loaded, const std::string& serialFile);

// The digest keys signed information lacks, as "[Ver] Sha256<n>" or "[Update] UpdateSha256",
// in file order. Empty when every file it can lead to is digested. The rule is
// missingDigestKeys (update_ini_file.h), which updtool lint applies too.
std::vector<std::string> missingDigests(const UpdateIniFile& ini);

}  // namespace upd::wizard
