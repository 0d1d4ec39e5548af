// A child process for the close tests: the window on the simulated platform
// with real waits. Once the erase wait has begun, the window is closed: with
// the close button ("button"), or by the window manager with "Close anyway"
// chosen in the question that follows ("window-close-anyway"). The process must
// end at once with status 0. If it does not, the child ends itself with status
// 3 after the erase wait would have passed. A third mode, below, presses the
// Close button after the final step and keeps updating.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <string>

#include "sim/simulated_platform.h"
#include "tcontroller/base/log.h"
#include "tcontroller/ui/view_controller.h"

namespace {

// "button-after-final-step": on the fast clock, the controller never shows its
// drive after the final step; the window's Close button is pressed while the
// tool waits for it, and "Keep updating" is chosen in the question that must
// follow. The process then says "kept" and ends with status 4; a Close button
// that ends the process without asking ends it with status 0 and no "kept".
int closeButtonAfterFinalStep(QApplication& app) {
    tarvo::sim::SimulatedPlatform::Options options;
    options.clock = tarvo::sim::SimulatedPlatform::ClockKind::fast;
    options.network = tarvo::Reachability::Connection::unavailable;
    tarvo::sim::SimulatedPlatform sim(options);
    sim.controller().updateFaults([](auto& faults) { faults.mountAfterFinalStep = false; });
    sim.controller().plug();
    tarvo::ViewController vc(sim.platform());
    vc.viewDidLoad();
    QTimer poll;
    poll.setInterval(20);
    int stage = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (stage == 0 && vc.readSta.load() == tarvo::Util::ReadSta::DONE) {
            vc.leftClick();  // prepare the built-in release
            vc.leftClick();  // start it
            stage = 1;
        } else if (stage == 1 && vc.finalStep.load()) {
            stage = 2;
            QTimer::singleShot(50, [] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                for (QAbstractButton* b : box ? box->buttons() : QList<QAbstractButton*>{}) {
                    if (b->text() == "Keep updating") {
                        b->click();
                    }
                }
            });
            vc.closeBut->click();
            tarvo::flushLog(10);
            std::printf("kept\n");
            std::fflush(stdout);
            std::_Exit(4);
        }
    });
    poll.start();
    QTimer::singleShot(60000, [] { std::_Exit(3); });
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "button-after-final-step") {
        return closeButtonAfterFinalStep(app);
    }
    const bool viaWindowManager = argc > 1 && std::string(argv[1]) == "window-close-anyway";
    tarvo::sim::SimulatedPlatform::Options options;
    options.clock = tarvo::sim::SimulatedPlatform::ClockKind::system;
    options.network = tarvo::Reachability::Connection::unavailable;
    tarvo::sim::SimulatedPlatform sim(options);
    sim.controller().plug();
    tarvo::ViewController vc(sim.platform());
    vc.viewDidLoad();

    std::atomic<bool> erasing{false};
    tarvo::setLogTap([&erasing](const std::string& line) {
        if (line == "erasing data...") {
            erasing = true;
        }
    });
    QTimer poll;
    poll.setInterval(20);
    int stage = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (stage == 0 && vc.readSta.load() == tarvo::Util::ReadSta::DONE) {
            vc.leftClick();  // prepare the built-in release
            vc.leftClick();  // start it
            stage = 1;
        } else if (stage == 1 && erasing.load()) {
            // The tap sees a line before the log's writer thread has written
            // it; put it on standard output before anything else is printed.
            tarvo::flushLog(10);
            std::printf("closing now\n");
            std::fflush(stdout);
            stage = 2;
            if (viaWindowManager) {
                QTimer::singleShot(50, [] {
                    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                    for (QAbstractButton* b : box ? box->buttons() : QList<QAbstractButton*>{}) {
                        if (b->text() == "Close anyway") {
                            b->click();
                        }
                    }
                });
                vc.close();
            } else {
                // The button is hidden while updating; the press is its action.
                vc.closeClick();
            }
        }
    });
    poll.start();
    QTimer::singleShot(60000, [] { std::_Exit(3); });
    return QApplication::exec();
}
