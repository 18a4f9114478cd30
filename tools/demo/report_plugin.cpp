// The demo's report plug-in (plugins/Report.dll): a shared library that only tells its
// release, which the demo's main program prints.
#include "tools/demo/report_plugin.h"

#include <type_traits>

extern "C" [[gnu::visibility("default")]] const char* updDemoReportVersion() {
    return UPD_DEMO_VERSION;
}

static_assert(std::is_same_v<decltype(&updDemoReportVersion), upd::demo::ReportVersionFunction>);
