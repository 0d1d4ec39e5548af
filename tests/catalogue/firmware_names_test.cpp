#include "tcontroller/catalogue/firmware_names.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

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

// Every way a choice fails is told apart, with the file that failed; the
// server's names are taken in either order and case, with one version.
TEST(JudgeLocalFiles, ServerNamesAreAPairAndEachRejectionSaysWhy) {
    using P = LocalPairProblem;
    const auto ok = [](std::size_t firmware, std::string version) {
        return LocalPairVerdict{P::none, 0, LocalPair{firmware, 1 - firmware, std::move(version)}};
    };
    const auto no = [](P problem, std::size_t file = 0) {
        return LocalPairVerdict{problem, file, {}};
    };
    const struct {
        std::vector<std::string> paths;
        LocalPairVerdict verdict;
    } cases[] = {
        {{"/home/u/Downloads/FW_V1.2.bin", "/home/u/Downloads/Img_V1.2.bin"}, ok(0, "1.2")},
        {{"img_v1.2-rc.BIN", "/x/Img_V9/fW_v1.2-rc.bin"}, ok(1, "1.2-rc")},
        {{"Tarvo Remote_Img_V1.3.bin", "Tarvo Remote_FW_V1.3.bin"}, ok(1, "1.3")},
        {{"FW_V1.2.bin", "Img_V1.3.bin"}, no(P::versionsDiffer)},
        // The version is compared as written.
        {{"FW_V1.2.bin", "Img_v1.2.bin"}, ok(0, "1.2")},
        {{"FW_Va.bin", "Img_VA.bin"}, no(P::versionsDiffer)},
        {{"FW_V1.2.bin", "FW_V1.2 (1).bin"}, no(P::bothFirmware)},
        {{"Img_V1.2.bin", "Img_V1.2.bin"}, no(P::bothImage)},
        {{"Tarvo Remote_FW_V1.3.bin", "Tarvo Remote_fw_V1.4.bin"}, no(P::bothFirmware)},
        {{"Tarvo Remote_IMG_V1.bin", "Tarvo Remote_img_V2.bin"}, no(P::bothImage)},
        {{"Tarvo Remote_FW_V1.3.bin", "/tmp/notes.bin"}, no(P::unrecognisedName, 1)},
        {{"Tarvo Remote_notes.bin", "notes.bin"}, no(P::unrecognisedName, 0)},
        // No version, another suffix, or more in front: not the server's names.
        {{"FW_V.bin", "Img_V1.bin"}, no(P::unrecognisedName, 0)},
        {{"FW_V1.2.bin", "Img_V1.2.bin.txt"}, no(P::unrecognisedName, 1)},
        {{"xFW_V1.2.bin", "Img_V1.2.bin"}, no(P::unrecognisedName, 0)},
        {{"Tarvo Remote_FW_V1.3.bin", "Img_V1.3.bin"}, no(P::mixedNamings)},
        {{"FW_V1.2.bin"}, no(P::notTwoFiles)},
        {{"FW_V1.2.bin", "Img_V1.2.bin", "Img_V1.2.bin"}, no(P::notTwoFiles)},
        {{}, no(P::notTwoFiles)},
    };
    const auto shown = [](const LocalPairVerdict& v) {
        return std::to_string(static_cast<int>(v.problem)) + " file " + std::to_string(v.file) +
               ": " + std::to_string(v.pair.firmwareIndex) + " " +
               std::to_string(v.pair.imageIndex) + " " + v.pair.version;
    };
    for (const auto& c : cases) {
        const LocalPairVerdict verdict = judgeLocalFiles(c.paths);
        EXPECT_EQ(shown(verdict), shown(c.verdict)) << ::testing::PrintToString(c.paths);
        if (c.paths.size() == 2) {
            const std::optional<LocalPair> pair = judgeLocalPair(c.paths[0], c.paths[1]);
            EXPECT_EQ(pair.has_value(), verdict.ok());
            EXPECT_TRUE(!pair || *pair == verdict.pair);
        }
    }
}

}  // namespace
}  // namespace tarvo
