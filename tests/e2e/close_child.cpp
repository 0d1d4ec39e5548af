// A child process for the close tests: the window on the simulated platform
// with real waits and no network; its left button prepares the built-in
// release and starts it. Then, by the first argument:
// - "window-close-anyway": once the erase wait has begun, the window manager
//   closes the window and "Close anyway" is chosen in the question that
//   follows. The process must end at once with status 0.
// - "button-after-final-step": on the fast clock the controller never shows
//   its drive after the final step; the window's Close button is pressed
//   while the tool waits for it, and "Keep updating" is chosen in the question
//   that must follow. The process then says "kept" and ends with status 4; a
//   Close button that ends the process without asking ends it with status 0
//   and no "kept".
// A child that is still running after the waits would have passed ends itself
// with status 3.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <string>

#include "sim/simulated_platform.h"
#include "support/window_parts.h"
#include "tcontroller/base/log.h"
#include "tcontroller/ui/view_controller.h"

namespace {

// Answers the question the window is about to ask with the button `answer`,
// after saying what was asked and which answer Enter would give.
void answerSoon(const QString& answer) {
    QTimer::singleShot(50, [answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box != nullptr) {
            std::printf("asked: %s [%s]\n", qPrintable(box->text()),
                        qPrintable(box->defaultButton()->text()));
        }
        for (QAbstractButton* b : box ? box->buttons() : QList<QAbstractButton*>{}) {
            if (b->text() == answer) {
                b->click();
            }
        }
    });
}

// Puts the lines logged so far, then `line`, on standard output.
void say(const char* line) {
    tarvo::flushLog(10);
    std::printf("%s\n", line);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bool afterFinalStep = argc > 1 && std::string(argv[1]) == "button-after-final-step";
    tarvo::sim::SimulatedPlatform::Options options;
    options.clock = afterFinalStep ? tarvo::sim::SimulatedPlatform::ClockKind::fast
                                   : tarvo::sim::SimulatedPlatform::ClockKind::system;
    options.network = tarvo::Reachability::Connection::unavailable;
    tarvo::sim::SimulatedPlatform sim(options);
    if (afterFinalStep) {
        sim.controller().updateFaults([](auto& faults) { faults.mountAfterFinalStep = false; });
    }
    sim.controller().plug();
    tarvo::ViewController vc(sim.platform());
    vc.viewDidLoad();

    std::atomic<bool> erasing{false};
    tarvo::setLogTap([&erasing](const std::string& line) {
        if (line == "erasing data...") {
            erasing = true;
        }
    });
    tarvo::ImageButton* left = tarvo::test::faceButton(vc, "leftBut");
    QTimer poll;
    poll.setInterval(20);
    int stage = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const tarvo::UpdateSnapshot s = vc.engine().snapshot();
        if (stage < 2 && s.identified && left->isEnabled() &&
            (stage == 0) == (s.mode == tarvo::Util::UpMode::none)) {
            left->click();  // first prepares the built-in release, then starts it
            ++stage;
        } else if (stage == 2 && !afterFinalStep && erasing.load()) {
            // The tap sees a line before the log's writer thread has written it.
            say("closing now");
            stage = 3;
            answerSoon("Close anyway");
            vc.close();
        } else if (stage == 2 && afterFinalStep && s.finalStep) {
            stage = 3;
            answerSoon("Keep updating");
            tarvo::test::button(vc, "closeBut")->click();
            say("kept");
            std::_Exit(4);
        }
    });
    poll.start();
    QTimer::singleShot(60000, [] { std::_Exit(3); });
    return QApplication::exec();
}
