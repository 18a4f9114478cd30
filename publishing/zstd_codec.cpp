#include "publishing/zstd_codec.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <initializer_list>
#include <system_error>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/write_all.h"

namespace upd::publishing {

// What ZstdApplier::State holds: in a named namespace, since the state has linkage and must
// not hold types of an anonymous one (a unity build would warn).
namespace zstd_io {

// A valid address for a buffer of 0 bytes: zstd is never handed a null buffer.
char g_noBytes = 0;

class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int fd) : m_fd(fd) {}
    Descriptor(Descriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }

    int get() const { return m_fd; }
    // Closes now; the errno of a failed close, else 0.
    int reset() {
        const int fd = std::exchange(m_fd, -1);
        return fd >= 0 && ::close(fd) != 0 ? errno : 0;
    }

  private:
    int m_fd = -1;
};

// A whole file mapped; nothing is mapped for 0 bytes (mmap refuses a length of 0).
class Mapping {
  public:
    Mapping() = default;
    ~Mapping() { reset(); }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;

    // The errno of a failed mmap, else 0.
    int map(int fd, std::int64_t size, bool writable) {
        reset();
        if (size == 0) {
            return 0;
        }
        void* data = ::mmap(nullptr, static_cast<std::size_t>(size),
                            writable ? PROT_READ | PROT_WRITE : PROT_READ,
                            writable ? MAP_SHARED : MAP_PRIVATE, fd, 0);
        if (data == MAP_FAILED) {
            return errno;
        }
        m_data = static_cast<char*>(data);
        m_size = static_cast<std::size_t>(size);
        return 0;
    }
    void reset() {
        if (m_data != nullptr) {
            ::munmap(m_data, m_size);
        }
        m_data = nullptr;
        m_size = 0;
    }
    // Never null, so that zstd gets a valid address for an empty file too.
    char* data() const { return m_data != nullptr ? m_data : &g_noBytes; }
    std::size_t size() const { return m_size; }

  private:
    char* m_data = nullptr;
    std::size_t m_size = 0;
};

struct CCtxFree {
    void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};
struct DCtxFree {
    void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};

}  // namespace zstd_io

namespace {

using zstd_io::Descriptor;
using zstd_io::g_noBytes;
using zstd_io::Mapping;

constexpr int kCompressionLevel = 19;
// What one read() takes of a file; also the applier's input slice.
constexpr std::size_t kCodecSliceBytes = std::size_t{1} << 20;
// zstd.h names these two only for static linking; the values have not moved since 1.4.
constexpr auto kStableInBuffer = ZSTD_c_experimentalParam9;   // ZSTD_c_stableInBuffer
constexpr auto kStableOutBuffer = ZSTD_d_experimentalParam2;  // ZSTD_d_stableOutBuffer
constexpr int kLongDistanceOn = 1;                            // ZSTD_ps_enable
constexpr int kMaxWindowLog = 31;                             // a 2 GiB window

std::string codecErrnoText(int code) {
    return std::error_code(code, std::generic_category()).message();
}

// A regular file opened for reading, with its size. Opened without blocking: a named pipe in
// the file's place must not hold the caller.
struct OpenedFile {
    Descriptor fd;
    std::int64_t size = 0;
    std::string error;  // "cannot open PATH: why"
};

OpenedFile openRegular(const std::string& path) {
    OpenedFile file;
    file.fd = Descriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat info {};
    if (file.fd.get() < 0 || ::fstat(file.fd.get(), &info) != 0) {
        file.error = "cannot open " + path + ": " + codecErrnoText(errno);
    } else if (!S_ISREG(info.st_mode)) {
        file.error = "cannot open " + path + ": not a regular file";
    } else {
        file.size = static_cast<std::int64_t>(info.st_size);
    }
    return file;
}

// A new file beside `path` ("DIR/.NAME.XXXXXX", hidden, so that a release listing leaves it
// out), renamed over `path` once complete: `path` never holds a partial file.
class FileBeside {
  public:
    explicit FileBeside(std::string path) : m_path(std::move(path)) {
        namespace fs = std::filesystem;
        const fs::path target(m_path);
        const fs::path folder = target.parent_path().empty() ? "." : target.parent_path();
        m_temporary = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
        m_fd = Descriptor(::mkostemp(m_temporary.data(), O_CLOEXEC));
        if (m_fd.get() < 0) {
            m_error = "cannot create a file in " + folder.string() + ": " + codecErrnoText(errno);
            m_temporary.clear();
        } else if (::fchmod(m_fd.get(), 0644) != 0) {
            fail(errno);
        }
    }
    ~FileBeside() {
        if (!m_temporary.empty()) {
            ::unlink(m_temporary.c_str());
        }
    }
    FileBeside(const FileBeside&) = delete;
    FileBeside& operator=(const FileBeside&) = delete;

    bool ok() const { return m_error.empty(); }
    const std::string& error() const { return m_error; }

    bool write(const void* data, std::size_t size) {
        if (ok() && !platform::writeAll(m_fd.get(), {static_cast<const char*>(data), size})) {
            fail(errno);
        }
        return ok();
    }

    // Flushes, renames over the path and flushes its folder, where the rename lives.
    bool commit() {
        if (!ok()) {
            return false;
        }
        if (::fsync(m_fd.get()) != 0) {
            return fail(errno);
        }
        if (const int closeError = m_fd.reset(); closeError != 0) {
            return fail(closeError);
        }
        if (::rename(m_temporary.c_str(), m_path.c_str()) != 0) {
            return fail(errno);
        }
        m_temporary.clear();
        const std::filesystem::path folder = std::filesystem::path(m_path).parent_path();
        const Descriptor dir(
            ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.get() >= 0) {
            ::fsync(dir.get());
        }
        return true;
    }

  private:
    bool fail(int code) {
        if (m_error.empty()) {
            m_error = "cannot write " + m_path + ": " + codecErrnoText(code);
        }
        return false;
    }

    std::string m_path;
    std::string m_temporary;  // empty once renamed (or never made)
    Descriptor m_fd;
    std::string m_error;
};

using CompressContext = std::unique_ptr<ZSTD_CCtx, zstd_io::CCtxFree>;
using DecompressContext = std::unique_ptr<ZSTD_DCtx, zstd_io::DCtxFree>;

CodecResult codecFailure(std::string error) {
    return {false, std::move(error)};
}

// Empty when every call succeeded, else zstd's name of the first failure.
std::string zstdCalls(std::initializer_list<std::size_t> results) {
    for (const std::size_t r : results) {
        if (ZSTD_isError(r)) {
            return ZSTD_getErrorName(r);
        }
    }
    return {};
}

// Compresses `input` to its end into `out`: the whole input is at hand (stable), so
// ZSTD_e_end from the first call.
std::string compressToEnd(ZSTD_CCtx* cctx, ZSTD_inBuffer& input, ZSTD_EndDirective mode,
                          FileBeside& out, std::vector<char>& buffer) {
    for (;;) {
        ZSTD_outBuffer output{buffer.data(), buffer.size(), 0};
        const std::size_t left = ZSTD_compressStream2(cctx, &output, &input, mode);
        if (ZSTD_isError(left)) {
            return ZSTD_getErrorName(left);
        }
        if (!out.write(buffer.data(), output.pos)) {
            return out.error();
        }
        const bool done = mode == ZSTD_e_end ? left == 0 : input.pos == input.size;
        if (done) {
            return {};
        }
    }
}

// The bits of a window that reaches back over `bytes` (2^bits >= bytes), within what zstd
// takes (ZSTD_WINDOWLOG_MIN up) and kMaxWindowLog.
int windowLogFor(std::int64_t bytes) {
    const ZSTD_bounds bounds = ZSTD_cParam_getBounds(ZSTD_c_windowLog);
    const int most = std::min(bounds.upperBound, kMaxWindowLog);
    int bits = bounds.lowerBound;
    while (bits < most && (std::int64_t{1} << bits) < bytes) {
        ++bits;
    }
    return bits;
}

}  // namespace

bool worthOffering(std::int64_t formBytes, std::int64_t fileBytes) {
    // formBytes * 100 <= fileBytes * 90, without overflow for any 64-bit size.
    return fileBytes > 0 && formBytes >= 0 &&
           formBytes <= fileBytes / 100 * kWorthPercent + fileBytes % 100 * kWorthPercent / 100;
}

CodecResult compressFile(const std::string& from, const std::string& to) {
    OpenedFile file = openRegular(from);
    if (!file.error.empty()) {
        return codecFailure(file.error);
    }
    FileBeside out(to);
    if (!out.ok()) {
        return codecFailure(out.error());
    }
    const CompressContext cctx(ZSTD_createCCtx());
    if (!cctx) {
        return codecFailure("out of memory");
    }
    // The frame carries the size (a decoder bounds its output by it) and a checksum.
    const std::string setup = zstdCalls(
        {ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_compressionLevel, kCompressionLevel),
         ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_checksumFlag, 1),
         ZSTD_CCtx_setPledgedSrcSize(cctx.get(), static_cast<unsigned long long>(file.size))});
    if (!setup.empty()) {
        return codecFailure("cannot compress: " + setup);
    }
    std::vector<char> slice(kCodecSliceBytes);
    std::vector<char> buffer(ZSTD_CStreamOutSize());
    for (;;) {
        const ssize_t got = ::read(file.fd.get(), slice.data(), slice.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return codecFailure("cannot read " + from + ": " + codecErrnoText(errno));
        }
        ZSTD_inBuffer input{slice.data(), static_cast<std::size_t>(got), 0};
        const ZSTD_EndDirective mode = got == 0 ? ZSTD_e_end : ZSTD_e_continue;
        // A file that grows or shrinks while read no longer matches the pledged size, which
        // zstd refuses (srcSize_wrong).
        if (const std::string error = compressToEnd(cctx.get(), input, mode, out, buffer);
            !error.empty()) {
            return codecFailure(from + ": cannot compress: " + error);
        }
        if (got == 0) {
            break;
        }
    }
    if (!out.commit()) {
        return codecFailure(out.error());
    }
    return {true, {}};
}

CodecResult makePatch(const std::string& base, const std::string& target, const std::string& to) {
    OpenedFile baseFile = openRegular(base);
    OpenedFile targetFile = openRegular(target);
    for (const OpenedFile* f : {&baseFile, &targetFile}) {
        if (!f->error.empty()) {
            return codecFailure(f->error);
        }
    }
    // Refused by size before anything is read: past the largest window a patch of the whole
    // file cannot refer to its start.
    for (const auto& [f, path] : {std::pair{&baseFile, &base}, std::pair{&targetFile, &target}}) {
        if (f->size > kMaxPatchedFileBytes) {
            return codecFailure(*path + " is larger than 2 GiB, the farthest a patch reaches back");
        }
    }
    Mapping baseMap;
    Mapping targetMap;
    for (const auto& [f, map, path] :
         {std::tuple{&baseFile, &baseMap, &base}, std::tuple{&targetFile, &targetMap, &target}}) {
        if (const int error = map->map(f->fd.get(), f->size, false); error != 0) {
            return codecFailure("cannot read " + *path + ": " + codecErrnoText(error));
        }
    }
    FileBeside out(to);
    if (!out.ok()) {
        return codecFailure(out.error());
    }
    const CompressContext cctx(ZSTD_createCCtx());
    if (!cctx) {
        return codecFailure("out of memory");
    }
    // The target is mapped whole and stays put (stable input): zstd keeps no copy of a window
    // of it. Parameters come before the prefix, whose tables depend on them.
    const std::string setup = zstdCalls({
        ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_compressionLevel, kCompressionLevel),
        ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_checksumFlag, 1),
        ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_enableLongDistanceMatching, kLongDistanceOn),
        ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_windowLog,
                               windowLogFor(baseFile.size + targetFile.size)),
        ZSTD_CCtx_setParameter(cctx.get(), kStableInBuffer, 1),
        ZSTD_CCtx_setPledgedSrcSize(cctx.get(), static_cast<unsigned long long>(targetFile.size)),
        // A base of 0 bytes is no prefix at all, as the applier takes it.
        baseMap.size() == 0 ? 0 : ZSTD_CCtx_refPrefix(cctx.get(), baseMap.data(), baseMap.size()),
    });
    if (!setup.empty()) {
        return codecFailure("cannot make the patch: " + setup);
    }
    ZSTD_inBuffer input{targetMap.data(), targetMap.size(), 0};
    std::vector<char> buffer(ZSTD_CStreamOutSize());
    if (const std::string error = compressToEnd(cctx.get(), input, ZSTD_e_end, out, buffer);
        !error.empty()) {
        return codecFailure("cannot make the patch: " + error);
    }
    if (!out.commit()) {
        return codecFailure(out.error());
    }
    return {true, {}};
}

struct ZstdApplier::State {
    enum class Phase { Start, Decoding, Over };

    std::string inputPath;
    std::string basePath;
    std::string outputPath;
    std::int64_t expectedSize = 0;

    Phase phase = Phase::Start;
    std::string error;
    bool created = false;  // the output is ours to remove
    bool frameEnded = false;
    Descriptor input;
    Descriptor output;
    Mapping baseMap;
    Mapping outputMap;
    DecompressContext dctx;
    ZSTD_outBuffer out{&g_noBytes, 0, 0};  // the same for every call (stable output)
    std::vector<char> slice;

    // Opens the files, creates and reserves the output and sets the decoder up.
    void start();
    // Reads and decodes up to `budget` bytes of the input.
    void decode(std::int64_t budget);
    void endOfInput();
    void fail(std::string why);
    void finish();
};

void ZstdApplier::State::fail(std::string why) {
    if (phase == Phase::Over) {
        return;
    }
    error = std::move(why);
    phase = Phase::Over;
    outputMap.reset();
    output.reset();
    if (created) {
        ::unlink(outputPath.c_str());
        created = false;
    }
}

void ZstdApplier::State::start() {
    phase = Phase::Decoding;
    if (expectedSize < 0) {
        return fail("a negative expected size");
    }
    OpenedFile in = openRegular(inputPath);
    if (!in.error.empty()) {
        return fail(in.error);
    }
    input = std::move(in.fd);
    if (!basePath.empty()) {
        OpenedFile base = openRegular(basePath);
        if (!base.error.empty()) {
            return fail(base.error);
        }
        if (const int e = baseMap.map(base.fd.get(), base.size, false); e != 0) {
            return fail("cannot read " + basePath + ": " + codecErrnoText(e));
        }
    }
    // Whatever is at the name goes: a link there is removed, never written through.
    if (::unlink(outputPath.c_str()) != 0 && errno != ENOENT) {
        return fail("cannot replace " + outputPath + ": " + codecErrnoText(errno));
    }
    output = Descriptor(::open(
        outputPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0644));
    if (output.get() < 0) {
        return fail("cannot create " + outputPath + ": " + codecErrnoText(errno));
    }
    created = true;
    if (expectedSize > 0) {
        // Reserved before a byte is written: a write into the mapping on a full disk would
        // be a crash, not an error.
        const int reserved = ::posix_fallocate(output.get(), 0, static_cast<off_t>(expectedSize));
        if (reserved == ENOSPC) {
            return fail("the disk is full");
        }
        if (reserved != 0) {
            return fail("cannot write " + outputPath + ": " + codecErrnoText(reserved));
        }
        if (const int e = outputMap.map(output.get(), expectedSize, true); e != 0) {
            return fail("cannot write " + outputPath + ": " + codecErrnoText(e));
        }
    }
    out = {outputMap.data(), outputMap.size(), 0};
    dctx.reset(ZSTD_createDCtx());
    if (!dctx) {
        return fail("out of memory");
    }
    // The decoder writes into the mapped output and reads matches from it and from the mapped
    // base: it holds no window of its own, whatever window the frame asks for.
    const std::string setup = zstdCalls({
        ZSTD_DCtx_setParameter(dctx.get(), ZSTD_d_windowLogMax, kMaxWindowLog),
        ZSTD_DCtx_setParameter(dctx.get(), kStableOutBuffer, 1),
        baseMap.size() == 0 ? 0 : ZSTD_DCtx_refPrefix(dctx.get(), baseMap.data(), baseMap.size()),
    });
    if (!setup.empty()) {
        return fail("cannot start decoding: " + setup);
    }
    slice.resize(kCodecSliceBytes);
}

void ZstdApplier::State::decode(std::int64_t budget) {
    while (phase == Phase::Decoding && budget > 0) {
        const auto wanted = static_cast<std::size_t>(
            std::min<std::int64_t>(budget, static_cast<std::int64_t>(slice.size())));
        const ssize_t got = ::read(input.get(), slice.data(), wanted);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return fail("cannot read " + inputPath + ": " + codecErrnoText(errno));
        }
        if (got == 0) {
            return endOfInput();
        }
        budget -= got;
        if (frameEnded) {
            return fail("there is more input after the end of its frame");
        }
        ZSTD_inBuffer in{slice.data(), static_cast<std::size_t>(got), 0};
        while (in.pos < in.size) {
            const std::size_t r = ZSTD_decompressStream(dctx.get(), &out, &in);
            if (ZSTD_isError(r)) {
                // The output is the whole expected file: a frame that needs more room is
                // longer than announced.
                return fail(ZSTD_getErrorCode(r) == ZSTD_error_dstSize_tooSmall
                                ? "it decodes to more than the expected " +
                                      std::to_string(expectedSize) + " bytes"
                                : std::string("it does not decode: ") + ZSTD_getErrorName(r));
            }
            if (r == 0) {
                frameEnded = true;
                if (in.pos < in.size) {
                    return fail("there is more input after the end of its frame");
                }
            }
        }
    }
}

void ZstdApplier::State::endOfInput() {
    if (!frameEnded) {
        return fail("it does not decode: the input ends before its frame does");
    }
    if (out.pos != static_cast<std::size_t>(expectedSize)) {
        return fail("it decodes to " + std::to_string(out.pos) + " bytes, not the expected " +
                    std::to_string(expectedSize));
    }
    finish();
}

// The result counts only once it is on the disk.
void ZstdApplier::State::finish() {
    if (outputMap.size() != 0 && ::msync(outputMap.data(), outputMap.size(), MS_SYNC) != 0) {
        return fail("cannot write " + outputPath + ": " + codecErrnoText(errno));
    }
    outputMap.reset();
    if (::fsync(output.get()) != 0) {
        return fail("cannot write " + outputPath + ": " + codecErrnoText(errno));
    }
    if (const int e = output.reset(); e != 0) {
        return fail("cannot write " + outputPath + ": " + codecErrnoText(e));
    }
    created = false;
    phase = Phase::Over;
    input.reset();
    baseMap.reset();
    dctx.reset();
    slice = {};
}

ZstdApplier::ZstdApplier(std::string input, std::string base, std::string output,
                         std::int64_t expectedSize)
    : m_state(std::make_unique<State>()) {
    m_state->inputPath = std::move(input);
    m_state->basePath = std::move(base);
    m_state->outputPath = std::move(output);
    m_state->expectedSize = expectedSize;
}

// An abandoned pass leaves no partial output behind.
ZstdApplier::~ZstdApplier() {
    if (m_state->phase != State::Phase::Over) {
        m_state->fail("abandoned");
    }
}

bool ZstdApplier::step(std::int64_t inputBytes) {
    if (m_state->phase == State::Phase::Start) {
        m_state->start();
    }
    m_state->decode(std::max<std::int64_t>(inputBytes, 1));
    return m_state->phase == State::Phase::Over;
}

bool ZstdApplier::run() {
    while (!step(static_cast<std::int64_t>(kCodecSliceBytes))) {
    }
    return !failed();
}

bool ZstdApplier::failed() const {
    return !m_state->error.empty();
}

const std::string& ZstdApplier::error() const {
    return m_state->error;
}

}  // namespace upd::publishing
