// Reading update.ini value by value: 30,000 ReadIniValue calls on a file of 10,000 [Ver]
// entries, against the same reads with the file read and parsed again for every value.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/monotonic_clock.h"
#include "tests/support/temp_dir.h"
#include "wizard/profile_file.h"

namespace {

using upd::wizard::ProfileDocument;
using upd::wizard::ReadIniValue;

constexpr int kEntries = 10000;
constexpr int kReads = 30000;
constexpr int kColdReads = 300;  // the cold reference is scaled up from this many reads

struct Fixture {
    upd::test::TempDir dir;
    std::string file;
    std::vector<std::string> keys;  // a fixed pseudo-random order, some in other case or absent

    Fixture() {
        std::string text = "[Info]\r\nInfoFile=update.ini\r\n\r\n[Ver]\r\n";
        for (int i = 0; i < kEntries; ++i) {
            text += "File" + std::to_string(i) + "=1.0." + std::to_string(i % 10) + "." +
                    std::to_string(i % 97) + "\r\n";
        }
        file = dir.write("update.ini", text + "\r\n[Date]\r\nupdate.exe=2005-06-01 18:30:00\r\n");
        std::uint32_t state = 12345;
        for (int i = 0; i < kReads; ++i) {
            state = state * 1664525u + 1013904223u;
            const std::uint32_t pick = state >> 8;
            keys.push_back((pick % 7 == 0 ? "FILE" : "File") +
                           std::to_string(pick % (kEntries + kEntries / 20)));
        }
    }
};

Fixture& fixture() {
    static Fixture instance;
    return instance;
}

double g_cachedMs = 0;
double g_coldMs = 0;

// Runs `reads` reads per iteration and gives the mean time of one iteration in ms.
template <class Read>
double measure(benchmark::State& state, int reads, Read read) {
    std::int64_t totalNs = 0;
    for (auto _ : state) {
        const std::int64_t start = upd::platform::monotonicNs();
        for (int i = 0; i < reads; ++i) {
            benchmark::DoNotOptimize(read(fixture().keys[static_cast<std::size_t>(i)]));
        }
        totalNs += upd::platform::monotonicNs() - start;
    }
    state.SetItemsProcessed(state.iterations() * reads);
    return static_cast<double>(totalNs) / 1e6 / static_cast<double>(state.iterations());
}

void BM_ReadIniValue30000(benchmark::State& state) {
    const std::string& file = fixture().file;
    benchmark::DoNotOptimize(ReadIniValue("Ver", "File1", file));  // first load outside
    g_cachedMs = measure(
        state, kReads, [&file](const std::string& key) { return ReadIniValue("Ver", key, file); });
    state.counters["ms_per_30000_reads"] = g_cachedMs;
}
BENCHMARK(BM_ReadIniValue30000)->Unit(benchmark::kMillisecond);

// Reference: every read opens the file, reads it whole and parses it again.
void BM_ColdParsePerRead(benchmark::State& state) {
    const std::string& file = fixture().file;
    g_coldMs =
        measure(
            state, kColdReads,
            [&file](const std::string& key) {
                return ProfileDocument::parse(upd::test::readFile(file), 1252).value("Ver", key);
            }) *
        (kReads / kColdReads);
    state.counters["ms_per_30000_reads"] = g_coldMs;
}
BENCHMARK(BM_ColdParsePerRead)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_cachedMs > 0 && g_coldMs > 0) {
        std::printf(
            "\n%d reads of %d [Ver] entries:\n"
            "  ReadIniValue (parsed file kept)   %10.2f ms   (target: under 50 ms)\n"
            "  read and parse for every value    %10.2f ms   (scaled from %d reads)\n",
            kReads, kEntries, g_cachedMs, g_coldMs, kColdReads);
    }
    return 0;
}
