// The demo's main program (Main.exe): prints its name and release, then those of the report
// plug-in it loads from plugins/Report.dll beside it, so that a person sees which releases
// the update wizard left in the folder. Exit status 1 when the plug-in does not load.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tools/demo/report_plugin.h"

namespace {

// The folder of this program with a trailing '/', or "" (the working folder) when unknown.
std::string ownFolder() {
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) {
        return {};
    }
    path.resize(static_cast<std::size_t>(length));
    return path.substr(0, path.rfind('/') + 1);
}

}  // namespace

int main() {
    std::printf("Main %s\n", UPD_DEMO_VERSION);
    const std::string plugin = ownFolder() + "plugins/Report.dll";
    void* library = ::dlopen(plugin.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "Main: the report plug-in did not load: %s\n", ::dlerror());
        return 1;
    }
    const auto version = reinterpret_cast<upd::demo::ReportVersionFunction>(
        ::dlsym(library, upd::demo::kReportVersionSymbol));
    if (version == nullptr) {
        std::fprintf(stderr, "Main: %s is not a report plug-in\n", plugin.c_str());
        ::dlclose(library);
        return 1;
    }
    std::printf("Report plug-in %s\n", version());
    ::dlclose(library);
    return 0;
}
