// `doctor` on folders of the test's own: udev rules read as udev reads them
// (hostile ones among them), a sysfs tree with the controller's node whose
// /dev node cannot be written, the loopback firmware server, and the system
// services on a private bus.
#include "tcontroller/cli/doctor.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/firmware_server.h"
#include "support/private_bus.h"
#include "support/temp_files.h"
#include "tcontroller/base/log.h"
#include "tcontroller/cli/udev_rules.h"
#include "tcontroller/platform/linux/curl_resource_reads.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string shippedRules() {
    return readText(fs::path(TARVO_TEST_RESOURCES_DIR) / kControllerRuleFileName);
}

TEST(DoctorRules, ReadsRulesFilesAsUdevDoes) {
    using namespace std::string_literals;
    const std::string ids = R"(ATTRS{idVendor}=="c251", ATTRS{idProduct}=="2201")";
    const std::string hidraw = R"(SUBSYSTEM=="hidraw", )";
    const std::string tag = R"(, TAG+="uaccess")";
    const struct {
        std::string text;
        RuleAccess access;
    } cases[] = {
        {shippedRules(), RuleAccess::seatTag},
        {hidraw + R"(ATTRS{idVendor}=="C251", ATTRS{idProduct}=="2201")" + tag,
         RuleAccess::seatTag},
        {hidraw + ids + R"(, MODE="0666")", RuleAccess::permissions},
        {"  " + hidraw + "\\\n\t" + ids + " \\\n" + tag + "\n", RuleAccess::seatTag},
        {R"(KERNEL=="hidraw[0-9]*", ATTRS{idVendor}=="1d50|c251", )"
         R"(ATTRS{idProduct}=="22*", GROUP="plugdev")",
         RuleAccess::permissions},
        // Commented out, other devices, or not for the hidraw node.
        {"# " + std::string(kControllerRule), RuleAccess::none},
        {"   #" + std::string(kControllerRule), RuleAccess::none},
        {hidraw + R"(ATTRS{idVendor}=="c252", ATTRS{idProduct}=="2201")" + tag, RuleAccess::none},
        {hidraw + R"(ATTRS{idVendor}=="c251", ATTRS{idProduct}=="22011")" + tag, RuleAccess::none},
        {hidraw + R"(ATTRS{idVendor}!="c251", ATTRS{idProduct}=="2201")" + tag, RuleAccess::none},
        {R"(SUBSYSTEM=="usb", )" + ids + R"(, MODE="0666")", RuleAccess::none},
        {R"(ACTION=="remove", )" + hidraw + ids + tag, RuleAccess::none},
        {hidraw + R"(ATTRS{idVendor}=="c251")" + tag, RuleAccess::none},
        {hidraw + ids + R"(, ATTRS{idVendor}=="1234")" + tag, RuleAccess::none},
        {hidraw + R"(ATTRS{idVendor}="c251", ATTRS{idProduct}=="2201")" + tag, RuleAccess::none},
        {hidraw + ids + R"(, ENV{ID_TARVO}="1")", RuleAccess::none},
        {hidraw + ids + R"(, TAG-="uaccess")", RuleAccess::none},
        // Hostile: broken quoting, the ids inside another key's value, a
        // value cut short by a NUL byte, trailing garbage.
        {hidraw + ids + R"(, TAG+="uaccess)", RuleAccess::none},
        {hidraw + R"(ENV{X}=="a\", ATTRS{idVendor}==\"c251\", ATTRS{idProduct}==\"2201")" + tag,
         RuleAccess::none},
        {hidraw + "ATTRS{idVendor}==\"c251\0zz\", "s + R"(ATTRS{idProduct}=="2201")" + tag,
         RuleAccess::none},
        {hidraw + ids + tag + " # all users", RuleAccess::none},
        {hidraw + ids + tag + "\"", RuleAccess::none},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(static_cast<int>(controllerFileAccess(c.text)), static_cast<int>(c.access))
            << escapeForLog(c.text);
    }
    // The rule the install command writes is the shipped file's.
    const std::vector<std::string> shipped = rulesOfFile(shippedRules());
    ASSERT_EQ(shipped.size(), 1u);
    EXPECT_EQ(shipped[0], kControllerRule);
}

TEST(DoctorRules, FindsTheControllerInUeventFiles) {
    const struct {
        const char* uevent;
        bool controller;
    } cases[] = {
        {"DRIVER=hid-generic\nHID_ID=0003:0000C251:00002201\nHID_NAME=Tarvo Remote\n", true},
        {"HID_ID=0003:0000c251:00002201", true},
        {"HID_ID=0005:0000C251:00002201\n", false},  // over Bluetooth
        {"HID_ID=0003:0000C251:00002202\n", false},
        {"XHID_ID=0003:0000C251:00002201\n", false},
        {"HID_ID=0003:0000C251\n", false},
        {"HID_ID=0003:0000C251:2201zz\n", false},
        {"HID_ID=0003:10000C251:00002201\n", false},
        {"HID_ID=0003::00002201\nHID_ID=0003:0000C251:00002201\n", false},
    };
    for (const auto& c : cases) {
        const std::optional<HidId> id = hidIdOfUevent(c.uevent);
        EXPECT_EQ(id && isControllerHid(*id), c.controller) << escapeForLog(c.uevent);
    }
}

// A machine in a temp folder: udev's rule folders, sysfs and /dev.
class FakeMachine {
  public:
    ~FakeMachine() {
        if (mounted_) {
            ::umount2(dev().c_str(), MNT_DETACH);
        }
    }

    fs::path root() const { return dir_.path(); }
    fs::path dev() const { return dir_.path() / "dev"; }
    void write(const std::string& relative, const std::string& text) const {
        dir_.write(relative, Bytes(text.begin(), text.end()));
    }
    void addHidraw(const std::string& name, const std::string& hidId) const {
        write("sys/class/hidraw/" + name + "/device/uevent",
              "DRIVER=hid-generic\nHID_ID=" + hidId + "\nHID_NAME=x\n");
    }
    DoctorRoots roots() const {
        DoctorRoots roots;
        roots.udevRuleFolders.clear();
        for (const char* folder :
             {"etc/udev/rules.d", "run/udev/rules.d", "usr/lib/udev/rules.d", "lib/udev/rules.d"}) {
            roots.udevRuleFolders.push_back((root() / folder).string());
        }
        roots.sysRoot = (root() / "sys").string();
        roots.devRoot = dev().string();
        return roots;
    }

    // Creates /dev's nodes: `writable` ones this process can open for reading
    // and writing, the others not. Modes do not stop root, so for root /dev is
    // a tmpfs mounted read-only. False, saying why, when that cannot be done.
    bool makeNodes(const std::vector<std::string>& writable, const std::vector<std::string>& locked,
                   std::string* why) {
        fs::create_directories(dev());
        if (::geteuid() == 0) {
            if (::mount("tarvo-test", dev().c_str(), "tmpfs", 0, "size=64k") != 0) {
                *why =
                    "root needs a read-only tmpfs for a node it cannot write: " + errnoText(errno);
                return false;
            }
            mounted_ = true;
        }
        for (const std::string& name : writable) {
            write("dev/" + name, "");
        }
        for (const std::string& name : locked) {
            write("dev/" + name, "");
            ::chmod((dev() / name).c_str(), 0400);
        }
        if (mounted_ &&
            ::mount(nullptr, dev().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
            *why = "cannot remount the tmpfs read-only: " + errnoText(errno);
            return false;
        }
        return true;
    }

  private:
    test::TempDir dir_;
    bool mounted_ = false;
};

std::vector<std::string> strings(const QJsonArray& checks, const char* key) {
    std::vector<std::string> out;
    for (const QJsonValue& check : checks) {
        out.push_back(check.toObject().value(key).toString().toStdString());
    }
    return out;
}

// The whole run on a machine with the rule installed, a keyboard and the
// controller attached, and the controller's node not writable: the access
// check fails naming that node, the rest says what it found, and nothing is
// written on the machine.
TEST(DoctorRun, ANodeWithoutAccessFailsTheRunInTextAndJson) {
    FakeMachine machine;
    machine.write("usr/lib/udev/rules.d/70-tarvo-remote.rules", shippedRules());
    machine.write("etc/udev/rules.d/99-local.rules", "# " + std::string(kControllerRule) + "\n");
    machine.addHidraw("hidraw0", "0003:0000046D:0000C31C");
    machine.addHidraw("hidraw1", "0003:0000C251:00002201");
    std::string why;
    if (!machine.makeNodes({"hidraw0"}, {"hidraw1"}, &why)) {
        GTEST_SKIP() << why;
    }
    sim::FirmwareServer server;
    server.publish({{"1.2", "2019-10-22", std::nullopt, std::nullopt},
                    {"1.3", "2020-01-15", std::nullopt, std::nullopt}});
    ASSERT_TRUE(server.start());
    CurlResourceReads reads;
    Platform platform;
    platform.reads = &reads;
    platform.serverBase = server.baseAddress();
    const fs::path state = machine.root() / "state" / "tarvo-remote-update";
    platform.pendingDir = (state / "pending").string();
    platform.bootloaderMountPoints = {"/media/u/CRP DISABLE"};
    const QDBusConnection noBus = QDBusConnection::connectToBus(
        "unix:path=" + QString::fromStdString((machine.root() / "no-bus").string()),
        "tarvo-doctor-no-bus");

    const std::vector<DoctorCheck> checks = runDoctor(platform, noBus, machine.roots());
    QDBusConnection::disconnectFromBus("tarvo-doctor-no-bus");

    EXPECT_EQ(doctorExitStatus(checks), 1);
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_FALSE(fs::exists(state.parent_path()));
    const QJsonDocument json =
        QJsonDocument::fromJson(QByteArray::fromStdString(doctorJson(checks)));
    ASSERT_TRUE(json.isObject());
    EXPECT_EQ(json.object().keys(), QStringList({"checks", "ok"}));
    EXPECT_EQ(json.object().value("ok"), QJsonValue(false));
    const QJsonArray list = json.object().value("checks").toArray();
    EXPECT_EQ(strings(list, "name"),
              (std::vector<std::string>{"udev_rule", "controller_access", "udisks", "login_manager",
                                        "firmware_server", "state_folder", "support_log"}));
    EXPECT_EQ(strings(list, "status"),
              (std::vector<std::string>{"ok", "fail", "warning", "warning", "ok", "ok", "ok"}));
    for (const QJsonValue& value : list) {
        const QJsonObject check = value.toObject();
        EXPECT_EQ(check.keys(), QStringList({"action", "detail", "name", "status"}));
        EXPECT_FALSE(check.value("detail").toString().isEmpty());
        // Something to do exactly when the check did not pass.
        EXPECT_EQ(check.value("action").isString(), check.value("status").toString() != "ok")
            << check.value("name").toString().toStdString();
    }
    const std::vector<std::string> details = strings(list, "detail");
    EXPECT_NE(details[0].find("usr/lib/udev/rules.d/70-tarvo-remote.rules"), std::string::npos);
    EXPECT_EQ(details[1], (machine.dev() / "hidraw1").string() + ": no read-write access (" +
                              errnoText(::geteuid() == 0 ? EROFS : EACCES) + ")");
    EXPECT_NE(details[4].find("newest release 1.3 (2020-01-15)"), std::string::npos);
    EXPECT_NE(strings(list, "action")[2].find("/media/u/CRP DISABLE"), std::string::npos);

    // Text: one line per check, the statuses in one column.
    const std::string text = doctorText(checks);
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), checks.size());
    const std::size_t column = lines[0].find("OK");
    EXPECT_EQ(lines[1].find("FAIL"), column);
    EXPECT_EQ(lines[2].find("WARNING"), column);
    EXPECT_EQ(lines[1].rfind("controller access", 0), 0u);

    // An empty file of the same name in /etc hides the installed rule.
    machine.write("etc/udev/rules.d/70-tarvo-remote.rules", "");
    const DoctorCheck masked = checkUdevRule(machine.roots().udevRuleFolders);
    EXPECT_STREQ(statusName(masked.status), "fail");
    EXPECT_NE(masked.detail.find("etc/udev/rules.d/70-tarvo-remote.rules hides"), std::string::npos)
        << masked.detail;
    EXPECT_NE(masked.action.find("sudo rm"), std::string::npos);
    // Without any rule the action installs the shipped one.
    fs::remove_all(machine.root() / "usr");
    const DoctorCheck missing = checkUdevRule(machine.roots().udevRuleFolders);
    EXPECT_STREQ(statusName(missing.status), "fail");
    EXPECT_NE(missing.action.find("echo '" + std::string(kControllerRule) + "' | sudo tee"),
              std::string::npos)
        << missing.action;
    // One that sorts after the seat rules tags the node too late.
    machine.write("lib/udev/rules.d/99-tarvo.rules", shippedRules());
    const DoctorCheck late = checkUdevRule(machine.roots().udevRuleFolders);
    EXPECT_STREQ(statusName(late.status), "warning");
    EXPECT_NE(late.detail.find("99-tarvo.rules tags"), std::string::npos) << late.detail;
}

// Exactly one history query, and what each way of failing it is called.
TEST(DoctorRun, FirmwareServerAnswersAndFailures) {
    const struct {
        sim::ServerFault fault;
        std::optional<std::string> body;
        DoctorCheck::Status status;
        const char* says;
        std::size_t requests;
    } cases[] = {
        {sim::ServerFault::none, std::nullopt, DoctorCheck::Status::ok, "newest release 1.3", 1},
        {sim::ServerFault::status404, std::nullopt, DoctorCheck::Status::warning, "404", 1},
        {sim::ServerFault::none, "<html>Sign in to the network</html>", DoctorCheck::Status::fail,
         "without a release list: \"<html>Sign in", 1},
        {sim::ServerFault::refuse, std::nullopt, DoctorCheck::Status::warning, "no answer from", 0},
    };
    CurlResourceReads reads;
    for (const auto& c : cases) {
        sim::FirmwareServer server;
        server.publish({{"1.3", "2020-01-15", std::nullopt, std::nullopt}});
        server.setHistoryBody(c.body);
        server.setFault(c.fault);
        ASSERT_TRUE(server.start());
        const DoctorCheck check = checkFirmwareServer(reads, server.baseAddress());
        EXPECT_STREQ(statusName(check.status), statusName(c.status)) << check.detail;
        EXPECT_NE(check.detail.find(c.says), std::string::npos) << check.detail;
        EXPECT_EQ(server.requestCount(), c.requests) << check.detail;
    }
}

TEST(DoctorRun, StateFolderThatTheSupportLogWouldRefuse) {
    test::TempDir dir;
    const fs::path folder = dir.path() / "tarvo-remote-update";
    EXPECT_STREQ(statusName(checkStateFolder(folder.string()).status), "ok");
    dir.write("blocker", {});
    const DoctorCheck underFile = checkStateFolder((dir.path() / "blocker" / "x").string());
    EXPECT_STREQ(statusName(underFile.status), "fail");
    EXPECT_NE(underFile.detail.find("blocker is not a folder"), std::string::npos)
        << underFile.detail;
    fs::create_directory_symlink(dir.path(), folder);
    const DoctorCheck link = checkStateFolder(folder.string());
    EXPECT_STREQ(statusName(link.status), "fail");
    EXPECT_NE(link.detail.find("symbolic link"), std::string::npos) << link.detail;
}

// UDisks2 and the login manager as the system bus offers them.
TEST(DoctorRun, SystemServicesOnAPrivateBus) {
    test::PrivateBus bus;
    if (!bus.ready()) {
        GTEST_SKIP() << bus.skipReason();
    }
    Platform platform;  // no reads: no server check
    test::TempDir dir;
    platform.pendingDir = (dir.path() / "state" / "pending").string();
    const auto services = [&] {
        const std::vector<DoctorCheck> checks = runDoctor(platform, bus.bus(), {});
        std::vector<std::string> out;
        for (const DoctorCheck& check : checks) {
            if (check.name == "udisks" || check.name == "login_manager") {
                out.push_back(check.name + " " + statusName(check.status));
            }
        }
        return out;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(services(), (V{"udisks warning", "login_manager warning"}));
    ASSERT_TRUE(bus.serve("logind", "org.freedesktop.login1")) << bus.skipReason();
    EXPECT_EQ(services(), (V{"udisks warning", "login_manager ok"}));
    ASSERT_TRUE(bus.serve(TARVO_TEST_DBUS_DIR "/udisks2.py", "org.freedesktop.UDisks2"))
        << bus.skipReason();
    EXPECT_EQ(services(), (V{"udisks ok", "login_manager ok"}));
}

}  // namespace
}  // namespace tarvo
