// The station on the simulated platform: several virtual controllers on one
// HID monitor, each with its own drive, updated together.
#include <gtest/gtest.h>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "sim/simulated_platform.h"
#include "support/test_support.h"
#include "tcontroller/station/station.h"
#include "tcontroller/ui/station/station_window.h"
#include "tcontroller/update/update_engine.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;
using State = StationRow::State;
namespace fs = std::filesystem;

constexpr int kStationWaitMs = 120000;

struct StationRig {
    explicit StationRig(int controllers)
        : sim(sim::SimulatedPlatform::Options{.controllers = controllers}) {
        sim.server().publish({{"1.3", "2020-01-15", std::nullopt, std::nullopt},
                              {"1.2", "2019-10-22", std::nullopt, std::nullopt}});
        for (int k = 1; k <= sim.controllerCount(); ++k) {
            // The front end takes the result before the controller restarts.
            sim.controller(k).updateConfig([](auto& config) { config.timings.flash = 300ms; });
        }
    }
    ~StationRig() {
        if (sim.instantClock() != nullptr) {
            sim.instantClock()->release();
        }
        // Asked before the station goes: a lone controller is owned by the
        // HID monitor the simulated platform hands out.
        for (int k = 1; k <= sim.controllerCount(); ++k) {
            EXPECT_EQ(sim.controller(k).violationCount(), 0u) << "controller " << k;
        }
        station.reset();
    }
    // Starts the station with every controller plugged in and waits until
    // each has said what it is.
    void start() {
        station = std::make_unique<Station>(sim.platform());
        for (int k = 1; k <= sim.controllerCount(); ++k) {
            sim.controller(k).plug();
        }
        station->start();
        ASSERT_TRUE(test::waitUntil(
            [&] {
                const auto rows = station->rows();
                return static_cast<int>(rows.size()) == sim.controllerCount() &&
                       std::all_of(rows.begin(), rows.end(), [&](const StationRow& row) {
                           const UpdateEngine* engine = station->engine(row.port);
                           return row.supported && engine != nullptr && !engine->awaitingHistory();
                       });
            },
            kStationWaitMs));
    }
    StationRow row(int k) {
        const std::string port = sim.controller(k).config().port;
        for (const StationRow& row : station->rows()) {
            if (row.port == port) {
                return row;
            }
        }
        ADD_FAILURE() << "no row for " << port;
        return {};
    }

    test::LogCapture log;
    sim::SimulatedPlatform sim;
    std::unique_ptr<Station> station;
};

// Three controllers, the second losing its cable while its image is sent: the
// others are verified with the release byte for byte, the second names its
// step, and the bootloader stages came one after another: no turn was granted
// before the previous holder had finished.
TEST(Station, UpdatesEachControllerAndTheirBootloaderStagesNeverOverlap) {
    StationRig rig(3);
    rig.sim.controller(2).updateFaults([](auto& f) { f.failWritesAfterDataFrames = 200; });
    ASSERT_NO_FATAL_FAILURE(rig.start());
    std::vector<StationRow> finished;
    QObject::connect(rig.station.get(), &Station::finished,
                     [&](const StationRow& row) { finished.push_back(row); });
    EXPECT_EQ(rig.station->updateAll(), 3);
    ASSERT_TRUE(test::waitUntil([&] { return !rig.station->busy(); }, kStationWaitMs));
    EXPECT_EQ(finished.size(), 3u);

    for (const int k : {1, 3}) {
        const StationRow row = rig.row(k);
        EXPECT_EQ(row.state, State::verified) << k << ": " << row.reason;
        EXPECT_EQ(row.before, "1.1");
        EXPECT_EQ(row.after, "1.3");
        EXPECT_EQ(rig.sim.controller(k).receivedImage(), rig.sim.server().imageFile("1.3")) << k;
        EXPECT_EQ(rig.sim.controller(k).receivedFirmware(), rig.sim.server().firmwareFile("1.3"))
            << k;
    }
    const StationRow second = rig.row(2);
    EXPECT_EQ(second.state, State::failed);
    EXPECT_EQ(second.failedStep, "transfer");
    // What happened, without the main window's buttons (no window is open).
    EXPECT_EQ(second.reason,
              "The controller was unplugged or stopped answering while the firmware image was "
              "sent.");

    // Each turn is followed by its holder's end before the next turn.
    std::string holder;
    for (const std::string& line : rig.log.withPrefix("station: ")) {
        const std::string turn = "station: bootloader turn to ";
        if (line.rfind(turn, 0) == 0) {
            EXPECT_EQ(holder, "") << "a turn to " << line.substr(turn.size()) << " while " << holder
                                  << " held it";
            holder = line.substr(turn.size());
        } else if (!holder.empty() && (line == "station: " + holder + " verified 1.3" ||
                                       line.rfind("station: " + holder + " failed", 0) == 0)) {
            holder.clear();
        }
    }
    EXPECT_EQ(holder, "");
    EXPECT_EQ(static_cast<int>(rig.log.withPrefix("station: bootloader turn to ").size()), 2);
}

// A drive labelled "CRP DISABLE" on another port appears while the first
// controller is in its bootloader stage, before the controller's own drive
// (its first final step is lost): it is never written; the controller's own
// drive is, once the final step is sent again.
TEST(Station, ADriveOnAnotherPortIsNeverWritten) {
    StationRig rig(1);
    auto& controller = rig.sim.controller(1);
    controller.updateFaults([](auto& f) { f.mountAfterFinalStep = false; });
    ASSERT_NO_FATAL_FAILURE(rig.start());
    const fs::path foreign = fs::path(rig.sim.bootloaderPath()).parent_path() / "CRP DISABLE5";
    fs::create_directories(foreign);
    bool announced = false;
    QObject::connect(rig.station.get(), &Station::rowsChanged, [&] {
        if (!announced && rig.log.contains("station: bootloader turn to 1-1.1")) {
            announced = true;
            rig.sim.volumeWatcher().announceMount(foreign.string(), "CRP DISABLE", "1-1.5");
            controller.updateFaults([](auto& f) { f.mountAfterFinalStep = true; });
        }
    });
    EXPECT_EQ(rig.station->updateAll(), 1);
    ASSERT_TRUE(test::waitUntil([&] { return !rig.station->busy(); }, kStationWaitMs));
    EXPECT_TRUE(announced);
    EXPECT_EQ(rig.row(1).state, State::verified) << rig.row(1).reason;
    EXPECT_EQ(rig.sim.controller(1).receivedFirmware(), rig.sim.server().firmwareFile("1.3"));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(foreign)) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{});
    // Not even weighed as the controller's: the station never handed it over.
    for (const std::string& line : rig.log.lines()) {
        EXPECT_EQ(line.find("CRP DISABLE5"), std::string::npos) << line;
    }
    fs::remove_all(foreign);
}

// The station view with the keyboard alone: the focus starts in the table,
// Tab walks the controls in reading order, Escape on the question starts
// nothing, Enter takes its default and updates every controller; a screen
// reader finds each cell and hears the last result as an alert.
TEST(Station, TheStationViewWorksFromTheKeyboardAndTellsScreenReaders) {
    StationRig rig(2);
    ASSERT_NO_FATAL_FAILURE(rig.start());
    StationWindow window(*rig.station);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(test::waitUntil([&] { return QApplication::activeWindow() == &window; }));
    auto* table = window.findChild<QTableView*>(QStringLiteral("stationTable"));
    auto* updateAll = window.findChild<QPushButton*>(QStringLiteral("updateAllBut"));
    ASSERT_NE(table, nullptr);
    ASSERT_NE(updateAll, nullptr);
    EXPECT_EQ(QApplication::focusWidget(), table);
    const auto tab = [](Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, modifiers);
        return QApplication::focusWidget();
    };
    EXPECT_EQ(tab(), window.findChild<QComboBox*>(QStringLiteral("releaseBox")));
    EXPECT_EQ(tab(), updateAll);
    EXPECT_EQ(tab(), window.findChild<QCheckBox*>(QStringLiteral("updateOnPlugBox")));
    EXPECT_EQ(tab(), window.findChild<QPushButton*>(QStringLiteral("closeBut")));
    EXPECT_EQ(tab(Qt::ShiftModifier), window.findChild<QCheckBox*>());
    EXPECT_EQ(tab(Qt::ShiftModifier), updateAll);

    QAccessibleInterface* cells = QAccessible::queryAccessibleInterface(table);
    ASSERT_NE(cells, nullptr);
    ASSERT_NE(cells->tableInterface(), nullptr);
    EXPECT_EQ(cells->tableInterface()->rowCount(), 2);
    EXPECT_EQ(cells->tableInterface()->cellAt(1, 0)->text(QAccessible::Name), "1-1.2");

    // The question is answered with a key from inside its own event loop.
    QStringList asked;
    Qt::Key answer = Qt::Key_Escape;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, &answerer, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            asked << box->text();
            QTest::keyClick(box, answer);
        }
    });
    answerer.start(10);
    QTest::keyClick(updateAll, Qt::Key_Space);
    EXPECT_EQ(asked, QStringList{"Install firmware 1.3 on 2 controllers?"});
    test::pump(200);
    EXPECT_FALSE(rig.station->busy());
    EXPECT_EQ(rig.row(1).state, State::idle);

    answer = Qt::Key_Return;
    QTest::keyClick(updateAll, Qt::Key_Return);
    EXPECT_EQ(asked.size(), 2);
    ASSERT_TRUE(rig.station->busy());
    ASSERT_TRUE(test::waitUntil([&] { return !rig.station->busy(); }, kStationWaitMs));
    for (int k = 1; k <= 2; ++k) {
        EXPECT_EQ(rig.row(k).state, State::verified) << k << ": " << rig.row(k).reason;
        EXPECT_EQ(cells->tableInterface()->cellAt(k - 1, 4)->text(QAccessible::Name), "Verified");
    }
    auto* status = window.findChild<QLabel*>(QStringLiteral("stationStatus"));
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->text().endsWith(": verified 1.3")) << status->text().toStdString();
    QAccessibleInterface* told = QAccessible::queryAccessibleInterface(status);
    EXPECT_EQ(told->role(), QAccessible::AlertMessage);
    EXPECT_EQ(told->text(QAccessible::Name), status->text());
    // Nothing is left to update: Update all is off.
    EXPECT_FALSE(updateAll->isEnabled());
}

}  // namespace
}  // namespace tarvo
