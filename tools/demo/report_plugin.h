// What the demo's report plug-in (plugins/Report.dll) offers the demo's main program, which
// loads it at run time.
#pragma once

namespace upd::demo {

// The exported C function that returns the plug-in's release ("2.1.0.4").
inline constexpr char kReportVersionSymbol[] = "updDemoReportVersion";
using ReportVersionFunction = const char* (*)();

}  // namespace upd::demo
