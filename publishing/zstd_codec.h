// The smaller forms of an update set's files, made and applied with libzstd (no format of
// ours): a compressed file is a zstd frame of the file; a patch is a zstd frame of the new
// file compressed with the installed file as its prefix (long-distance matching on, a window
// reaching back over the whole installed file), so that what the two share costs a few bytes.
//
// Applying writes the result into a file of the exact size the update announces, a slice at a
// time (the window keeps painting between slices). Memory stays bounded whatever the file: the
// decoder writes straight into the output file mapped in memory and reads the installed file
// mapped too, so its own buffers are only its context and one input slice of 1 MiB (about
// 1.3 MiB in all), never a window of the file's size. The result's digest is its owner's to check.
//
// Errors are values: every failure says what happened, in English. Input is hostile: a frame
// that decodes to more or fewer bytes than announced, or does not decode, fails.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace upd::publishing {

// The largest installed file a patch can refer to: zstd's window stops at 2 GiB. Larger files
// are offered whole (or compressed).
inline constexpr std::int64_t kMaxPatchedFileBytes = std::int64_t{1} << 31;
// A form is worth offering only when it saves at least a tenth of the file.
inline constexpr int kWorthPercent = 90;

struct CodecResult {
    bool ok = false;
    std::string error;  // when !ok
};

// Writes `to` as the zstd-compressed form of `from` (a new file; an existing one is replaced).
CodecResult compressFile(const std::string& from, const std::string& to);
// Writes `to` as the patch that turns `base` into `target`. Fails when `base` or `target` is
// larger than kMaxPatchedFileBytes.
CodecResult makePatch(const std::string& base, const std::string& target, const std::string& to);
// True when a form of `formBytes` is worth offering for a file of `fileBytes`.
bool worthOffering(std::int64_t formBytes, std::int64_t fileBytes);

// Decodes a compressed file (no base) or a patch (with the installed file as base) into
// `output`, which must come out exactly `expectedSize` bytes long. The output is created anew
// (an existing file or link at that name is replaced, never written through) with its room
// reserved first, so that a full disk is an error here, not later.
class ZstdApplier {
  public:
    // `base` empty: `input` is a compressed file.
    ZstdApplier(std::string input, std::string base, std::string output, std::int64_t expectedSize);
    ~ZstdApplier();
    ZstdApplier(const ZstdApplier&) = delete;
    ZstdApplier& operator=(const ZstdApplier&) = delete;

    // Decodes up to `inputBytes` more of the input. True once the pass is over, successful or
    // not (failed()); the output is complete and flushed to the file system when it succeeded,
    // removed when it failed.
    bool step(std::int64_t inputBytes);
    // Runs the pass to its end; true when it succeeded.
    bool run();
    bool failed() const;
    const std::string& error() const;

  private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace upd::publishing
