#include "tcontroller/catalogue/firmware_names.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tarvo {
namespace {

TEST(FileAddressOfPath, KeepsPathCharactersAndEscapesTheRest) {
    const std::string kept = "/abcxyzABCXYZ0189-._~!$&'()*+,;=:@/";
    EXPECT_EQ(fileAddressOfPath(kept), "file://" + kept);
    EXPECT_EQ(fileAddressOfPath("/res?x#y 100%/\xC3\xA9[]"),
              "file:///res%3Fx%23y%20100%25/%C3%A9%5B%5D");
    EXPECT_EQ(fileAddressOfPath(""), "file://");
}

TEST(LocalFileName, LastComponentWithEveryBinRemoved) {
    EXPECT_EQ(localFileName("/home/u/Tarvo Remote_FW_V1.3.bin"), "Tarvo Remote_FW_V1.3");
    EXPECT_EQ(localFileName("Tarvo Remote_FW_V1.3.BIN"), "Tarvo Remote_FW_V1.3.BIN");
    EXPECT_EQ(localFileName("/a.bin/x.bin.bin"), "x");
    EXPECT_EQ(localFileName("v.binary.bin"), "vary");
    // One left-to-right pass: what the removal joins up is not removed again.
    EXPECT_EQ(localFileName(".b.binin"), ".bin");
}

TEST(JudgeLocalPair, RolesFollowTheMarksAndTheVersionComesFromTheFirmwareName) {
    struct Case {
        std::string first;
        std::string second;
        std::optional<LocalPair> verdict;
    };
    const Case cases[] = {
        {"Tarvo Remote_FW_V1.3.bin", "Tarvo Remote_IMG_V1.3.bin", LocalPair{0, 1, "1.3"}},
        {"Tarvo Remote_IMG_V1.3.bin", "tarvo remote_fw_v1.4.bin", LocalPair{1, 0, "1.4"}},
        {"/media/u/my files/Tarvo Remote_IMG_V2.0.bin", "/home/u/fw_dir/TARVO REMOTE_Fw_X2.1.bin",
         LocalPair{1, 0, "2.1"}},
        {"Tarvo Remote_FW_.bin", "Tarvo Remote_IMG_V1.3.bin", LocalPair{0, 1, ""}},
        {"Tarvo Remote__FW__V1.5_extra.bin", "Tarvo Remote_IMG_.bin", LocalPair{0, 1, "1.5"}},
        // The first character dropped from the version is a whole UTF-8 sequence.
        {"Tarvo Remote_FW_\xC3\xA9"
         "1.6.bin",
         "Tarvo Remote_IMG_x.bin", LocalPair{0, 1, "1.6"}},
        // A file named only as firmware is never taken for the image.
        {"Tarvo Remote_IMG_FW_V3.bin", "Tarvo Remote_FW_V4.bin", LocalPair{1, 0, "4"}},
        {"Tarvo Remote_IMG_FW_V3.bin", "Tarvo Remote_IMG_V4.bin", LocalPair{0, 1, "3"}},
        {"Tarvo Remote_IMG_FW_V5.bin", "Tarvo Remote_FW_IMG_V6.bin", LocalPair{0, 1, "5"}},
        {"Tarvo Remote_F.binW_V1.bin", "Tarvo Remote_IMG_V1.bin", LocalPair{0, 1, "1"}},
        {"Tarvo Remote_FW_V1.3.bin", "Tarvo Remote_FW_V1.4.bin", std::nullopt},
        {"Remote_FW_V1.3.bin", "Tarvo Remote_IMG_V1.3.bin", std::nullopt},
        {"Tarvo Remote_FW_V1.3.bin", "TARVO_IMG_V1.3.bin", std::nullopt},
        {"/x/Tarvo Remote_/FW_V1.3.bin", "Tarvo Remote_IMG_V1.3.bin", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first + " + " + c.second);
        const std::optional<LocalPair> verdict = judgeLocalPair(c.first, c.second);
        EXPECT_EQ(verdict.has_value(), c.verdict.has_value());
        if (verdict && c.verdict) {
            EXPECT_EQ(verdict->firmwareIndex, c.verdict->firmwareIndex);
            EXPECT_EQ(verdict->imageIndex, c.verdict->imageIndex);
            EXPECT_EQ(verdict->version, c.verdict->version);
        }
    }
}

}  // namespace
}  // namespace tarvo
