#include "app/process_exit.h"

#include <unistd.h>

#include <cstdio>

namespace upd::app {

void SystemProcessExit::closeOpenFiles() {
    std::fflush(nullptr);
}

void SystemProcessExit::endProcess() {
    std::fflush(nullptr);
    _exit(0);
}

}  // namespace upd::app
