#include "app/install_start.h"

// The install worker needs WinHTTP; the host build tests everything around it with starters of
// its own.
WorkerThreadStarter g_startWorkerThread = nullptr;
