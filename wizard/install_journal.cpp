#include "wizard/install_journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/read_whole_file.h"
#include "platform/update_path.h"
#include "platform/write_all.h"
#include "wizard/file_copy.h"

namespace upd::wizard::install_detail {
namespace {

// The journal, as written before the first change and rewritten once at the commit. Fields
// are separated by blanks; bytes of names that could end a field are written as %XX.
//
//   upd-install-journal 2
//   token 9f3c0a51d2e47b68              <- names the temporary copies beside the targets
//   state planned                       <- "committed" once every file is in place
//   entry sub%20x\a.dll sub%20x/a.dll sub%20x/a.dll 1 2049 1311772 2049 1311990
//         (name, source under update/, target under APP/, existed, device and inode of the
//          old target, device and inode of the download: what the target holds once moved)
//   folder sub%20x                      <- created for the targets, parents first
//   end
//
// It holds no progress: what has been done is read from the files themselves. A target whose
// device and inode differ from the recorded ones holds the new file (made while the old one
// still existed, so it cannot have the old one's inode); a source missing from the update
// folder was moved to its target. A record of each step would cost an fsync per file and
// could still lag one step behind the files.
// Version 1 entries lacked the download's identity: a forged one could have a rollback move
// any file of the folder, so such a journal is set aside like any unusable one.
constexpr std::string_view kJournalMagic = "upd-install-journal 2";
// A journal lists one line per file; anything this large is not one of ours.
constexpr std::int64_t kMaxJournalBytes = std::int64_t{64} << 20;

std::string escapeField(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= ' ' || byte == '%' || byte == 0x7F) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    return out.empty() ? "%" : out;  // a lone '%' stands for an empty field
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::optional<std::string> unescapeField(std::string_view text) {
    if (text == "%") {
        return std::string();
    }
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::string journalText(const Journal& journal) {
    std::string text = std::string(kJournalMagic) + "\ntoken " + journal.token + "\nstate " +
                       (journal.committed ? "committed" : "planned") + "\n";
    for (const Step& step : journal.steps) {
        text += "entry " + escapeField(step.name) + ' ' + escapeField(step.source) + ' ' +
                escapeField(step.target) + ' ' + (step.existed ? '1' : '0') + ' ' +
                std::to_string(step.device) + ' ' + std::to_string(step.inode) + ' ' +
                std::to_string(step.newDevice) + ' ' + std::to_string(step.newInode) + '\n';
    }
    for (const std::string& folder : journal.folders) {
        text += "folder " + escapeField(folder) + '\n';
    }
    return text + "end\n";
}

std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos <= line.size()) {
        std::size_t end = line.find(' ', pos);
        if (end == std::string_view::npos) {
            end = line.size();
        }
        fields.push_back(line.substr(pos, end - pos));
        pos = end + 1;
    }
    return fields;
}

std::optional<std::uint64_t> parseNumber(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

// A relative path read back from the journal, accepted only when it stays under `base` in
// the form this file writes, names none of the installer's own files, and does not lead out
// through a link: even a forged journal cannot make a recovery touch anything outside the
// application folder.
std::optional<std::string> checkedRelative(const std::string& base, std::string_view field) {
    std::optional<std::string> relative = unescapeField(field);
    if (!relative) {
        return std::nullopt;
    }
    const platform::UpdatePath path = platform::hostPathUnder(base, *relative);
    if (!path || path.path != base + *relative || installerOwnsName(*relative) ||
        !staysInside(base, parentOf(*relative))) {
        return std::nullopt;
    }
    return relative;
}

std::optional<Journal> parseJournal(const Layout& layout, std::string_view text) {
    std::vector<std::string_view> lines;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            return std::nullopt;  // every line ends with '\n', "end" included
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    if (lines.size() < 4 || lines.front() != kJournalMagic || lines.back() != "end") {
        return std::nullopt;
    }
    Journal journal;
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        const std::vector<std::string_view> f = splitFields(lines[i]);
        if (i == 1 && f.size() == 2 && f[0] == "token" && f[1].size() == 16 &&
            f[1].find_first_not_of("0123456789abcdef") == std::string_view::npos) {
            journal.token = f[1];
        } else if (i == 2 && f.size() == 2 && f[0] == "state" &&
                   (f[1] == "planned" || f[1] == "committed")) {
            journal.committed = f[1] == "committed";
        } else if (i > 2 && f.size() == 9 && f[0] == "entry" && (f[4] == "0" || f[4] == "1")) {
            const auto name = unescapeField(f[1]);
            const auto source = checkedRelative(layout.update, f[2]);
            const auto target = checkedRelative(layout.app, f[3]);
            const auto device = parseNumber(f[5]);
            const auto inode = parseNumber(f[6]);
            const auto newDevice = parseNumber(f[7]);
            const auto newInode = parseNumber(f[8]);
            if (!name || !source || !target || inUpdateFolder(*target) || !device || !inode ||
                !newDevice || !newInode) {
                return std::nullopt;
            }
            journal.steps.push_back(
                {*name, *source, *target, f[4] == "1", *device, *inode, *newDevice, *newInode});
        } else if (i > 2 && f.size() == 2 && f[0] == "folder") {
            auto folder = checkedRelative(layout.app, f[1]);
            if (!folder || inUpdateFolder(*folder)) {
                return std::nullopt;
            }
            journal.folders.push_back(std::move(*folder));
        } else {
            return std::nullopt;
        }
    }
    return journal;
}

}  // namespace

bool staysInside(const std::string& base, const std::string& relative) {
    char* root = ::realpath(base.c_str(), nullptr);
    if (root == nullptr) {
        return false;
    }
    const std::string realRoot = std::string(root) + "/";
    std::free(root);
    std::string path = base + relative;
    while (path.size() >= base.size()) {
        char* real = ::realpath(path.c_str(), nullptr);
        if (real != nullptr) {
            const std::string found = std::string(real) + "/";
            std::free(real);
            return found.compare(0, realRoot.size(), realRoot) == 0;
        }
        if (errno != ENOENT) {
            return false;
        }
        while (!path.empty() && path.back() == '/') {
            path.pop_back();
        }
        path = parentOf(path);
    }
    return false;
}

bool inUpdateFolder(const std::string& target) {
    return target.substr(0, target.find('/')) == kUpdateFolderName;
}

std::optional<InstallFailure> writeJournal(const Layout& layout, const Journal& journal) {
    const std::string text = journalText(journal);
    // A new file, never through a link planted at its name: whatever lies there goes first.
    ::unlink(layout.journalTemp.c_str());
    Fd fd(::open(layout.journalTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                 0600));
    bool ok = fd.get() >= 0 && platform::writeAll(fd.get(), text) && ::fsync(fd.get()) == 0;
    int error = ok ? 0 : errno;
    if (!fd.close() && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(layout.journalTemp.c_str(), layout.journal.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(layout.journalTemp.c_str());
        return failureOf("", error);
    }
    if (const int synced = syncFolders({layout.update}); synced != 0) {
        return failureOf("", synced);
    }
    return std::nullopt;
}

LoadedJournal loadJournal(const Layout& layout) {
    LoadedJournal loaded;
    // Never through a link, never waiting on a pipe, never a folder or a huge file.
    const platform::ReadResult file =
        platform::readWholeFile(layout.journal, static_cast<std::uint64_t>(kMaxJournalBytes),
                                platform::LinkPolicy::NoFollow);
    if (!file.bytes && file.missing) {
        return loaded;
    }
    loaded.found = true;
    if (file.bytes) {
        loaded.journal = parseJournal(layout, *file.bytes);
    }
    if (!loaded.journal) {
        loaded.failure =
            failureOf("", file.bytes ? "the installation journal " + layout.journal + " is damaged"
                                     : file.error);
    }
    return loaded;
}

}  // namespace upd::wizard::install_detail
