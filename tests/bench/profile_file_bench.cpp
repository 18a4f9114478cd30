// Reading update.ini value by value: 30,000 ReadIniValue calls on a file of 10,000 [Ver]
// entries, against the same reads with the file read and parsed again for every value.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "wizard/profile_file.h"

namespace {

using upd::wizard::ProfileDocument;
using upd::wizard::ReadIniValue;

constexpr int kEntries = 10000;
constexpr int kReads = 30000;
// The cold reference does this many reads per run and is scaled up to kReads.
constexpr int kColdReads = 300;

std::string makeUpdateIni() {
    std::string text =
        "[Info]\r\nInfoFile=update.ini\r\nWhatsNew=Faster downloads\r\n\r\n[Ver]\r\n";
    for (int i = 0; i < kEntries; ++i) {
        text += "File" + std::to_string(i) + "=1.0." + std::to_string(i % 10) + "." +
                std::to_string(i % 97) + "\r\n";
    }
    text += "\r\n[Date]\r\nupdate.exe=2005-06-01 18:30:00\r\n";
    return text;
}

struct Fixture {
    upd::test::TempDir dir;
    std::string bytes = makeUpdateIni();
    std::string file = dir.write("update.ini", bytes);
    std::vector<std::string> keys;

    Fixture() {
        // Varied keys in a fixed pseudo-random order, some in other case, some absent.
        std::uint32_t state = 12345;
        keys.reserve(kReads);
        for (int i = 0; i < kReads; ++i) {
            state = state * 1664525u + 1013904223u;
            const std::uint32_t pick = state >> 8;
            const std::string number = std::to_string(pick % (kEntries + kEntries / 20));
            keys.push_back((pick % 7 == 0 ? "FILE" : "File") + number);
        }
    }
};

Fixture& fixture() {
    static Fixture instance;
    return instance;
}

double g_cachedMs = 0;
double g_coldMs = 0;

double elapsedMs(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
        .count();
}

void BM_ReadIniValue30000(benchmark::State& state) {
    Fixture& f = fixture();
    benchmark::DoNotOptimize(ReadIniValue("Ver", "File1", f.file));  // first load outside
    double totalMs = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (const std::string& key : f.keys) {
            benchmark::DoNotOptimize(ReadIniValue("Ver", key, f.file));
        }
        totalMs += elapsedMs(start);
    }
    g_cachedMs = totalMs / static_cast<double>(state.iterations());
    state.counters["ms_per_30000_reads"] = g_cachedMs;
    state.SetItemsProcessed(state.iterations() * kReads);
}
BENCHMARK(BM_ReadIniValue30000)->Unit(benchmark::kMillisecond);

// Reference: every read opens the file, reads it whole and parses it again.
void BM_ColdParsePerRead(benchmark::State& state) {
    Fixture& f = fixture();
    double totalMs = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kColdReads; ++i) {
            const ProfileDocument document =
                ProfileDocument::parse(upd::test::readFile(f.file), 1252);
            benchmark::DoNotOptimize(document.value("Ver", f.keys[static_cast<std::size_t>(i)]));
        }
        totalMs += elapsedMs(start);
    }
    g_coldMs = totalMs / static_cast<double>(state.iterations()) * (kReads / kColdReads);
    state.counters["ms_per_30000_reads"] = g_coldMs;
    state.SetItemsProcessed(state.iterations() * kColdReads);
}
BENCHMARK(BM_ColdParsePerRead)->Unit(benchmark::kMillisecond);

// One parse of the whole file: what the first read of a new update.ini costs.
void BM_ParseUpdateIni(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        benchmark::DoNotOptimize(ProfileDocument::parse(f.bytes, 1252));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(f.bytes.size()));
}
BENCHMARK(BM_ParseUpdateIni)->Unit(benchmark::kMillisecond);

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
