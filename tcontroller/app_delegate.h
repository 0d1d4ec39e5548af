#pragma once

#include <memory>

#include "tcontroller/platform/platform.h"

namespace tarvo {

class ViewController;

// The application's delegate. All start-up work happens in the main window
// controller; the launch and termination hooks have nothing to do.
class AppDelegate {
  public:
    void applicationDidFinishLaunching() {}
    void applicationWillTerminate() {}

    // Creates the one window from its form, wires it to the platform
    // (viewDidLoad) and shows it.
    static std::unique_ptr<ViewController> makeMainWindow(const Platform& platform);
};

// Where the tool's resources are: beside an installed binary
// (<prefix>/share/tarvo-remote-update), else the source tree's resources/
// (a packaged build, which knows no source tree, keeps the installed place).
std::string findResourcesDir(const std::string& executableDir);

}  // namespace tarvo
