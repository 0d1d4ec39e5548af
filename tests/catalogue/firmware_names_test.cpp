#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "tcontroller/catalogue/firmware_names.h"

namespace tarvo {
namespace {

constexpr const char* kBase = "http://127.0.0.1:8080";

TEST(ServerAddresses, ReleaseFilesAndHistoryQuery) {
    EXPECT_EQ(imageAddress(kBase, "1.2"),
              "http://127.0.0.1:8080/FOTA/firmware/Controller/T/Img_V1.2.bin");
    EXPECT_EQ(firmwareAddress(kBase, "1.2"),
              "http://127.0.0.1:8080/FOTA/firmware/Controller/T/FW_V1.2.bin");
    EXPECT_EQ(historyQueryPrefix(kBase),
              "http://127.0.0.1:8080/check_fota.php?action=history&production=controller&p_type=");
}

TEST(ServerAddresses, VersionInsertedAsStored) {
    EXPECT_EQ(imageAddress(kBase, "1.3 "),
              "http://127.0.0.1:8080/FOTA/firmware/Controller/T/Img_V1.3 .bin");
    EXPECT_EQ(firmwareAddress(kBase, "1.3\n"),
              "http://127.0.0.1:8080/FOTA/firmware/Controller/T/FW_V1.3\n.bin");
    EXPECT_EQ(firmwareAddress(kBase, "a b%20"),
              "http://127.0.0.1:8080/FOTA/firmware/Controller/T/FW_Va b%20.bin");
}

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

struct PairCase {
    std::string name;
    std::string first;
    std::string second;
    std::optional<LocalPair> verdict;
};

void PrintTo(const PairCase& c, std::ostream* os) {
    *os << c.first << " + " << c.second;
}

class JudgeLocalPairTest : public ::testing::TestWithParam<PairCase> {};

TEST_P(JudgeLocalPairTest, Verdict) {
    const PairCase& c = GetParam();
    const std::optional<LocalPair> verdict = judgeLocalPair(c.first, c.second);
    ASSERT_EQ(verdict.has_value(), c.verdict.has_value());
    if (verdict) {
        EXPECT_EQ(verdict->firmwareIndex, c.verdict->firmwareIndex);
        EXPECT_EQ(verdict->imageIndex, c.verdict->imageIndex);
        EXPECT_EQ(verdict->version, c.verdict->version);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, JudgeLocalPairTest,
    ::testing::Values(PairCase{"FirmwareFirst", "Tarvo Remote_FW_V1.3.bin",
                               "Tarvo Remote_IMG_V1.3.bin", LocalPair{0, 1, "1.3"}},
                      PairCase{"ImageFirst", "Tarvo Remote_IMG_V1.3.bin",
                               "Tarvo Remote_FW_V1.3.bin", LocalPair{1, 0, "1.3"}},
                      PairCase{"LowerCaseSecondIsFirmware", "Tarvo Remote_IMG_V1.3.bin",
                               "tarvo remote_fw_v1.4.bin", LocalPair{1, 0, "1.4"}},
                      PairCase{"WithDirectories", "/media/u/my files/Tarvo Remote_IMG_V2.0.bin",
                               "/home/u/fw_dir/TARVO REMOTE_Fw_X2.1.bin", LocalPair{1, 0, "2.1"}},
                      PairCase{"EmptyVersionWhenFwPieceIsLast", "Tarvo Remote_FW_.bin",
                               "Tarvo Remote_IMG_V1.3.bin", LocalPair{0, 1, ""}},
                      PairCase{"UpperCaseSuffixStays", "Tarvo Remote_FW_V1.3.BIN",
                               "Tarvo Remote_IMG_V1.3.bin", LocalPair{0, 1, "1.3.BIN"}},
                      PairCase{"DoubledUnderscoresDropped", "Tarvo Remote__FW__V1.5_extra.bin",
                               "Tarvo Remote_IMG_.bin", LocalPair{0, 1, "1.5"}},
                      PairCase{"ImageVersionNotRead", "Tarvo Remote_IMG_V9.9.bin",
                               "Tarvo Remote_FW_V1.0.bin", LocalPair{1, 0, "1.0"}},
                      PairCase{"FirstCharacterIsWholeUtf8Sequence",
                               "Tarvo Remote_FW_\xC3\xA9"
                               "1.6.bin",
                               "Tarvo Remote_IMG_x.bin", LocalPair{0, 1, "1.6"}},
                      // Roles follow the marks: the file named only as firmware is never the image.
                      PairCase{"FirstHoldsBothMarksSecondFirmware", "Tarvo Remote_IMG_FW_V3.bin",
                               "Tarvo Remote_FW_V4.bin", LocalPair{1, 0, "4"}},
                      PairCase{"FirstHoldsBothMarksSecondImage", "Tarvo Remote_IMG_FW_V3.bin",
                               "Tarvo Remote_IMG_V4.bin", LocalPair{0, 1, "3"}},
                      PairCase{"BothHoldBothMarks", "Tarvo Remote_IMG_FW_V5.bin",
                               "Tarvo Remote_FW_IMG_V6.bin", LocalPair{0, 1, "5"}},
                      PairCase{"BothFirmware", "Tarvo Remote_FW_V1.3.bin",
                               "Tarvo Remote_FW_V1.4.bin", std::nullopt},
                      PairCase{"BothImage", "Tarvo Remote_IMG_V1.3.bin",
                               "Tarvo Remote_IMG_V1.4.bin", std::nullopt},
                      PairCase{"FirstLacksPrefix", "Remote_FW_V1.3.bin",
                               "Tarvo Remote_IMG_V1.3.bin", std::nullopt},
                      PairCase{"SecondLacksPrefixUpperCase", "Tarvo Remote_FW_V1.3.bin",
                               "TARVO_IMG_V1.3.bin", std::nullopt},
                      PairCase{"PrefixOnlyInDirectory", "/x/Tarvo Remote_/FW_V1.3.bin",
                               "Tarvo Remote_IMG_V1.3.bin", std::nullopt},
                      PairCase{"MarkJoinedByBinRemoval", "Tarvo Remote_F.binW_V1.bin",
                               "Tarvo Remote_IMG_V1.bin", LocalPair{0, 1, "1"}},
                      PairCase{"EmptyPaths", "", "", std::nullopt}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace tarvo
