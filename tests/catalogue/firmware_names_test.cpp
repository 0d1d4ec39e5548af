#include "tcontroller/catalogue/firmware_names.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tarvo {
namespace {

TEST(LocalFileName, LastComponentWithEveryBinRemoved) {
    EXPECT_EQ(localFileName("/home/u/Tarvo Remote_FW_V1.3.bin"), "Tarvo Remote_FW_V1.3");
    EXPECT_EQ(localFileName("Tarvo Remote_FW_V1.3.BIN"), "Tarvo Remote_FW_V1.3.BIN");
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
        {"/x/Tarvo Remote_/FW_V1.3.bin", "Tarvo Remote_IMG_V1.3.bin", std::nullopt},
    };
    // "FIRMWARE IMAGE VERSION", or "none".
    const auto shown = [](const std::optional<LocalPair>& p) {
        return p ? std::to_string(p->firmwareIndex) + " " + std::to_string(p->imageIndex) + " " +
                       p->version
                 : "none";
    };
    for (const Case& c : cases) {
        EXPECT_EQ(shown(judgeLocalPair(c.first, c.second)), shown(c.verdict))
            << c.first << " + " << c.second;
    }
}

}  // namespace
}  // namespace tarvo
