#include "tcontroller/app_delegate.h"

#include <QIcon>
#include <csignal>
#include <filesystem>

#include "tcontroller/ui/view_controller.h"

namespace tarvo {

std::unique_ptr<ViewController> AppDelegate::makeMainWindow(const Platform& platform) {
    // The log goes to standard output; a reader that went away (a closed pipe)
    // must never end the tool in the middle of an update.
    std::signal(SIGPIPE, SIG_IGN);
    auto window = std::make_unique<ViewController>(platform);
    window->setWindowIcon(
        QIcon(QString::fromStdString(platform.resourcesDir + "/icons/tarvo-remote-update.png")));
    // Sized for its content within the screen (see ViewController::viewDidLoad).
    window->viewDidLoad();
    window->show();
    return window;
}

std::string findResourcesDir(const std::string& executableDir) {
    namespace fs = std::filesystem;
    const fs::path installed = fs::path(executableDir) / ".." / TARVO_INSTALLED_RESOURCES_SUBDIR;
    std::error_code ec;
    if (fs::is_directory(installed / "TFW", ec)) {
        return fs::weakly_canonical(installed, ec).string();
    }
#ifdef TARVO_SOURCE_RESOURCES_DIR
    return TARVO_SOURCE_RESOURCES_DIR;
#else
    return installed.lexically_normal().string();
#endif
}

}  // namespace tarvo
