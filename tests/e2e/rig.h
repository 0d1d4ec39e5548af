#pragma once

// An end-to-end rig: the real window and ViewController on the simulated
// platform (virtual controller, loopback firmware server, bootloader volume,
// real libcurl reads and real files), on the instant clock.
#include <gtest/gtest.h>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "sim/firmware_format.h"
#include "sim/simulated_platform.h"
#include "support/test_support.h"
#include "tcontroller/ui/dialogs/alert_view_controller.h"
#include "tcontroller/ui/image_button.h"
#include "tcontroller/ui/view_controller.h"

namespace tarvo::test {

using namespace std::chrono_literals;

// Presses OK on the "Update complete!" dialog whenever it is open. The dialog
// runs its own event loop, so this works from a timer inside that loop.
class CompletionClicker : public QObject {
  public:
    CompletionClicker() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box != nullptr && box->informativeText() == "Update complete!" && enabled_) {
                ++clicked_;
                icon_ = box->icon();
                iconPixmap_ = !box->iconPixmap().isNull();
                buttons_ = static_cast<int>(box->buttons().size());
                box->buttons().front()->click();
            }
        });
        timer_.start();
    }
    int clicked() const { return clicked_; }
    QMessageBox::Icon icon() const { return icon_; }
    bool hasIconPixmap() const { return iconPixmap_; }
    int buttons() const { return buttons_; }
    void setEnabled(bool on) { enabled_ = on; }

  private:
    QTimer timer_;
    int clicked_ = 0;
    int buttons_ = 0;
    QMessageBox::Icon icon_ = QMessageBox::NoIcon;
    bool iconPixmap_ = false;
    bool enabled_ = true;
};

struct Rig {
    explicit Rig(sim::SimulatedPlatform::Options options = {}) : sim(options) {
        // Long enough for the window to take the result before the
        // controller leaves its bootloader, also under the sanitizers.
        sim.controller().updateConfig([](auto& config) { config.timings.flash = 600ms; });
    }
    ~Rig() {
        if (sim.instantClock() != nullptr) {
            sim.instantClock()->release();
        }
        vc.reset();
    }

    void publishDefault() {
        sim.server().publish({{"1.3", "2020-01-15", std::nullopt, std::nullopt},
                              {"1.2", "2019-10-22", std::nullopt, std::nullopt}});
    }

    // Builds the window and wires it, as the application does at launch.
    void start() {
        vc = std::make_unique<ViewController>(sim.platform());
        QObject::connect(vc->progress, &QProgressBar::valueChanged, vc.get(),
                         [this](int v) { progressValues.push_back(v); });
        vc->viewDidLoad();
    }
    // Waits for the first network report and the release list it brings to be
    // handled, and for the controller to be identified.
    bool waitIdle(const std::string& fw = "1.1") {
        return waitUntil([&] {
            return sim.reachability() != nullptr && sim.reachability()->stopped() &&
                   !vc->awaitingHistory() && vc->readSta.load() == Util::ReadSta::DONE &&
                   vc->hid_FW.get() == fw;
        });
    }
    bool waitStatus(Util::UpSta sta, int ms = kWorkWaitMs) {
        return waitUntil([&] { return vc->updateSta.load() == sta; }, ms);
    }
    bool waitLog(const std::string& line, int ms = kWorkWaitMs) {
        return waitUntil([&] { return log.contains(line); }, ms);
    }
    std::string message() const { return vc->msgLabel->text().toStdString(); }
    // The built-in release's firmware file, as the tool's own reads see it.
    Bytes builtInFirmware() const {
        return *sim.platform()
                    .reads
                    ->readBytes("file://" + std::string(TARVO_SOURCE_RESOURCES_DIR) + "/TFW/FW.bin")
                    .value;
    }

    LogCapture log;
    sim::SimulatedPlatform sim;
    CompletionClicker clicker;
    std::vector<int> progressValues;  // every value the window's bar showed, in order
    std::unique_ptr<ViewController> vc;
};

}  // namespace tarvo::test
