#include "tcontroller/cli/doctor_checks.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>

#include "tcontroller/base/log.h"
#include "tcontroller/base/log_file.h"
#include "tcontroller/catalogue/builtin_files.h"
#include "tcontroller/catalogue/firmware_names.h"
#include "tcontroller/catalogue/history.h"
#include "tcontroller/cli/cli_options.h"
#include "tcontroller/cli/udev_rules.h"
#include "tcontroller/device/identity.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

// Rules files and uevent files are small; a larger one (or a link to an
// endless device) is read no further than this.
constexpr std::size_t kMaxFileBytes = std::size_t{1} << 20;

std::optional<std::string> readCapped(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string text(kMaxFileBytes, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

// The names in a folder, sorted; none when it cannot be read.
std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

DoctorCheck fail(DoctorCheck check, std::string detail, std::string action) {
    check.status = DoctorCheck::Status::fail;
    check.detail = std::move(detail);
    check.action = std::move(action);
    return check;
}

DoctorCheck warn(DoctorCheck check, std::string detail, std::string action) {
    check.status = DoctorCheck::Status::warning;
    check.detail = std::move(detail);
    check.action = std::move(action);
    return check;
}

DoctorCheck pass(DoctorCheck check, std::string detail) {
    check.status = DoctorCheck::Status::ok;
    check.detail = std::move(detail);
    return check;
}

// A path as one word of a shell command (escaped as a log line is).
std::string shellWord(const std::string& path) {
    std::string word = "'";
    for (const char c : escapeForLog(path)) {
        word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return word + "'";
}

constexpr const char* kReload = "sudo udevadm control --reload-rules";
constexpr const char* kReplug = "then unplug the controller and plug it in again";

std::string reclaimAction(const std::string& folder) {
    return "Make it yours again (a run with sudo leaves it to root): sudo chown -R \"$USER\" " +
           shellWord(folder) + ", or set XDG_STATE_HOME to a folder you can write";
}

// Whether the missing state folder can be created in `above`, the nearest
// folder over it that exists (`info` its stat).
DoctorCheck judgeCreation(const DoctorCheck& check, const std::string& folder,
                          const fs::path& above, const struct stat& info) {
    const std::string shown = escapeForLog(folder);
    const std::string where = escapeForLog(above.string());
    if (!S_ISDIR(info.st_mode)) {
        return fail(check, shown + " cannot be created: " + where + " is not a folder",
                    "Set XDG_STATE_HOME to a folder you can write");
    }
    if (::access(above.c_str(), W_OK | X_OK) != 0) {
        return fail(
            check,
            shown + " cannot be created: " + where + " is not writable (" + errnoText(errno) + ")",
            reclaimAction(folder));
    }
    return pass(check, shown + " is created at the next start (" + where + " is writable)");
}

}  // namespace

std::vector<std::string> defaultUdevRuleFolders() {
    return {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};
}

DoctorCheck checkUdevRule(const std::vector<std::string>& folders) {
    const DoctorCheck check{"udev_rule", "udev rule", DoctorCheck::Status::ok, {}, {}};
    // Every rules file by name: the one udev reads, and those it hides.
    std::map<std::string, std::vector<std::string>> files;
    for (const std::string& folder : folders) {
        for (const std::string& name : namesIn(folder)) {
            if (name.size() > 6 && name.ends_with(".rules")) {
                files[name].push_back((fs::path(folder) / name).string());
            }
        }
    }
    std::string late;
    std::string hidden;
    std::string hiding;
    for (const auto& [name, paths] : files) {
        const std::optional<std::string> text = readCapped(paths.front());
        const RuleAccess access = text ? controllerFileAccess(*text) : RuleAccess::none;
        if (access == RuleAccess::permissions ||
            (access == RuleAccess::seatTag && name < kSeatRulesFileName)) {
            return pass(check, escapeForLog(paths.front()) + " gives access to the controller");
        }
        if (access == RuleAccess::seatTag && late.empty()) {
            late = paths.front();
        }
        for (std::size_t i = 1; i < paths.size() && hidden.empty(); ++i) {
            const std::optional<std::string> masked = readCapped(paths[i]);
            if (masked && controllerFileAccess(*masked) != RuleAccess::none) {
                hidden = paths[i];
                hiding = paths.front();
            }
        }
    }
    if (!late.empty()) {
        return warn(check,
                    escapeForLog(late) +
                        " tags the controller for the seat's user, but sorts after " +
                        std::string(kSeatRulesFileName) + ", which applies that tag",
                    "Rename it to a number below 73 (like " + std::string(kControllerRuleFileName) +
                        "), run " + kReload + ", " + kReplug);
    }
    const std::string none = "no rule gives access to the controller (c251:2201)";
    if (!hidden.empty()) {
        return fail(check, none + ": " + escapeForLog(hiding) + " hides " + escapeForLog(hidden),
                    "Remove the file that hides it: sudo rm " + shellWord(hiding) + " && " +
                        kReload + ", " + kReplug);
    }
    const std::string target =
        (folders.empty() ? std::string("/etc/udev/rules.d") : folders.front()) + "/" +
        std::string(kControllerRuleFileName);
    return fail(check, none,
                "Install it: echo '" + std::string(kControllerRule) + "' | sudo tee " +
                    shellWord(target) + " && " + kReload + ", " + kReplug);
}

DoctorCheck checkControllerAccess(const std::string& sysRoot, const std::string& devRoot) {
    const DoctorCheck check{
        "controller_access", "controller access", DoctorCheck::Status::ok, {}, {}};
    const fs::path classFolder = fs::path(sysRoot) / "class" / "hidraw";
    std::vector<std::string> nodes;
    for (const std::string& name : namesIn(classFolder)) {
        const auto uevent = readCapped((classFolder / name / "device" / "uevent").string());
        const std::optional<HidId> id = uevent ? hidIdOfUevent(*uevent) : std::nullopt;
        if (id && isControllerHid(*id)) {
            nodes.push_back(name);
        }
    }
    if (nodes.empty()) {
        return warn(check, "no controller attached",
                    "Plug the controller in and run doctor again to check access to it");
    }
    std::string reachable;
    for (const std::string& name : nodes) {
        const std::string path = (fs::path(devRoot) / name).string();
        if (::access(path.c_str(), R_OK | W_OK) != 0) {
            const int error = errno;
            return fail(
                check, escapeForLog(path) + ": no read-write access (" + errnoText(error) + ")",
                error == ENOENT ? std::string("Unplug the controller and plug it in again")
                                : std::string("Install the udev rule (see its check), ") + kReplug +
                                      "; access goes to the user logged in at the machine itself, "
                                      "not over SSH");
        }
        reachable += (reachable.empty() ? "" : ", ") + escapeForLog(path);
    }
    return pass(check, reachable + ": read-write access");
}

DoctorCheck checkFirmwareServer(ResourceReads& reads, const std::string& serverBase) {
    const DoctorCheck check{"firmware_server", "firmware server", DoctorCheck::Status::ok, {}, {}};
    const std::string base = escapeForLog(serverBase);
    const std::string offline = std::string("Without it only the built-in release ") +
                                kBuiltinVersion + " can be installed";
    const std::string address = historyQueryPrefix(serverBase) + identity::kModelCode;
    if (!reads.isValidAddress(address)) {
        return fail(check, "the tool was built with an unusable server address \"" + base + "\"",
                    "Build it with -DTARVO_SERVER_BASE=http://<the maker's host>");
    }
    const Result<std::string> reply = reads.readText(address, kHistoryMaxBytes);
    if (!reply.ok()) {
        return warn(
            check, "no answer from " + base + ": " + escapeForLog(reply.error),
            "Check the network connection and any proxy (http_proxy, https_proxy). " + offline);
    }
    std::vector<Util::Histoty> releases = takeHistoryItems(*reply.value, 2);
    sortNewestFirst(releases);
    if (releases.empty()) {
        constexpr std::size_t kShown = 40;
        return fail(check,
                    base + " answered without a release list: \"" +
                        escapeForLog(std::string_view(*reply.value).substr(0, kShown)) +
                        (reply.value->size() > kShown ? "...\"" : "\""),
                    "Check that nothing answers in the server's place (a proxy, a network's "
                    "sign-in page). " +
                        offline);
    }
    return pass(check, base + " answers; newest release " + escapeForLog(releases.front().ver) +
                           " (" + escapeForLog(releases.front().date) + ")");
}

DoctorCheck checkStateFolder(const std::string& folder) {
    const DoctorCheck check{"state_folder", "state folder", DoctorCheck::Status::ok, {}, {}};
    const std::string shown = escapeForLog(folder);
    const std::string reclaim = reclaimAction(folder);
    struct stat info {};
    if (::lstat(folder.c_str(), &info) == 0) {
        if (S_ISLNK(info.st_mode)) {
            return fail(
                check, shown + " is a symbolic link, which the tool refuses",
                "Remove the link (rm " + shellWord(folder) + "); the tool creates the folder");
        }
        if (!S_ISDIR(info.st_mode)) {
            return fail(check, shown + " is not a folder",
                        "Move it away; the tool creates the folder");
        }
        if (::access(folder.c_str(), W_OK | X_OK) != 0) {
            return fail(check, shown + " is not writable (" + errnoText(errno) + ")", reclaim);
        }
        return pass(check, shown + " is writable");
    }
    // Missing: the first folder above it that exists must take the new ones.
    fs::path above = fs::path(folder).parent_path();
    while (!above.empty()) {
        if (::stat(above.c_str(), &info) == 0) {
            return judgeCreation(check, folder, above, info);
        }
        if (errno != ENOENT && errno != ENOTDIR) {
            return fail(check, shown + ": " + errnoText(errno), reclaim);
        }
        if (above == above.parent_path()) {
            break;
        }
        above = above.parent_path();
    }
    return fail(check, shown + " is not an absolute path",
                "Set XDG_STATE_HOME (or HOME) to an absolute path");
}

DoctorCheck checkSupportLog(const std::string& folder) {
    const std::string path = folder + "/" + kLogFileName;
    struct stat info {};
    const std::string size = ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)
                                 ? " (" + std::to_string(info.st_size) + " bytes)"
                                 : " (not written yet)";
    return {"support_log", "support log", DoctorCheck::Status::ok, escapeForLog(path) + size, {}};
}

const char* statusName(DoctorCheck::Status status) {
    switch (status) {
        case DoctorCheck::Status::ok:
            return "ok";
        case DoctorCheck::Status::warning:
            return "warning";
        case DoctorCheck::Status::fail:
            return "fail";
    }
    return "fail";
}

std::string doctorText(const std::vector<DoctorCheck>& checks) {
    std::size_t width = 0;
    for (const DoctorCheck& check : checks) {
        width = std::max(width, check.label.size());
    }
    constexpr std::size_t kStatusWidth = 7;  // "WARNING"
    std::string text;
    for (const DoctorCheck& check : checks) {
        std::string status = statusName(check.status);
        std::transform(status.begin(), status.end(), status.begin(),
                       [](char c) { return static_cast<char>(c - 'a' + 'A'); });
        if (!text.empty()) {
            text += '\n';
        }
        text += check.label + std::string(width - check.label.size() + 2, ' ') + status +
                std::string(kStatusWidth - status.size() + 2, ' ') + check.detail;
        if (!check.action.empty()) {
            text += ". " + check.action;
        }
    }
    return text;
}

int doctorExitStatus(const std::vector<DoctorCheck>& checks) {
    return std::any_of(checks.begin(), checks.end(),
                       [](const DoctorCheck& c) { return c.status == DoctorCheck::Status::fail; })
               ? kExitFailed
               : kExitInstalled;
}

}  // namespace tarvo
