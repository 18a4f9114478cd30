// The time the wizard spends turning fetched patches and compressed files into the files they
// stand for, for tools/bench/patch_updates.sh: every PATCH is applied to its BASE with
// upd::publishing::ZstdApplier, as the wizard applies it, each into a new file of a folder of
// its own under $TMPDIR (as an installation holds all its results at once). The whole list is
// applied five times; the median is reported, so that one slow pass (a page cache filling,
// another process) does not set the figure.
//
// usage: patch_apply_bench BASE PATCH SIZE [BASE PATCH SIZE...]
// BASE "" for a compressed file (there is no installed file to refer to); SIZE the length in
// bytes the result must have. Prints one line, the total bytes of the results and the median
// wall time of applying them all in seconds: "2156544 0.003120". Exit status: 0, 1 when an
// apply fails (why on standard error), 2 for a command-line error.
#include <stdlib.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "net/temp_file.h"
#include "platform/monotonic_clock.h"
#include "publishing/zstd_codec.h"

namespace {

constexpr const char* kUsage =
    "usage: patch_apply_bench BASE PATCH SIZE [BASE PATCH SIZE...]\n"
    "  BASE \"\" for a compressed file; SIZE the result's length in bytes\n";
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kRuns = 5;

struct Job {
    std::string base;
    std::string patch;
    std::int64_t size{};
};

void note(const std::string& text) {
    std::fprintf(stderr, "patch_apply_bench: %s\n", text.c_str());
}

std::optional<std::int64_t> parseSize(std::string_view text) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc{} || stop != end || value < 0) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::vector<Job>> parseJobs(int argc, char** argv) {
    if (argc < 4 || (argc - 1) % 3 != 0) {
        return std::nullopt;
    }
    std::vector<Job> jobs;
    for (int i = 1; i < argc; i += 3) {
        const std::optional<std::int64_t> size = parseSize(argv[i + 2]);
        if (!size || *argv[i + 1] == '\0') {
            return std::nullopt;
        }
        jobs.push_back({argv[i], argv[i + 1], *size});
    }
    return jobs;
}

// A folder of its own under $TMPDIR, removed with what it holds at the end, whatever happened.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern = upd::net::temporaryFolder() + "patch_apply_bench.XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            m_path = pattern;
        }
    }
    ~ScratchFolder() {
        if (!m_path.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(m_path, ignored);
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return m_path; }

  private:
    std::string m_path;
};

struct Pass {
    std::int64_t nanoseconds{};
    std::int64_t bytes{};
};

// One pass over every job, then the results measured and removed (outside the time), so that
// every pass creates its files anew as the first did. Nothing when an apply fails; it says why.
std::optional<Pass> applyAll(const std::vector<Job>& jobs, const std::string& folder) {
    std::vector<std::string> outputs;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        outputs.push_back(folder + "/" + std::to_string(i));
    }
    Pass pass;
    const std::int64_t start = upd::platform::monotonicNs();
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        upd::publishing::ZstdApplier applier(jobs[i].patch, jobs[i].base, outputs[i], jobs[i].size);
        if (!applier.run()) {
            note(jobs[i].patch + ": " + applier.error());
            return std::nullopt;
        }
    }
    pass.nanoseconds = upd::platform::monotonicNs() - start;
    for (const std::string& output : outputs) {
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(output, error);
        if (error) {
            note(output + ": " + error.message());
            return std::nullopt;
        }
        pass.bytes += static_cast<std::int64_t>(size);
        std::filesystem::remove(output, error);
    }
    return pass;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<std::vector<Job>> jobs = parseJobs(argc, argv);
    if (!jobs) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    const ScratchFolder scratch;
    if (scratch.path().empty()) {
        note("cannot make a folder in " + upd::net::temporaryFolder());
        return kExitFailure;
    }
    std::vector<std::int64_t> times;
    std::int64_t bytes = 0;
    for (int run = 0; run < kRuns; ++run) {
        const std::optional<Pass> pass = applyAll(*jobs, scratch.path());
        if (!pass) {
            return kExitFailure;
        }
        times.push_back(pass->nanoseconds);
        bytes = pass->bytes;
    }
    std::sort(times.begin(), times.end());
    std::printf("%lld %.6f\n", static_cast<long long>(bytes),
                static_cast<double>(times[times.size() / 2]) / 1e9);
    return 0;
}
