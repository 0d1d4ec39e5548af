#pragma once

#include <QDBusConnection>
#include <string>
#include <vector>

#include "tcontroller/cli/doctor_checks.h"
#include "tcontroller/platform/platform.h"

namespace tarvo {

// Where `doctor` looks on the machine; tests point each root at a folder of
// their own.
struct DoctorRoots {
    std::vector<std::string> udevRuleFolders = defaultUdevRuleFolders();
    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";
};

// Checks the machine for what an update needs, in this order: the udev rule,
// access to the controller's node, UDisks2 and the login manager on
// `systemBus`, the firmware server (one history query through the platform's
// reads), the state folder (the parent of the platform's pendingDir) and where
// the support log is. Touches no controller and starts no service; blocks
// until each check has answered. QtCore main thread.
std::vector<DoctorCheck> runDoctor(const Platform& platform, const QDBusConnection& systemBus,
                                   const DoctorRoots& roots = {});

// One system service on `bus`: OK when it runs or the bus can start it,
// WARNING with `action` otherwise (or when the bus cannot be reached).
DoctorCheck checkSystemService(const QDBusConnection& bus, const QString& service,
                               DoctorCheck check, const std::string& action);

// The checks as one JSON object:
// {"checks":[{"name","status":"ok|warning|fail","detail","action"}],"ok":bool},
// "action" null when there is nothing to do.
std::string doctorJson(const std::vector<DoctorCheck>& checks);

}  // namespace tarvo
