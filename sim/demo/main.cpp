// tarvo-remote-demo: the real window of the update tool on the simulated
// platform — a virtual controller, a firmware server on 127.0.0.1 and a
// bootloader volume in a private folder. See demoUsage() for the options.
#include <QApplication>
#include <QDBusConnection>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>

#include "sim/demo/command_arguments.h"
#include "sim/demo/demo_driver.h"
#include "sim/demo/demo_options.h"
#include "sim/demo/demo_report.h"
#include "sim/demo/note.h"
#include "sim/demo/screenshots.h"
#include "sim/firmware_format.h"
#include "sim/simulated_platform.h"
#include "tcontroller/app_delegate.h"
#include "tcontroller/base/log.h"
#include "tcontroller/base/log_file.h"
#include "tcontroller/cli/cli_options.h"
#include "tcontroller/cli/command_runner.h"
#include "tcontroller/cli/station_runner.h"
#include "tcontroller/platform/linux/freedesktop_notifier.h"
#include "tcontroller/platform/linux/launcher_entry.h"
#include "tcontroller/platform/linux/logind_sleep_inhibitor.h"
#include "tcontroller/translations.h"
#include "tcontroller/ui/station/station_window.h"
#include "tcontroller/ui/view_controller.h"
#include "tcontroller/update/taskbar_feed.h"

namespace {

using namespace tarvo;
using demo::finishRun;
using demo::LookalikeDrive;
using demo::note;
using demo::readWholeFile;
using namespace std::chrono_literals;

bool haveDisplay() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

// Switches the server's fault on once the version history has arrived, so
// the release download is what meets it, whoever presses the buttons: --auto,
// a user of the window, or a command. The engine says so in the same turn of
// the main thread that brings the history, before a press waiting for it can
// start a download.
void faultServerAfterHistory(UpdateEngine& engine, sim::FirmwareServer& server,
                             sim::ServerFault fault) {
    if (fault == sim::ServerFault::none) {
        return;
    }
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(&engine, &UpdateEngine::changed, &engine,
                                   [&engine, &server, fault, connection] {
                                       if (!engine.snapshot().hasNetwork) {
                                           return;
                                       }
                                       QObject::disconnect(*connection);
                                       server.setFault(fault);
                                       note("server fault switched on");
                                   });
}

// Plugs the controllers in (as their bootloader volumes with --bootloader):
// the first now, the others --plug-interval apart, or all now without it.
// `later` runs a step on the main thread after a delay in milliseconds.
void plugControllers(sim::SimulatedPlatform& sim, const demo::DemoOptions& options,
                     const std::function<void(int, std::function<void()>)>& later) {
    for (int k = 1; k <= sim.controllerCount(); ++k) {
        sim::VirtualController* controller = &sim.controller(k);
        const auto plug = [controller, &options, k, &sim] {
            if (sim.controllerCount() > 1) {
                note("controller " + std::to_string(k) + " on USB port " +
                     controller->config().port + " is plugged in");
            }
            if (options.bootloader) {
                controller->startInBootloader();
            } else {
                controller->plug();
            }
        };
        const double seconds = options.plugIntervalSeconds * (k - 1);
        later(static_cast<int>(std::lround(seconds * 1000)), plug);
    }
}

// Runs a plug step at once, or that many milliseconds later on the main thread.
void plugSoon(int milliseconds, std::function<void()> step) {
    if (milliseconds == 0) {
        step();
    } else {
        QTimer::singleShot(milliseconds, std::move(step));
    }
}

// A sub-command of the tool's command line on the simulated world: the engine
// without a window, its answers on standard output as the tool prints them.
int runCommand(const CliOptions& command, const demo::DemoOptions& options,
               sim::SimulatedPlatform& sim, LookalikeDrive& lookalike) {
    const bool update = command.command == CliOptions::Command::update ||
                        command.command == CliOptions::Command::station;
    setStdoutStyle(!update        ? StdoutStyle::quiet
                   : command.json ? StdoutStyle::json
                                  : StdoutStyle::plain);
    if (options.lookalikeDrive && !lookalike.plugIn(sim)) {
        std::fprintf(stderr, "tarvo-remote-demo: cannot make the look-alike drive in %s\n",
                     lookalike.path.c_str());
        return demo::kExitFailed;
    }
    if (command.command == CliOptions::Command::station || command.all) {
        // Several controllers: the station, an engine per port.
        Station station(sim.platform());
        if (options.serverFault != sim::ServerFault::none) {
            sim.server().setFault(options.serverFault);
        }
        StationRunner::Limits limits;
        limits.update = options.timeoutSeconds;
        StationRunner runner(station, command, CommandRunner::Io::terminal(), limits);
        if (options.bootloader) {
            plugControllers(sim, options, [](int milliseconds, std::function<void()> step) {
                QTimer::singleShot(milliseconds, std::move(step));
            });
        }
        int status = runner.runWithCtrlC();
        flushLog(2.0);
        return finishRun(status, sim, options, lookalike);
    }
    auto engine = std::make_unique<UpdateEngine>(sim.platform());
    faultServerAfterHistory(*engine, sim.server(), options.serverFault);
    CommandRunner::Limits limits;
    limits.update = options.timeoutSeconds;
    CommandRunner runner(*engine, command, CommandRunner::Io::terminal(), limits);
    if (options.bootloader) {
        // Once the engine watches mounts, as in the window's run.
        plugControllers(sim, options, [](int milliseconds, std::function<void()> step) {
            QTimer::singleShot(milliseconds, std::move(step));
        });
    }
    int status = runner.runWithCtrlC();
    flushLog(2.0);
    status = finishRun(status, sim, options, lookalike);
    return status;
}

// Options that only the window's run has a use for.
bool windowOnly(const demo::DemoOptions& options) {
    return options.autoRun || !options.screenshotsDir.empty() || !options.restartAfter.empty();
}

// The window on the simulated world, pressed through by the demo's driver
// with --auto (and started again once with --restart-after).
int runWindow(const demo::DemoOptions& options, sim::SimulatedPlatform& sim,
              LookalikeDrive& lookalike, TaskbarEntry& taskbar) {
    int status = 0;
    std::unique_ptr<ViewController> window = AppDelegate::makeMainWindow(sim.platform());
    feedTaskbar(window->engine(), taskbar);
    if (options.lookalikeDrive && !lookalike.plugIn(sim)) {
        std::fprintf(stderr, "tarvo-remote-demo: cannot make the look-alike drive in %s\n",
                     lookalike.path.c_str());
        return demo::kExitFailed;
    }
    if (options.bootloader) {
        // Only now: the window watches mounts from here on, and a drive that
        // was mounted before the tool started watching would go unseen.
        plugControllers(sim, options, plugSoon);
    }
    faultServerAfterHistory(window->engine(), sim.server(), options.serverFault);
    auto driver = std::make_unique<demo::DemoDriver>(sim, *window, options);
    driver->start();
    status = QApplication::exec();
    if (driver->restartRequested()) {
        // Closed as a user (or a crash) would close it: the window and all
        // it owns go; the controller, the server and the state folder stay.
        const std::string target = driver->target();
        driver.reset();
        window.reset();
        note("the tool is started again");
        window = AppDelegate::makeMainWindow(sim.platform());
        feedTaskbar(window->engine(), taskbar);
        driver = std::make_unique<demo::DemoDriver>(sim, *window, options);
        driver->resume(target);
        driver->start();
        status = QApplication::exec();
    }
    if (options.autoRun) {
        status = driver->exitCode();
    }
    status = finishRun(status, sim, options, lookalike);
    // The driver goes first (it removes its log tap), then the window, and
    // the simulated platform last: the window's threads use it to the end.
    return status;
}

// The station's view on the simulated hub. With --screenshots it updates
// every controller by itself, pictures the view before, during and after,
// and ends with 0 when all were verified.
int runStationView(const demo::DemoOptions& options, sim::SimulatedPlatform& sim) {
    Station station(sim.platform());
    StationWindow view(station);
    station.start();
    view.show();
    if (options.screenshotsDir.empty()) {
        return QApplication::exec();
    }
    demo::Screenshots shots(options.screenshotsDir);
    enum class Step { settle, updating, done } step = Step::settle;
    int status = demo::kExitFailed;
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const std::vector<StationRow> rows = station.rows();
        const auto all = [&rows](const auto& holds) {
            return std::all_of(rows.begin(), rows.end(), holds);
        };
        switch (step) {
            case Step::settle:
                if (static_cast<int>(rows.size()) == sim.controllerCount() &&
                    all([&](const StationRow& row) {
                        return row.supported && !station.engine(row.port)->awaitingHistory();
                    })) {
                    shots.take("station-idle", &view);
                    note("updating every controller");
                    station.updateAll();
                    step = Step::updating;
                }
                return;
            case Step::updating:
                if (all([](const StationRow& row) {
                        return row.state == StationRow::State::updating && row.percent >= 40;
                    })) {
                    shots.take("station-updating", &view);
                }
                if (!station.busy()) {
                    shots.take("station-done", &view);
                    status = all([](const StationRow& row) {
                        return row.state == StationRow::State::verified;
                    })
                                 ? demo::kExitUpdated
                                 : demo::kExitFailed;
                    step = Step::done;
                    QApplication::quit();
                }
                return;
            case Step::done:
                return;
        }
    });
    poll.start();
    QTimer::singleShot(options.timeoutSeconds * 1000, [] { QApplication::quit(); });
    QApplication::exec();
    return status;
}

// A command, the station's view or the window: what the arguments ask for.
int run(const std::optional<CliOptions>& command, const demo::DemoOptions& options,
        sim::SimulatedPlatform& sim, LookalikeDrive& lookalike, TaskbarEntry& taskbar) {
    if (command) {
        return runCommand(*command, options, sim, lookalike);
    }
    if (options.stationView) {
        return runStationView(options, sim);
    }
    return runWindow(options, sim, lookalike, taskbar);
}

}  // namespace

int main(int argc, char** argv) {
    if (!haveDisplay() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);  // takes Qt's own options out of argv
    QApplication::setApplicationName(QStringLiteral("Tarvo Remote Firmware Update"));
    QApplication::setDesktopFileName(QStringLiteral("com.tarvo.RemoteFirmwareUpdate"));
    // The window in the user's language, as the tool shows it; the log stays English.
    if (const QString translation = installTranslations(app, TARVO_SOURCE_RESOURCES_DIR);
        !translation.isEmpty()) {
        note("translation " + translation.toStdString());
    }

    // With a sub-command the tool's command line runs on the simulated world
    // instead of the window: `tarvo-remote-demo update --yes --json --fast`.
    std::vector<std::string> args(argv + 1, argv + argc);
    std::optional<CliOptions> command;
    if (const std::optional<int> wrong = demo::takeCommand(args, &command)) {
        return *wrong;
    }
    demo::DemoOptions options;
    std::string error;
    switch (demo::parseDemoOptions(args, &options, &error)) {
        case demo::ParseOutcome::help:
            std::fputs(demo::demoUsage(), stdout);
            return 0;
        case demo::ParseOutcome::error:
            std::fprintf(stderr, "tarvo-remote-demo: %s\n\n%s", error.c_str(), demo::demoUsage());
            return demo::kExitUsage;
        case demo::ParseOutcome::run:
            break;
    }
    if (command && windowOnly(options)) {
        std::fprintf(stderr,
                     "tarvo-remote-demo: --auto, --screenshots and --restart-after belong to "
                     "the window, not to a command\n");
        return demo::kExitUsage;
    }
    // The support log, as the tool keeps it; standard output is unchanged.
    const auto logFile = startLogFile(defaultLogDirectory());
    note(logFile.ok() ? "support log " + *logFile.value : "no support log: " + logFile.error);

    std::string history;
    if (options.historyFile && !readWholeFile(*options.historyFile, &history)) {
        std::fprintf(stderr, "tarvo-remote-demo: cannot read %s\n", options.historyFile->c_str());
        return demo::kExitUsage;
    }

    sim::SimulatedPlatform::Options simOptions;
    simOptions.clock = options.fast ? sim::SimulatedPlatform::ClockKind::fast
                                    : sim::SimulatedPlatform::ClockKind::system;
    simOptions.network =
        options.offline ? Reachability::Connection::unavailable : Reachability::Connection::wifi;
    simOptions.server.generateAnyVersion = options.historyFile.has_value();
    // A tool started again finds the same controller, as a real one outlives
    // the tool.
    simOptions.keepController = !options.restartAfter.empty();
    simOptions.controllers = options.controllers;
    if (options.imageSize) {
        if (*options.imageSize >= sim::kReleaseHeaderSize + sim::kReleaseTrailerSize) {
            simOptions.server.imageSize = *options.imageSize;
        } else {
            // Too short for a release file's header: a few bytes of no format.
            for (sim::PublishedRelease& release : options.releases) {
                release.image = Bytes(*options.imageSize, 0xA5);
            }
        }
    }
    std::unique_ptr<sim::SimulatedPlatform> platform;
    try {
        platform = std::make_unique<sim::SimulatedPlatform>(simOptions);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarvo-remote-demo: %s\n", e.what());
        return demo::kExitFailed;
    }
    sim::SimulatedPlatform& sim = *platform;

    sim::FirmwareServer& server = sim.server();
    server.setRequestLog(sim::FirmwareServer::stderrRequestLog());
    server.publish(options.releases);
    if (options.historyFile) {
        server.setHistoryBody(history);
    }
    if (options.historyDelaySeconds > 0) {
        server.setHistoryDelay(std::chrono::milliseconds(
            static_cast<long long>(std::llround(options.historyDelaySeconds * 1000))));
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", options.historyDelaySeconds);
        note(std::string("the server answers the version history ") + seconds + " s late");
    }

    for (int k = 1; k <= sim.controllerCount(); ++k) {
        sim::VirtualController& controller = sim.controller(k);
        controller.updateConfig([&options](sim::VirtualController::Config& config) {
            config.model = options.controllerModel;
            config.versionChars = sim::versionCharsFor(options.controllerFirmware);
            config.verbose = true;
            // Reports go out at the pace of a full-speed USB endpoint, as on a real cable.
            config.pacing = !options.unpaced;
            // The bootloader takes its time to flash, as a real one does.
            config.timings.flash = 600ms;
            if (!options.restartAfter.empty()) {
                // The drive appears once the closed tool is gone: the tool started
                // again is the one that finds it.
                config.timings.mount = 1500ms;
            }
        });
        const sim::DeviceFault fault = options.faultOf(k);
        if (fault != sim::DeviceFault::none) {
            controller.setFaults(sim::VirtualController::Faults::of(fault));
            note((sim.controllerCount() > 1 ? "controller " + std::to_string(k) + ": " : "") +
                 "device fault " + demo::deviceFaultName(fault) + ": " +
                 demo::deviceFaultEffect(fault));
        }
    }

    note("firmware server " + server.baseAddress() + ", bootloader volume \"" +
         sim.bootloaderPath() + "\"");
    for (int k = 2; k <= sim.controllerCount(); ++k) {
        note("controller " + std::to_string(k) + " on USB port " + sim.controller(k).config().port +
             ", bootloader volume \"" + sim.bootloaderPath(k) + "\"");
    }
    note(std::string("controller model ") + options.controllerModel + ", firmware " +
         options.controllerFirmware +
         (options.bootloader ? ", starting in its bootloader" : ", plugged in"));
    if (!options.bootloader) {
        // Reported as soon as the tool starts watching HID.
        plugControllers(sim, options, plugSoon);
    }
    if (!command && !options.autoRun && !haveDisplay()) {
        note("no display and no --auto: the window is offscreen; stop with Ctrl-C");
    }

    // The desktop's own services where there is a bus: the computer really is
    // kept awake during the update, and the desktop is told when it ends.
    std::unique_ptr<LogindSleepInhibitor> inhibitor;
    std::unique_ptr<FreedesktopNotifier> notifier;
    if (QDBusConnection::systemBus().isConnected()) {
        inhibitor = std::make_unique<LogindSleepInhibitor>(QDBusConnection::systemBus());
        note("sleep inhibitor: the login manager on the system bus");
    }
    if (QDBusConnection::sessionBus().isConnected()) {
        notifier = std::make_unique<FreedesktopNotifier>(QDBusConnection::sessionBus(),
                                                         QApplication::applicationName(),
                                                         QApplication::desktopFileName());
        note("notifications: the desktop's notification server");
    }
    sim.useDesktopServices(inhibitor.get(), notifier.get());
    // The update's progress on the tool's icon in the dock, as the tool shows it.
    LauncherEntry launcher(QDBusConnection::sessionBus(), QApplication::desktopFileName());

    LookalikeDrive lookalike;
    return run(command, options, sim, lookalike, launcher);
}
