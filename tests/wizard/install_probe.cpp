// The installation as the finish page runs it, for a crash sweep from outside the process:
//   install_probe install APPFOLDER    the fixed set below; exit 0, or 1 with the failure
//   install_probe recover APPFOLDER    what every start does first; exit 0, or 1
// The set: a replaced file, a new file in a new sub-folder, and the updater's pair (update.exe
// becoming reupdate.exe with its run bit, FileMove.exe replaced).
#include <cstdio>
#include <string>

#include "wizard/installation.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: install_probe install|recover APPFOLDER\n");
        return 2;
    }
    const std::string mode = argv[1];
    std::string app = argv[2];
    if (app.back() != '/') {
        app += '/';
    }
    std::optional<upd::wizard::InstallFailure> failure;
    if (mode == "install") {
        failure = upd::wizard::installFiles(app, {{"a.dll", "a.dll"},
                                                  {"sub\\new.dat", "sub\\new.dat"},
                                                  {"update.exe", "reupdate.exe", true},
                                                  {"FileMove.exe", "FileMove.exe"}})
                      .failure;
    } else if (mode == "recover") {
        failure = upd::wizard::recoverInterruptedInstall(app).failure;
    } else {
        return 2;
    }
    if (failure) {
        std::fprintf(stderr, "%s: %s\n", failure->entry.c_str(), failure->systemText.c_str());
        return 1;
    }
    return 0;
}
