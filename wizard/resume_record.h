// The record kept beside a partial download in the update folder: which row's bytes the file
// holds, and the server's validator for them. A later start, in this run or after a restart,
// resumes the file only for the same row of the same update, and asks the server with
// "If-Range" whether its file is still the one those bytes came from.
//
// The record is "<folder>/.upd-resume-<file name>", a name no update set may announce; it is
// written whole (a file beside it, then a rename), 0600, never through a symbolic link, and
// read as hostile input: bounded, not through a link, and used only when every value is sound.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace upd::wizard {

struct ResumeRecord {
    // rowIdentity of the row whose bytes the partial file holds.
    std::string row;
    // What the server's reply named for those bytes (ETag or Last-Modified); "" for none.
    std::string validator;
};

// The row's download as a whole: the URL it is fetched from and its announced digest (""
// for none). A file left by another update set, or fetched from another server, differs.
std::string rowIdentity(std::string_view url, std::string_view digest);

// "<folder>/.upd-resume-<name>" for "<folder>/<name>".
std::string resumeRecordPath(const std::string& partialPath);

// The record beside `partialPath`; nullopt when there is none or it is not sound.
std::optional<ResumeRecord> readResumeRecord(const std::string& partialPath);

// False when it could not be written: the partial file then cannot be resumed by a later run.
bool writeResumeRecord(const std::string& partialPath, const ResumeRecord& record);

// Removes the partial file and its record (a link at either path is removed, never followed).
void removePartialDownload(const std::string& partialPath);

}  // namespace upd::wizard
