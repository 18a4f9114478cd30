// Feeds arbitrary bytes to the version reader as a whole file (PE or ELF), then the block it
// finds, and the raw bytes themselves, to the text steps in a single- and a double-byte
// code page.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/version_resource.h"
#include "wizard/file_version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const upd::platform::MemoryByteSource source(bytes);
    const auto block = upd::platform::readVersionBlock(source);
    if (block) {
        if (block->empty() || block->size() > upd::platform::kMaxVersionBlockSize) {
            __builtin_trap();
        }
        (void)upd::wizard::versionKeyFromBlock(*block, "ProductVersion", 1252);
        (void)upd::wizard::versionKeyFromBlock(*block, "FileVersion", 936);
    }
    const std::string key = upd::wizard::versionKeyFromBlock(bytes, "ProductVersion", 936);
    // Every "." of the value is gone from the key.
    if (key.find('.') != std::string::npos) {
        __builtin_trap();
    }
    (void)upd::wizard::versionKeyFromBlock(bytes, "FileVersion", 1252);
    return 0;
}
