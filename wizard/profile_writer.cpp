#include "wizard/profile_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/code_page.h"
#include "platform/write_all.h"
#include "wizard/profile_cache.h"
#include "wizard/profile_document.h"

namespace upd::wizard::profile_detail {
namespace {

std::string errorText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

IniWriteResult failure(IniWriteError error, std::string message) {
    return IniWriteResult{error, std::move(message)};
}

// The file that a write must replace: the one a symbolic link names, not the link.
std::string writeTarget(const std::string& file) {
    struct stat info {};
    if (::lstat(file.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(file.c_str(), resolved) != nullptr) {
            return resolved;
        }
    }
    return file;
}

// The profile files keep their content when only the folder's flush fails.
IniWriteResult replaceFile(const std::string& target, std::string_view bytes, mode_t mode,
                           struct stat& written) {
    const ReplaceOutcome outcome = replaceFileWhole(target, bytes, mode, &written);
    switch (outcome.failed) {
        case ReplaceOutcome::Step::Create:
            return failure(IniWriteError::WriteFailed, "cannot create a temporary file in " +
                                                           outcome.folder + ": " +
                                                           errorText(outcome.error));
        case ReplaceOutcome::Step::Write:
            return failure(IniWriteError::WriteFailed,
                           "cannot write " + target + ": " + errorText(outcome.error));
        case ReplaceOutcome::Step::FlushFolder:
        case ReplaceOutcome::Step::None:
            break;
    }
    return {};
}

}  // namespace

ReplaceOutcome replaceFileWhole(const std::string& target, std::string_view bytes, mode_t mode,
                                struct stat* written) {
    namespace fs = std::filesystem;
    ReplaceOutcome outcome;
    const fs::path targetPath(target);
    fs::path folder = targetPath.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    outcome.folder = folder.string();
    std::string temporary = (folder / ("." + targetPath.filename().string() + ".XXXXXX")).string();
    FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        return {ReplaceOutcome::Step::Create, errno, outcome.folder};
    }
    // mkostemp's 0600 is reduced by the umask; set the bits explicitly either way.
    bool ok = ::fchmod(fd.get(), mode) == 0 && platform::writeAll(fd.get(), bytes) &&
              ::fsync(fd.get()) == 0 && (written == nullptr || ::fstat(fd.get(), written) == 0);
    int error = ok ? 0 : errno;
    if (!fd.close() && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return {ReplaceOutcome::Step::Write, error, outcome.folder};
    }
    // Until the folder is flushed the rename itself may not survive a crash.
    FileDescriptor folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.get() < 0 || ::fsync(folderFd.get()) != 0) {
        return {ReplaceOutcome::Step::FlushFolder, errno, outcome.folder};
    }
    return outcome;
}

IniWriteResult writeIniValues(const std::string& section, std::span<const IniEntry> entries,
                              const std::string& file, IniFileAccess access) {
    const bool secret = access == IniFileAccess::Private;
    // A private file is replaced where it is named: the rename takes a link's own place. It
    // is never opened through a link, nor waited on: a named pipe would block the open.
    const int openFlags = secret ? O_NOFOLLOW | O_NONBLOCK : 0;
    const std::string target = secret ? file : writeTarget(file);
    FileContent content;
    ReadStatus status = readWholeFile(target, content, openFlags);
    if (secret && status == ReadStatus::Failed && content.error == ELOOP) {
        status = ReadStatus::Missing;  // a link: replaced by a new file, what it names unread
    }
    if (status == ReadStatus::Failed) {
        return failure(IniWriteError::ReadFailed,
                       "cannot read " + target + ": " + errorText(content.error));
    }
    if (status == ReadStatus::TooLarge) {
        return failure(IniWriteError::TooLarge, target + " is larger than a profile file can be");
    }
    const bool isNew = status == ReadStatus::Missing;
    const std::string original = std::move(content.bytes);
    ProfileDocument document = ProfileDocument::parse(original, platform::systemCodePage());
    IniWriteResult refused;
    bool anySet = false;
    for (const IniEntry& entry : entries) {
        IniWriteResult result = document.setValue(section, entry.key, entry.value);
        anySet = anySet || bool(result);
        if (!result && refused) {
            refused = std::move(result);
        }
    }
    if (!anySet) {
        return refused;
    }
    // A new file, and a private one whatever its bits were, is for its owner's eyes only.
    const mode_t mode = isNew || secret ? S_IRUSR | S_IWUSR : content.mode & 07777;
    if (!isNew && document.bytes() == original && (content.mode & 07777) == mode) {
        if (content.stable) {
            profileCache().remember(file, std::move(content.fd), content.stamp,
                                    std::move(document));
        }
        return refused;
    }
    struct stat written {};
    if (IniWriteResult result = replaceFile(target, document.bytes(), mode, written); !result) {
        return result;
    }
    // Keep what was written for the reads that follow, if the file is still the one written.
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | openFlags));
    struct stat info {};
    if (fd.get() >= 0 && ::fstat(fd.get(), &info) == 0 && info.st_dev == written.st_dev &&
        info.st_ino == written.st_ino) {
        profileCache().remember(file, std::move(fd), stampOf(info), std::move(document));
    } else {
        profileCache().forget(file);
    }
    return refused;
}

}  // namespace upd::wizard::profile_detail
