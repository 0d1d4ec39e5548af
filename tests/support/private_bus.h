#pragma once

// A private D-Bus for one test: a dbus-daemon of its own, with system services
// served by python3-dbusmock templates on it, so that the tool's D-Bus code
// talks to a real bus and real (mock) services, never to the machine's own.
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tarvo::test {

class PrivateBus {
  public:
    // Debian's interpreter: dbusmock is a Debian package, not a pip one.
    static constexpr const char* kPython = "/usr/bin/python3";

    PrivateBus() {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) {
            skipReason_ = "dbus-daemon is not installed";
            return;
        }
        const Child probe = spawn({kPython, "-c", "import dbusmock"}, {}, false);
        int status = -1;
        if (probe.pid < 0 || ::waitpid(probe.pid, &status, 0) != probe.pid || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0) {
            skipReason_ = "python3-dbusmock is not installed";
            return;
        }
        daemon_ = spawn(
            {daemon.toStdString(), "--session", "--nofork", "--nopidfile", "--print-address=1"}, {},
            true);
        address_ = QString::fromStdString(readLine(daemon_.out, 10000));
        if (daemon_.pid < 0 || address_.isEmpty()) {
            skipReason_ = "dbus-daemon did not start";
            return;
        }
        name_ = QStringLiteral("tarvo-test-%1").arg(++counter());
        bus_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address_, name_));
        if (!bus_->isConnected()) {
            skipReason_ = "cannot connect to the private bus";
        }
    }

    ~PrivateBus() {
        for (const Child& mock : mocks_) {
            end(mock);
        }
        bus_.reset();
        if (!name_.isEmpty()) {
            QDBusConnection::disconnectFromBus(name_);
        }
        end(daemon_);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool ready() const { return skipReason_.empty(); }
    const std::string& skipReason() const { return skipReason_; }
    // The test's own connection to the bus.
    QDBusConnection& bus() { return *bus_; }

    // Serves a dbusmock template (a name of dbusmock's or a file path) and
    // waits until `service` is on the bus. Its method calls are logged to a
    // file (calls()). Returns false, saying why in skipReason(), when it fails.
    bool serve(const QString& templ, const QString& service, const QString& parametersJson = {}) {
        const QString logPath = logDir_.filePath(service + ".log");
        std::vector<std::string> args{kPython,
                                      "-m",
                                      "dbusmock",
                                      "--template",
                                      templ.toStdString(),
                                      "-l",
                                      logPath.toStdString()};
        if (!parametersJson.isEmpty()) {
            args.insert(args.end(), {"-p", parametersJson.toStdString()});
        }
        const std::string address = address_.toStdString();
        mocks_.push_back(spawn(
            args, {"DBUS_SYSTEM_BUS_ADDRESS=" + address, "DBUS_SESSION_BUS_ADDRESS=" + address},
            false));
        logs_.emplace_back(service, logPath);
        if (!waitUntil([&] { return bus_->interface()->isServiceRegistered(service).value(); },
                       15000)) {
            skipReason_ = "dbusmock did not serve " + service.toStdString();
            return false;
        }
        return true;
    }

    // Calls a method of dbusmock's control interface (adding objects, the
    // templates' own helpers) on the main object of a served service.
    QDBusMessage mock(const QString& service, const QString& path, const char* method,
                      const QVariantList& args) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            service, path, QStringLiteral("org.freedesktop.DBus.Mock"),
            QString::fromLatin1(method));
        call.setArguments(args);
        return bus_->call(call);
    }

    // The method calls a served service logged, one per line ("<time> Name args").
    QStringList calls(const QString& service, const QString& method) const {
        QStringList out;
        for (const auto& [name, path] : logs_) {
            QFile file(path);
            if (name != service || !file.open(QIODevice::ReadOnly)) {
                continue;
            }
            for (const QString& line : QString::fromUtf8(file.readAll()).split('\n')) {
                // "<time> Mount raised: ..." reports how a call ended, not a call.
                if (line.section(' ', 1, 1) == method && line.section(' ', 2, 2) != "raised:") {
                    out << line;
                }
            }
        }
        return out;
    }

  private:
    struct Child {
        pid_t pid = -1;
        int out = -1;  // its standard output, when piped
    };

    // Starts a program with plain fork and exec (not QProcess, whose vfork
    // ThreadSanitizer cannot follow). A test that crashes or is killed takes
    // its children with it, so nothing is left holding the runner's output open.
    static Child spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                       bool pipeOut) {
        std::vector<std::string> environment = env;
        for (char** e = environ; *e != nullptr; ++e) {
            environment.emplace_back(*e);
        }
        std::vector<char*> args, envp;
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        for (const std::string& e : environment) {
            envp.push_back(const_cast<char*>(e.c_str()));
        }
        envp.push_back(nullptr);
        int pipeFds[2] = {-1, -1};
        if (pipeOut && ::pipe2(pipeFds, O_CLOEXEC) != 0) {
            return {};
        }
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (pipeOut) {
                ::dup2(pipeFds[1], STDOUT_FILENO);
            } else {
                const int null = ::open("/dev/null", O_WRONLY);
                ::dup2(null, STDOUT_FILENO);
            }
            ::execve(args[0], args.data(), envp.data());
            ::_exit(127);
        }
        if (pipeOut) {
            ::close(pipeFds[1]);
        }
        return {pid, pipeOut ? pipeFds[0] : -1};
    }

    static void end(const Child& child) {
        if (child.pid > 0) {
            ::kill(child.pid, SIGTERM);
            ::waitpid(child.pid, nullptr, 0);
        }
        if (child.out >= 0) {
            ::close(child.out);
        }
    }

    // One line from `fd`, without its newline; empty after `timeoutMs` or at its end.
    static std::string readLine(int fd, int timeoutMs) {
        std::string line;
        char c = 0;
        pollfd wait{fd, POLLIN, 0};
        while (fd >= 0 && ::poll(&wait, 1, timeoutMs) == 1 && ::read(fd, &c, 1) == 1) {
            if (c == '\n') {
                return line;
            }
            line.push_back(c);
        }
        return {};
    }

    static int& counter() {
        static int n = 0;
        return n;
    }

    Child daemon_;
    QString address_;
    QString name_;
    std::unique_ptr<QDBusConnection> bus_;
    QTemporaryDir logDir_;
    std::vector<Child> mocks_;
    std::vector<std::pair<QString, QString>> logs_;
    std::string skipReason_;
};

}  // namespace tarvo::test
