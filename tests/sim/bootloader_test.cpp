#include <gtest/gtest.h>

#include "harness.h"
#include "sim/firmware_format.h"
#include "sim/simulated_platform.h"
#include "support/temp_files.h"

using tarvo::Bytes;
using tarvo::sim::FileKind;
using tarvo::sim::makeReleaseFile;
using tarvo::sim::ViolationKind;

TEST(Bootloader, RejectsBadFirmwareFilesAndStaysMounted) {
    ControllerRun run;
    run.vc.startInBootloader();
    run.run();
    ASSERT_TRUE(run.vc.waitUntilBootloaderMounted());
    const std::string fw = run.vc.volumePath() + "/FW.bin";
    const Bytes good = makeReleaseFile(FileKind::firmware, "1.4", 2048);
    const std::vector<Bytes> bad = {
        Bytes(good.begin(), good.begin() + 1000),       // truncated
        makeReleaseFile(FileKind::image, "1.4", 2048),  // the image file instead
        Bytes(2048, 0x00),                              // garbage
    };
    for (std::size_t i = 0; i < bad.size(); ++i) {
        tarvo::test::writeFile(fw, bad[i]);
        ASSERT_TRUE(run.vc.waitUntilViolations(i + 1));
        EXPECT_EQ(run.vc.violations().back().kind, ViolationKind::firmware);
        EXPECT_TRUE(run.vc.isBootloaderMounted());
        EXPECT_FALSE(run.vc.receivedFirmware());
    }
    EXPECT_EQ(run.vc.connectedNotifications(), 0u);

    // A later good copy (the alert's retry) still completes the update.
    tarvo::test::writeFile(fw, good);
    ASSERT_TRUE(run.vc.waitUntilBackOnHid());
    EXPECT_EQ(run.vc.config().versionChars, "140");
    EXPECT_EQ(run.vc.violationCount(), bad.size());
}
