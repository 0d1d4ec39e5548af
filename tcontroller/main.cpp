// The tool's entry: the real Linux services, one window, the Qt event loop.
#include <QApplication>

#include "tcontroller/app_delegate.h"
#include "tcontroller/platform/linux/linux_platform.h"
#include "tcontroller/view_controller.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvo Remote Firmware Update"));
    QApplication::setDesktopFileName(QStringLiteral("com.tarvo.RemoteFirmwareUpdate"));
    tarvo::LinuxPlatform linux(
        TARVO_SERVER_BASE,
        tarvo::findResourcesDir(QCoreApplication::applicationDirPath().toStdString()));
    tarvo::AppDelegate delegate;
    auto window = tarvo::AppDelegate::makeMainWindow(linux.platform());
    delegate.applicationDidFinishLaunching();
    const int status = QApplication::exec();
    delegate.applicationWillTerminate();
    return status;
}
