#pragma once

// An end-to-end rig: the update engine on the simulated platform (virtual
// controller, loopback firmware server, bootloader volume, real libcurl reads
// and real files), on the instant clock; driven through its commands alone, as
// a front end without widgets would, or through the real window.
#include <gtest/gtest.h>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "sim/firmware_format.h"
#include "sim/simulated_platform.h"
#include "support/test_support.h"
#include "tcontroller/ui/view_controller.h"
#include "tcontroller/update/update_engine.h"

namespace tarvo::test {

using namespace std::chrono_literals;
using UpSta = Util::UpSta;
using UpMode = Util::UpMode;

struct Rig {
    explicit Rig(const sim::SimulatedPlatform::Options& options = {}) : sim(options) {
        // Long enough for the front end to take the result before the
        // controller leaves its bootloader, also under the sanitizers.
        sim.controller().updateConfig([](auto& config) { config.timings.flash = 600ms; });
    }
    // Whatever a test does, the tool never sends a frame the controller rejects.
    ~Rig() {
        if (sim.instantClock() != nullptr) {
            sim.instantClock()->release();
        }
        // Asked before the tool goes: the engine owns the controller (as the
        // HID monitor the simulated platform hands it).
        EXPECT_EQ(sim.controller().violationCount(), 0u);
        window.reset();
        owned.reset();
    }

    void publishDefault() {
        sim.server().publish({{"1.3", "2020-01-15", std::nullopt, std::nullopt},
                              {"1.2", "2019-10-22", std::nullopt, std::nullopt}});
    }

    // The engine alone on `platform` (the simulated one by default).
    // "Update complete!" is read as soon as it is up, as a front end would.
    void start(const Platform* platform = nullptr) {
        owned = std::make_unique<UpdateEngine>(platform ? *platform : sim.platform());
        engine = owned.get();
        QObject::connect(engine, &UpdateEngine::changed, engine, [this] {
            QMetaObject::invokeMethod(
                engine,
                [this] {
                    if (engine->snapshot().complete) {
                        ++completions;
                        engine->acknowledgeSuccess();
                    }
                },
                Qt::QueuedConnection);
        });
        watchProgress();
        engine->start();
    }
    // The window, as the application builds it at launch. OK is pressed on
    // its "Update complete!" dialog whenever that is open (the dialog runs
    // its own event loop, so from a timer inside it).
    void startWindow() {
        window = std::make_unique<ViewController>(sim.platform());
        engine = &window->engine();
        QObject::connect(&clicker, &QTimer::timeout, &clicker, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box != nullptr && box->informativeText() == "Update complete!") {
                ++completions;
                // The tool's own icon, not a warning sign, and one button.
                // Behind it the finished update's view stays, without the
                // controller's name and version and with nothing to press.
                auto* left = window->findChild<QWidget*>(QStringLiteral("leftBut"));
                auto* version = window->findChild<QLabel*>(QStringLiteral("FWLabel"));
                completionLooksRight =
                    !box->iconPixmap().isNull() && box->icon() == QMessageBox::NoIcon &&
                    box->buttons().size() == 1 && left != nullptr && !left->isEnabled() &&
                    version != nullptr && version->text().isEmpty();
                box->buttons().front()->click();
            }
        });
        clicker.start(10);
        watchProgress();
        window->viewDidLoad();
    }
    UpdateSnapshot state() const { return engine->snapshot(); }

    // The engine on the simulated platform, but with the test's own volume
    // notifications and file system and, when given, the mount points where
    // the controller's drive may be; nothing on HID and no network, so only a
    // drive that appears starts anything: it is recovered with the built-in release.
    void startOnDrives(VolumeWatcher& volumes, FileSystem& files,
                       std::vector<std::string> mountPoints = {}) {
        drives = sim.platform();
        drives.volumeWatcher = &volumes;
        drives.fileSystem = &files;
        if (!mountPoints.empty()) {
            drives.bootloaderMountPoints = std::move(mountPoints);
        }
        drives.hidMonitorFactory = nullptr;
        drives.reachabilityFactory = nullptr;
        start(&drives);
    }
    // Waits until the first network report and the release list it brings are handled.
    bool waitSettled() {
        return waitUntil(
            [&] { return sim.reachability()->stopped() && !engine->awaitingHistory(); });
    }
    // The controller plugged in, then the engine started: waitIdle().
    bool startIdle(const std::string& fw = "1.1") {
        sim.controller().plug();
        start();
        return waitIdle(fw);
    }
    // ...and for the controller to be identified with `fw`.
    bool waitIdle(const std::string& fw = "1.1") {
        return waitSettled() && waitUntil([&] {
                   const UpdateSnapshot s = state();
                   return s.identified && s.fw == fw;
               });
    }
    // The cable pulled and put back: the controller has left and is identified again.
    bool replug() {
        sim.controller().unplug();
        if (!waitUntil([&] { return !state().attached; })) {
            return false;
        }
        sim.controller().plug();
        return waitUntil([&] { return engine->controllerIdentified(); });
    }
    bool waitStatus(UpSta sta) {
        return waitUntil([&] { return state().sta == sta; });
    }
    bool waitLog(const std::string& line) {
        return waitUntil([&] { return log.contains(line); });
    }
    // Asks for the newest release (the left button) and waits until it is
    // prepared: its files held, the confirmation due.
    bool prepareNewest() {
        engine->updateToNewest();
        return waitUntil([&] {
            const UpdateSnapshot s = state();
            return s.mode != UpMode::none && s.filesHeld && !s.downloading;
        });
    }
    // A controller of firmware 1.1 identified, the watchdog held, and (on a
    // platform without network) the built-in release 1.2 prepared.
    void prepareBuiltIn() {
        ASSERT_TRUE(startIdle());
        sim.instantClock()->holdSleepsOfAtLeast(5.0);
        ASSERT_TRUE(prepareNewest());
        ASSERT_EQ(state().mode, UpMode::bIn);
    }
    // The built-in release's firmware file, as the tool's own reads see it.
    Bytes builtInFirmware() const {
        return *sim.platform()
                    .reads
                    ->readBytes("file://" + std::string(TARVO_SOURCE_RESOURCES_DIR) + "/TFW/FW.bin")
                    .value;
    }

    LogCapture log;
    sim::SimulatedPlatform sim;
    Platform drives;  // startOnDrives(): the engine keeps a reference to it
    QTimer clicker;
    int completions = 0;  // "Update complete!" read
    bool completionLooksRight = false;
    std::vector<int> progressValues;  // every value of the bar, in order
    std::unique_ptr<ViewController> window;
    std::unique_ptr<UpdateEngine> owned;
    UpdateEngine* engine = nullptr;

  private:
    void watchProgress() {
        QObject::connect(engine, &UpdateEngine::progressChanged, engine,
                         [this](int v) { progressValues.push_back(v); });
    }
};

// Skips the test where a tmpfs cannot be mounted (without CAP_SYS_ADMIN).
#define TARVO_SKIP_WITHOUT_TMPFS()                          \
    do {                                                    \
        std::string why_;                                   \
        if (!sim::BootloaderVolume::canMountTmpfs(&why_)) { \
            GTEST_SKIP() << why_;                           \
        }                                                   \
    } while (false)

inline sim::SimulatedPlatform::Options offline() {
    sim::SimulatedPlatform::Options options;
    options.network = Reachability::Connection::unavailable;
    return options;
}

}  // namespace tarvo::test
