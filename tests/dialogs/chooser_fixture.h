#pragma once

// The real window on the simulated platform (loopback firmware server, real
// reads and files), not started, and its version chooser opened over it with
// the window's engine, driven offscreen.
#include <gtest/gtest.h>
#include <QTest>

#include "sim/simulated_platform.h"
#include "support/test_support.h"
#include "support/window_parts.h"
#include "tcontroller/ui/dialogs/sel_view_controller.h"
#include "tcontroller/ui/dialogs/ver_view.h"
#include "tcontroller/ui/view_controller.h"

namespace tarvo::test {

using Histoty = Util::Histoty;
using UpMode = Util::UpMode;

inline const Histoty k13{"1.3", "2020-01-15"};
inline const Histoty k11{"1.1", "2019-06-30"};

class ChooserTest : public ::testing::Test {
  protected:
    explicit ChooserTest(sim::SimulatedPlatform::Options options = {})
        : sim(options), vc(sim.platform()) {}
    void TearDown() override { delete chooser.data(); }  // before the engine it writes into

    void open(const std::vector<Histoty>& history) {
        chooser = new SelViewController(&vc);
        chooser->engine = &vc.engine();
        chooser->dataArr = history;
        chooser->present();
    }
    // A left press on the row's label, which passes it on to the row.
    void press(std::size_t row) {
        QTest::mouseClick(chooser->viewArr.at(row)->label, Qt::LeftButton);
    }
    // Closed and released (the test runs outside any event loop, so deferred
    // deletes are delivered here).
    bool closed() {
        return waitUntil([this] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return chooser.isNull();
        });
    }
    UpdateSnapshot state() const { return vc.engine().snapshot(); }

    LogCapture log;
    sim::SimulatedPlatform sim;
    ViewController vc;
    QPointer<SelViewController> chooser;
};

}  // namespace tarvo::test
