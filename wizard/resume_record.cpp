#include "wizard/resume_record.h"

#include <unistd.h>

#include <array>

#include "net/http_response.h"
#include "platform/read_whole_file.h"
#include "publishing/file_digest.h"
#include "wizard/profile_document.h"
#include "wizard/profile_file.h"

namespace upd::wizard {
namespace {

constexpr std::string_view kSection = "Resume";
constexpr std::string_view kRowKey = "Row";
constexpr std::string_view kValidatorKey = "Validator";
constexpr std::string_view kRecordPrefix = ".upd-resume-";
// Two short values: anything larger was not written by us.
constexpr std::uint64_t kMaxRecordBytes = 1024;

}  // namespace

std::string rowIdentity(std::string_view url, std::string_view digest) {
    std::string text(url);
    text += '\n';
    text += digest;
    return sha256Hex(text);
}

std::string resumeRecordPath(const std::string& partialPath) {
    const std::size_t slash = partialPath.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    return partialPath.substr(0, nameStart) + std::string(kRecordPrefix) +
           partialPath.substr(nameStart);
}

std::optional<ResumeRecord> readResumeRecord(const std::string& partialPath) {
    platform::ReadResult read = platform::readWholeFile(
        resumeRecordPath(partialPath), kMaxRecordBytes, platform::LinkPolicy::NoFollow);
    if (!read.bytes) {
        return std::nullopt;
    }
    // Both values are ASCII, as written: any code page reads them alike.
    const ProfileDocument document = ProfileDocument::parse(std::move(*read.bytes), 1252);
    ResumeRecord record{.row = document.value(kSection, kRowKey),
                        .validator = document.value(kSection, kValidatorKey)};
    if (!isSha256Hex(record.row) || !net::isCarriableValidator(record.validator)) {
        return std::nullopt;
    }
    return record;
}

bool writeResumeRecord(const std::string& partialPath, const ResumeRecord& record) {
    if (!net::isCarriableValidator(record.validator)) {
        return false;
    }
    // The reader drops one pair of quotes around a value, and an entity tag is quoted: the
    // outer pair keeps it whole.
    const std::string validator = "'" + record.validator + "'";
    const std::array<IniEntry, 2> entries{IniEntry{kRowKey, record.row},
                                          IniEntry{kValidatorKey, validator}};
    return static_cast<bool>(tryWriteIniValues(
        std::string(kSection), entries, resumeRecordPath(partialPath), IniFileAccess::Private));
}

void removePartialDownload(const std::string& partialPath) {
    ::unlink(partialPath.c_str());
    ::unlink(resumeRecordPath(partialPath).c_str());
}

}  // namespace upd::wizard
