// The tool's entry: the command line, one running tool per user session, the
// support log, the real Linux services, then one window and the Qt event loop,
// or a sub-command run headless on the same engine.
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "tcontroller/app_delegate.h"
#include "tcontroller/base/log.h"
#include "tcontroller/base/log_file.h"
#include "tcontroller/catalogue/builtin_files.h"
#include "tcontroller/cli/cli_options.h"
#include "tcontroller/cli/command_runner.h"
#include "tcontroller/cli/doctor.h"
#include "tcontroller/cli/station_runner.h"
#include "tcontroller/platform/linux/launcher_entry.h"
#include "tcontroller/platform/linux/linux_platform.h"
#include "tcontroller/single_instance.h"
#include "tcontroller/translations.h"
#include "tcontroller/ui/station/station_window.h"
#include "tcontroller/ui/view_controller.h"
#include "tcontroller/update/taskbar_feed.h"

namespace {

using tarvo::kExitUsage;

constexpr char kProgramName[] = "tarvo-remote-update";
constexpr char kNoDisplay[] =
    "No display found: run it on a desktop, or see tarvo-remote-update --help for the command "
    "line\n";

// True when each platform of a QT_QPA_PLATFORM value (or -platform) draws on
// a display server: unset (Qt picks X11 or Wayland), xcb, wayland. A list
// ("wayland;xcb") is tried in order, so one platform that needs no server
// (offscreen, minimal, vnc, linuxfb, eglfs...) is enough. Options after ':'
// do not change the platform.
bool needsDisplayServer(const QString& platforms) {
    const QStringList names = platforms.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    return std::all_of(names.begin(), names.end(), [](const QString& entry) {
        const QString name = entry.section(QLatin1Char(':'), 0, 0).trimmed();
        return name.isEmpty() || name == QLatin1String("xcb") ||
               name.startsWith(QLatin1String("wayland"));
    });
}

bool environmentSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Reads the command line before any window system is touched, so --help and
// --version work without a display. Returns the exit status when the tool
// should end here.
std::optional<int> handleCommandLine(int argc, char** argv) {
    // A core application only: it needs no display. Its first argument is
    // the program's name, not the path it was started by, so that the usage
    // line reads "tarvo-remote-update [options]" however it was started.
    std::vector<char*> arguments(argv, argv + argc);
    std::string name = kProgramName;
    arguments.front() = name.data();
    int count = argc;
    QCoreApplication core(count, arguments.data());
    QCoreApplication::setApplicationName(QStringLiteral("tarvo-remote-update"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARVO_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Updates the firmware of the Tarvo Remote controller over USB.\n"
                       "Built-in release: %1 (%2).\n"
                       "Support log: %3/%4")
            .arg(QString::fromLatin1(tarvo::kBuiltinVersion),
                 QString::fromLatin1(tarvo::kBuiltinDate),
                 QString::fromStdString(tarvo::defaultLogDirectory()),
                 QString::fromLatin1(tarvo::kLogFileName)));
    // Qt's options are written with one dash ("-platform offscreen").
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    // The options every Qt GUI program takes (QGuiApplication reads them).
    for (const char* name :
         {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
          "qwindowicon", "qwindowtitle", "display", "geometry", "style", "stylesheet"}) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "tarvo-remote-update: %s\n\n%s", qPrintable(parser.errorText()),
                     qPrintable(parser.helpText()));
        return kExitUsage;
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        std::fputs(("\n" + tarvo::cliUsage()).c_str(), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("tarvo-remote-update %s (built-in firmware release %s, %s)\n", TARVO_VERSION,
                    tarvo::kBuiltinVersion, tarvo::kBuiltinDate);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "tarvo-remote-update: unexpected argument \"%s\"\n\n%s",
                     qPrintable(parser.positionalArguments().constFirst()),
                     qPrintable(parser.helpText()));
        return kExitUsage;
    }
    // Without a display Qt's platform plugin ends the program with an abort
    // (and a core dump): say what to do instead.
    const QString platform = parser.isSet(QStringLiteral("platform"))
                                 ? parser.value(QStringLiteral("platform"))
                                 : qEnvironmentVariable("QT_QPA_PLATFORM");
    if (needsDisplayServer(platform) && !environmentSet("DISPLAY") &&
        !environmentSet("WAYLAND_DISPLAY") && !parser.isSet(QStringLiteral("display"))) {
        std::fputs(kNoDisplay, stderr);
        return tarvo::kExitFailed;
    }
    return std::nullopt;
}

// While the window system is opened: a platform plugin that still cannot
// start (a display that is set but cannot be reached) is a fatal message of
// Qt's, which aborts. The tool ends instead with the same advice as without a
// display, after Qt's own warnings about the cause.
QtMessageHandler qtMessages = nullptr;
void endOnFatalMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        qtMessages(type, context, text);
        return;
    }
    std::fputs(kNoDisplay, stderr);
    tarvo::flushLog(1.0);
    std::fflush(stdout);
    std::_Exit(tarvo::kExitFailed);
}

// How long a second start waits for the running tool to answer.
constexpr std::chrono::milliseconds kRaiseWait{2000};

// A second start in the same session asks the running tool to show its window
// and ends: two tools would watch the same controller, either could start an
// update, and both would write the same support log. Returns the exit status
// when this start should end here.
std::optional<int> meetRunningTool(int argc, char** argv, tarvo::SingleInstance& instance) {
    const tarvo::Result<tarvo::SingleInstance::Claim> claim = instance.claim();
    if (!claim.ok()) {
        // Better two tools than none.
        std::fprintf(stderr, "tarvo-remote-update: cannot check for a running instance: %s\n",
                     claim.error.c_str());
        return std::nullopt;
    }
    if (*claim.value == tarvo::SingleInstance::Claim::First) {
        return std::nullopt;
    }
    // The socket needs an application object, not a display.
    const QCoreApplication core(argc, argv);
    if (instance.askToRaise(kRaiseWait)) {
        std::fputs("tarvo-remote-update: already running; its window was brought to the front\n",
                   stderr);
    } else {
        std::fputs("tarvo-remote-update: already running; its window did not answer\n", stderr);
    }
    return 0;
}

void bringToFront(QWidget& window) {
    if (window.isMinimized()) {
        window.showNormal();
    }
    window.raise();
    window.activateWindow();
}

// `doctor`: reads udev's rules and sysfs, asks the system bus and the firmware
// server once, and looks at the state folder. It opens no controller and
// starts no engine, so it needs no claim against a running tool; nor does it
// open the support log, whose folder it checks.
int runDoctorCommand(int argc, char** argv, const tarvo::CliOptions& options) {
    tarvo::setStdoutStyle(tarvo::StdoutStyle::quiet);
    std::signal(SIGPIPE, SIG_IGN);
    const QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvo-remote-update"));
    const tarvo::LinuxPlatform linux(
        TARVO_SERVER_BASE,
        tarvo::findResourcesDir(QCoreApplication::applicationDirPath().toStdString()));
    const std::vector<tarvo::DoctorCheck> checks =
        tarvo::runDoctor(linux.platform(), QDBusConnection::systemBus());
    tarvo::printLine(options.json ? tarvo::doctorJson(checks) : tarvo::doctorText(checks));
    tarvo::flushLog(2.0);
    return tarvo::doctorExitStatus(checks);
}

// A sub-command: the same engine and services as the window, no display.
int runSubCommand(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const tarvo::CliParse parsed = tarvo::parseCliArguments(args);
    if (!parsed.options) {
        std::fprintf(stderr, "tarvo-remote-update: %s\n\n%s", parsed.error.c_str(),
                     tarvo::cliUsage().c_str());
        return kExitUsage;
    }
    const tarvo::CliOptions& options = *parsed.options;
    if (options.command == tarvo::CliOptions::Command::doctor) {
        return runDoctorCommand(argc, argv, options);
    }
    // The window and a command never watch the same controller at once.
    tarvo::SingleInstance instance(tarvo::SingleInstance::defaultFolder(), "tarvo-remote-update");
    if (const auto claim = instance.claim();
        claim.ok() && *claim.value != tarvo::SingleInstance::Claim::First) {
        std::fputs("tarvo-remote-update: the tool is running already; close it first\n", stderr);
        return tarvo::kExitFailed;
    }
    const auto logFile = tarvo::startLogFile(tarvo::defaultLogDirectory());
    if (!logFile.ok()) {
        std::fprintf(stderr, "tarvo-remote-update: no support log: %s\n", logFile.error.c_str());
    }
    // An update shows its log as the window's tool does (as JSON lines with
    // --json); status and releases print only their answer.
    const bool update = options.command == tarvo::CliOptions::Command::update ||
                        options.command == tarvo::CliOptions::Command::station;
    tarvo::setStdoutStyle(!update        ? tarvo::StdoutStyle::quiet
                          : options.json ? tarvo::StdoutStyle::json
                                         : tarvo::StdoutStyle::plain);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvo-remote-update"));
    const std::string resources =
        tarvo::findResourcesDir(QCoreApplication::applicationDirPath().toStdString());
    if (!options.json) {
        tarvo::installTranslations(app, resources);
    }
    tarvo::LinuxPlatform linux(TARVO_SERVER_BASE, resources);
    std::signal(SIGPIPE, SIG_IGN);
    int status = tarvo::kExitFailed;
    if (options.command == tarvo::CliOptions::Command::station || options.all) {
        // Several controllers: an engine per USB port.
        tarvo::Station station(linux.platform());
        tarvo::StationRunner runner(station, options, tarvo::CommandRunner::Io::terminal(), {});
        status = runner.runWithCtrlC();
    } else {
        tarvo::UpdateEngine engine(linux.platform());
        tarvo::CommandRunner runner(engine, options, tarvo::CommandRunner::Io::terminal(), {});
        status = runner.runWithCtrlC();
    }
    tarvo::flushLog(2.0);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && tarvo::isSubCommand(argv[1])) {
        return runSubCommand(argc, argv);
    }
    if (const std::optional<int> status = handleCommandLine(argc, argv)) {
        std::fflush(stdout);
        return *status;
    }
    // Before the support log is opened: a second start never touches the
    // running tool's log.
    tarvo::SingleInstance instance(tarvo::SingleInstance::defaultFolder(), "tarvo-remote-update");
    if (const std::optional<int> status = meetRunningTool(argc, argv, instance)) {
        return *status;
    }
    // Without a log file the tool still works; standard output keeps the log.
    const auto logFile = tarvo::startLogFile(tarvo::defaultLogDirectory());
    if (!logFile.ok()) {
        std::fprintf(stderr, "tarvo-remote-update: no support log: %s\n", logFile.error.c_str());
    }
    qtMessages = qInstallMessageHandler(endOnFatalMessage);
    QApplication app(argc, argv);
    qInstallMessageHandler(qtMessages);
    QApplication::setApplicationName(QStringLiteral("Tarvo Remote Firmware Update"));
    QApplication::setApplicationVersion(QStringLiteral(TARVO_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("com.tarvo.RemoteFirmwareUpdate"));
    const std::string resources =
        tarvo::findResourcesDir(QCoreApplication::applicationDirPath().toStdString());
    tarvo::installTranslations(app, resources);
    tarvo::LinuxPlatform linux(TARVO_SERVER_BASE, resources);
    tarvo::AppDelegate delegate;
    // The update's progress on the tool's icon in the dock; it outlives the window.
    tarvo::LauncherEntry launcher(QDBusConnection::sessionBus(), QApplication::desktopFileName());
    auto window = tarvo::AppDelegate::makeMainWindow(linux.platform());
    tarvo::feedTaskbar(window->engine(), launcher);
    QObject::connect(&instance, &tarvo::SingleInstance::raiseRequested, window.get(),
                     [&window = *window] {
                         tarvo::logLine("another start: window brought to the front");
                         bringToFront(window);
                     });
    // The station view takes over from the window: the window (and its
    // engine, which speaks to a controller) goes first, then an engine per
    // port takes the controllers.
    std::unique_ptr<tarvo::Station> station;
    std::unique_ptr<tarvo::StationWindow> stationWindow;
    QObject::connect(window.get(), &tarvo::ViewController::stationRequested, &app, [&] {
        QTimer::singleShot(0, &app, [&] {
            if (stationWindow) {
                bringToFront(*stationWindow);
                return;
            }
            tarvo::logLine("station view opened");
            window.reset();
            station = std::make_unique<tarvo::Station>(linux.platform());
            stationWindow = std::make_unique<tarvo::StationWindow>(*station);
            QObject::connect(&instance, &tarvo::SingleInstance::raiseRequested, stationWindow.get(),
                             [&] { bringToFront(*stationWindow); });
            station->start();
            stationWindow->show();
        });
    });
    if (const tarvo::Result<void> listening = instance.listen(); !listening.ok()) {
        // A second start then says that the tool runs, without showing it.
        tarvo::logLine("another start cannot reach this one: " +
                       tarvo::escapeForLog(listening.error));
    }
    delegate.applicationDidFinishLaunching();
    const int status = QApplication::exec();
    delegate.applicationWillTerminate();
    stationWindow.reset();
    station.reset();
    return status;
}
