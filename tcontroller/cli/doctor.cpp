#include "tcontroller/cli/doctor.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>

#include "tcontroller/base/log.h"
#include "tcontroller/base/log_file.h"
#include "tcontroller/cli/cli_options.h"

namespace tarvo {
namespace {

// Where a user mounts the bootloader drive by hand: the first desktop mount
// point the tool watches.
std::string manualMountPoint(const Platform& platform) {
    for (const std::string& point : platform.bootloaderMountPoints) {
        if (point.starts_with("/media/") || point.starts_with("/run/media/")) {
            return point;
        }
    }
    return "/media/$USER/" + std::string(kBootloaderLabel);
}

}  // namespace

DoctorCheck checkSystemService(const QDBusConnection& bus, const QString& service,
                               DoctorCheck check, const std::string& action) {
    check.status = DoctorCheck::Status::warning;
    check.action = action;
    if (!bus.isConnected()) {
        check.detail = "the system bus cannot be reached: " +
                       escapeForLog(bus.lastError().message().toStdString());
        return check;
    }
    QDBusConnectionInterface* daemon = bus.interface();
    const QDBusReply<bool> running = daemon->isServiceRegistered(service);
    if (running.isValid() && running.value()) {
        check.status = DoctorCheck::Status::ok;
        check.detail = service.toStdString() + " runs on the system bus";
        check.action.clear();
        return check;
    }
    const QDBusReply<QStringList> startable = daemon->activatableServiceNames();
    if (startable.isValid() && startable.value().contains(service)) {
        check.status = DoctorCheck::Status::ok;
        check.detail = service.toStdString() + " is started on the system bus when asked for";
        check.action.clear();
        return check;
    }
    check.detail = service.toStdString() + " is not on the system bus";
    return check;
}

std::vector<DoctorCheck> runDoctor(const Platform& platform, const QDBusConnection& systemBus,
                                   const DoctorRoots& roots) {
    const std::string stateFolder =
        platform.pendingDir.empty()
            ? defaultLogDirectory()
            : std::filesystem::path(platform.pendingDir).parent_path().string();
    std::vector<DoctorCheck> checks;
    checks.push_back(checkUdevRule(roots.udevRuleFolders));
    checks.push_back(checkControllerAccess(roots.sysRoot, roots.devRoot));
    checks.push_back(checkSystemService(
        systemBus, QStringLiteral("org.freedesktop.UDisks2"),
        {"udisks", "UDisks2", DoctorCheck::Status::ok, {}, {}},
        "Install udisks2, or mount the drive \"" + std::string(kBootloaderLabel) +
            "\" by hand at " + escapeForLog(manualMountPoint(platform)) +
            " when the controller restarts as that drive during an update"));
    checks.push_back(checkSystemService(
        systemBus, QStringLiteral("org.freedesktop.login1"),
        {"login_manager", "login manager", DoctorCheck::Status::ok, {}, {}},
        "The tool cannot keep the computer from sleeping during an update: keep it awake by "
        "hand until the update ends"));
    if (platform.reads != nullptr) {
        checks.push_back(checkFirmwareServer(*platform.reads, platform.serverBase));
    }
    checks.push_back(checkStateFolder(stateFolder));
    checks.push_back(checkSupportLog(stateFolder));
    return checks;
}

std::string doctorJson(const std::vector<DoctorCheck>& checks) {
    QJsonArray list;
    for (const DoctorCheck& check : checks) {
        list.append(QJsonObject{
            {"name", QString::fromStdString(check.name)},
            {"status", QString::fromLatin1(statusName(check.status))},
            {"detail", QString::fromStdString(check.detail)},
            {"action", check.action.empty() ? QJsonValue()
                                            : QJsonValue(QString::fromStdString(check.action))},
        });
    }
    const QJsonObject out{{"checks", list}, {"ok", doctorExitStatus(checks) == kExitInstalled}};
    return QJsonDocument(out).toJson(QJsonDocument::Compact).toStdString();
}

}  // namespace tarvo
