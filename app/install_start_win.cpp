#include "app/install_start.h"

#include <utility>

#include "install/install_worker.h"

namespace {

std::thread StartInstallWorkerThread(WorkerArgs args) {
    return std::thread(RunInstallWorker, std::move(args));
}

}  // namespace

WorkerThreadStarter g_startWorkerThread = &StartInstallWorkerThread;
