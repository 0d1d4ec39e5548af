#pragma once

// A real main window controller reading from the loopback firmware server,
// with helpers that open and drive its version chooser offscreen.
#include <gtest/gtest.h>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "sim/clocks.h"
#include "sim/firmware_server.h"
#include "support/test_support.h"
#include "tcontroller/ui/dialogs/sel_view_controller.h"
#include "tcontroller/ui/dialogs/ver_view.h"
#include "tcontroller/platform/linux/curl_resource_reads.h"
#include "tcontroller/ui/view_controller.h"

namespace tarvo::test {

using Histoty = Util::Histoty;
using UpMode = Util::UpMode;

class ChooserTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.start());
        platform.reads = &reads;
        platform.clock = &clock;
        platform.serverBase = server.baseAddress();
        platform.resourcesDir = TARVO_SOURCE_RESOURCES_DIR;
        vc = std::make_unique<ViewController>(platform);
        // What each refresh saw: a refresh removes selectedFW right after.
        vc->refreshObserver = [this] {
            refreshes.emplace_back(vc->updateMode.load(), vc->selectedFW.get());
        };
    }
    void TearDown() override {
        delete chooser.data();  // before the controller it writes into
        vc.reset();
    }
    void open(const std::vector<Histoty>& history) {
        vc->onlineVers.set(history);
        vc->presentChooser();
        chooser = vc->openChooser;
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
    bool unchanged() const {
        return !vc->FWData.get() && !vc->imageData.get() && vc->updateMode.load() == UpMode::none &&
               refreshes.empty();
    }

    sim::InstantClock clock;
    CurlResourceReads reads;
    sim::FirmwareServer server;
    Platform platform;
    std::unique_ptr<ViewController> vc;
    QPointer<SelViewController> chooser;
    std::vector<std::pair<UpMode, std::optional<Histoty>>> refreshes;
};

}  // namespace tarvo::test
