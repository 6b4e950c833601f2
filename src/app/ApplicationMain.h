#pragma once

// The program from its command line to the end of its event loop: the
// application, the delegate with its window and controllers, and the launch.
// main() runs it with the drives of the machine; the end-to-end tests run
// the same program with drives of their own and a hook that drives it.

#include "app/Quelvar_Recovery_SoftwareAppDelegate.h"

#include <functional>

class MainWindow;

struct ApplicationOptions {
    Quelvar_Recovery_SoftwareAppDelegate::DriveListLoader drives =
        Quelvar_Recovery_SoftwareAppDelegate::discoveredDrives;
    // Runs on the main thread just before the launch's decisions (which may
    // ask a question that waits for its answer).
    std::function<void(Quelvar_Recovery_SoftwareAppDelegate&, MainWindow&)> launched;
};

int runApplication(int argc, char** argv, const ApplicationOptions& options = {});
