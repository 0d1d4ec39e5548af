#pragma once

#include <string>
#include <vector>

#include "tcontroller/platform/resource_reads.h"

// The checks of `doctor` that read files and the firmware server: plain C++,
// every root they look under given by the caller, so tests run them on real
// folders of their own.
namespace tarvo {

// One finding of `doctor`.
struct DoctorCheck {
    enum class Status { ok, warning, fail };
    std::string name;   // for scripts: "udev_rule"
    std::string label;  // for a person: "udev rule"
    Status status = Status::ok;
    std::string detail;  // what was found (no final period)
    std::string action;  // what to do about it; empty when nothing
};

// The folders udev reads rules from, the first one's files hiding the later
// ones' of the same name.
std::vector<std::string> defaultUdevRuleFolders();

// A rule in `folders` gives access to the controller's hidraw node. Files are
// taken as udev takes them: "*.rules" only, a name in an earlier folder hiding
// the same name in a later one (an empty file or a link to /dev/null masks
// the rule), all of them in the order of their names. FAIL, with the command
// that installs the rule, when none does; WARNING when the only rules that do
// rely on the seat's tag but sort after the seat rules.
DoctorCheck checkUdevRule(const std::vector<std::string>& folders);

// Read and write access to the controller's hidraw node: the nodes under
// `sysRoot`/class/hidraw whose device's uevent names the controller, checked
// with access(2) as `devRoot`/hidrawN. WARNING when no controller is attached.
// Reads nothing but sysfs, and opens no node.
DoctorCheck checkControllerAccess(const std::string& sysRoot, const std::string& devRoot);

// One history query at the server (the same address the update engine asks):
// OK with the newest release; WARNING when no answer came, since the built-in
// release can still be installed; FAIL when an answer came without a release.
DoctorCheck checkFirmwareServer(ResourceReads& reads, const std::string& serverBase);

// The tool's state folder (the support log, a pending release) is writable, or
// can be created with its missing parents. FAIL with the cause otherwise (a
// symbolic link is refused, as the support log refuses it).
DoctorCheck checkStateFolder(const std::string& folder);

// Where the support log is, and its size when it exists.
DoctorCheck checkSupportLog(const std::string& folder);

// The checks as lines for a person: label, status and detail in aligned
// columns, the action after the detail.
std::string doctorText(const std::vector<DoctorCheck>& checks);

// 0 when no check failed, 1 (kExitFailed) otherwise.
int doctorExitStatus(const std::vector<DoctorCheck>& checks);

const char* statusName(DoctorCheck::Status status);  // "ok", "warning", "fail"

}  // namespace tarvo
