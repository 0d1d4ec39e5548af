#pragma once

// The real window on the simulated platform (loopback firmware server, real
// reads and files), not started, and its version chooser opened over it with
// the window's engine, driven offscreen.
#include <gtest/gtest.h>
#include <QColor>
#include <QTest>
#include <algorithm>
#include <cmath>

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

// The contrast ratio of two colours (WCAG): 1 for equal ones, up to 21.
inline double contrastRatio(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double lighter = std::max(luminance(a), luminance(b));
    const double darker = std::min(luminance(a), luminance(b));
    return (lighter + 0.05) / (darker + 0.05);
}

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
