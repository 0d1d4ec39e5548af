#pragma once

// A private D-Bus for one test: a dbus-daemon of its own, with system services
// served by python3-dbusmock templates on it, so that the tool's D-Bus code
// talks to a real bus and real (mock) services, never to the machine's own.
#include <sys/prctl.h>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QProcess>
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
        if (QProcess::execute(QString::fromLatin1(kPython),
                              {QStringLiteral("-c"), QStringLiteral("import dbusmock")}) != 0) {
            skipReason_ = "python3-dbusmock is not installed";
            return;
        }
        daemon_.setProcessChannelMode(QProcess::SeparateChannels);
        endWithTheTest(daemon_);
        daemon_.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                               QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
        if (!daemon_.waitForStarted(5000) || !waitForLine()) {
            skipReason_ = "dbus-daemon did not start: " + daemon_.errorString().toStdString();
            return;
        }
        name_ = QStringLiteral("tarvo-test-%1").arg(++counter());
        bus_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address_, name_));
        if (!bus_->isConnected()) {
            skipReason_ = "cannot connect to the private bus";
        }
    }

    ~PrivateBus() {
        for (auto& mock : mocks_) {
            mock->terminate();
            mock->waitForFinished(3000);
        }
        bus_.reset();
        if (!name_.isEmpty()) {
            QDBusConnection::disconnectFromBus(name_);
        }
        daemon_.terminate();
        daemon_.waitForFinished(3000);
    }

    bool ready() const { return skipReason_.empty(); }
    const std::string& skipReason() const { return skipReason_; }
    const QString& address() const { return address_; }
    // The test's own connection to the bus.
    QDBusConnection& bus() { return *bus_; }

    // Serves a dbusmock template (a name of dbusmock's or a file path) and
    // waits until `service` is on the bus. Its method calls are logged to a
    // file (log()). Returns false, saying why in skipReason(), when it fails.
    bool serve(const QString& templ, const QString& service, const QString& parametersJson = {}) {
        auto mock = std::make_unique<QProcess>();
        const QString logPath = logDir_.filePath(service + ".log");
        QStringList args{QStringLiteral("-m"),         QStringLiteral("dbusmock"),
                         QStringLiteral("--template"), templ,
                         QStringLiteral("-l"),         logPath};
        if (!parametersJson.isEmpty()) {
            args << QStringLiteral("-p") << parametersJson;
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address_);
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
        mock->setProcessEnvironment(env);
        mock->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        endWithTheTest(*mock);
        mock->start(QString::fromLatin1(kPython), args);
        logs_.emplace_back(service, logPath);
        QProcess* started = mock.get();
        mocks_.push_back(std::move(mock));
        if (!waitUntil([&] { return bus_->interface()->isServiceRegistered(service).value(); },
                       15000)) {
            skipReason_ = "dbusmock did not serve " + service.toStdString() + " (exit " +
                          std::to_string(started->exitCode()) + ")";
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
    // A test that crashes or is killed takes its bus and services with it, so
    // nothing is left holding the test runner's output open.
    static void endWithTheTest(QProcess& process) {
        process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    }
    static int& counter() {
        static int n = 0;
        return n;
    }
    bool waitForLine() {
        if (!waitUntil(
                [&] {
                    daemon_.waitForReadyRead(10);
                    return daemon_.canReadLine();
                },
                10000)) {
            return false;
        }
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        return !address_.isEmpty();
    }

    QProcess daemon_;
    QString address_;
    QString name_;
    std::unique_ptr<QDBusConnection> bus_;
    QTemporaryDir logDir_;
    std::vector<std::unique_ptr<QProcess>> mocks_;
    std::vector<std::pair<QString, QString>> logs_;
    std::string skipReason_;
};

}  // namespace tarvo::test
