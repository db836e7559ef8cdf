// The application object: start-up in its fixed order, the run of the main window, and
// the orderly shutdown.
#pragma once

#include "platform/singleinstance.h"

class CVistrelApp {
public:
    CVistrelApp();
    ~CVistrelApp();

    // Step 1 only: takes the single-instance mutex. False when another copy holds it;
    // the caller then ends silently.
    bool TakeInstanceLock();
    // Steps 2 to 10. Returns the process exit code.
    int InitInstance();

private:
    HMUTEX m_hMutex = nullptr;
};

// Name of the single-instance mutex.
constexpr const char* VISTREL_MUTEX_NAME = "RedurAvUrizazeRiZadad";
