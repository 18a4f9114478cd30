// The analysis page's work on a large release: an update.ini of 10,000 [Ver] entries
// against an application folder of 10,000 executables with version resources (every
// second one out of date), analysed and planned as page 3 and `updtool plan` do it.
// Target: analysis and plan together under 1 s.
#include <benchmark/benchmark.h>

#include <string>

#include "tests/support/image_builder.h"
#include "tests/support/temp_dir.h"
#include "wizard/download_plan.h"
#include "wizard/information_file.h"
#include "wizard/update_info.h"

namespace {

using namespace upd;

constexpr int kEntries = 10000;

struct Release {
    test::TempDir dir;
    std::string ini;

    Release() {
        const test::Bytes current = test::peWith(test::versionBlock("2.1.0.4"));
        const test::Bytes older = test::peWith(test::versionBlock("2.1.0.3"));
        std::string text =
            "[Update]\r\nVer=2.1\r\nTime=2005.06.01\r\nContentsEN=Faster,Smaller\r\n"
            "ForceUp=0\r\nUpdate=0\r\n[Descript]\r\nDLL=Library\r\n[Time]\r\nNum=0\r\n"
            "[Ver]\r\nNum=" +
            std::to_string(kEntries) + "\r\n";
        for (int i = 1; i <= kEntries; ++i) {
            const std::string name = "lib\\part" + std::to_string(i) + ".dll";
            text += "File" + std::to_string(i) + "=" + name + "\r\nVer" + std::to_string(i) +
                    "=2.1.0.4\r\n";
            const test::Bytes& image = i % 2 == 0 ? older : current;
            dir.write("lib/part" + std::to_string(i) + ".dll",
                      std::string(image.begin(), image.end()));
        }
        ini = dir.write("update.ini", text);
    }
};

void BM_AnalyseAndPlan10000(benchmark::State& state) {
    static const Release release;
    std::size_t planned = 0;
    for (auto _ : state) {
        wizard::LoadedInformation loaded =
            wizard::loadUpdateInformation(release.ini, std::nullopt, std::nullopt);
        const wizard::UpdateInformation info = wizard::analyseUpdateInformation(
            std::move(loaded.document), std::move(loaded.ini), release.dir.path(),
            platform::kLangEnglishUS, platform::kLangEnglishUS);
        wizard::PlanRequest request;
        request.appFolder = release.dir.path();
        request.selfVersionKey = "1001";
        request.serverAddress = "http://127.0.0.1/app/";
        const wizard::DownloadPlan plan = wizard::makeDownloadPlan(info, request);
        planned = plan.rows.size();
        benchmark::DoNotOptimize(planned);
    }
    state.counters["entries"] = kEntries;
    state.counters["planned"] = static_cast<double>(planned);
    state.SetLabel("target: under 1000 ms");
}
BENCHMARK(BM_AnalyseAndPlan10000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
