// The built-in release's loaders, reading through the tool's own file system
// and reads from a resources folder whose name holds what an address must
// carry escaped: a space, '%', non-ASCII bytes, '?' and '#'. A path put into
// the address as it is fails the read or reads another file.
#include "tcontroller/catalogue/builtin_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_files.h"
#include "tcontroller/base/log.h"
#include "tcontroller/platform/linux/curl_resource_reads.h"
#include "tcontroller/platform/linux/posix_file_system.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using Mode = Util::UpMode;

constexpr char kFolder[] = "res d\xC3\xA9j\xC3\xA0 100%?x#y";

class BuiltinFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        setLogTap([this](const std::string& line) { log_.push_back(line); });
    }
    void TearDown() override { setLogTap({}); }
    BuiltinResources resources() { return {root_, &reads_, &files_}; }

    test::TempDir dir_;
    const std::string root_ = dir_.path() / kFolder;
    PosixFileSystem files_;
    CurlResourceReads reads_;
    Lines log_;
};

// An image over several pages and an empty firmware file (a map of zero bytes
// is an edge of its own) both come back byte for byte; other modes read nothing.
TEST_F(BuiltinFiles, LoadsBothFilesByteExactOnlyInTheBuiltInMode) {
    const Bytes image = test::patternBytes(70001);
    dir_.write(std::string(kFolder) + "/TFW/IMG.bin", image);
    dir_.write(std::string(kFolder) + "/TFW/FW.bin", {});
    for (const Mode mode : {Mode::none, Mode::online, Mode::offline}) {
        EXPECT_FALSE(getImageData(mode, resources()).has_value());
        EXPECT_FALSE(getFWData(mode, resources()).has_value());
    }
    EXPECT_TRUE(log_.empty());

    EXPECT_EQ(getImageData(Mode::bIn, resources()), image);
    EXPECT_EQ(getFWData(Mode::bIn, resources()), Bytes{});
    EXPECT_EQ(log_, (Lines{"file://" + root_ + "/TFW/IMG.bin", "open image successed, size: 70001",
                           "file://" + root_ + "/TFW/FW.bin, true", "open fw successed, size: 0"}));
}

// Missing files, folders in their place and missing services each fail with
// the loaders' lines, never a crash.
TEST_F(BuiltinFiles, UnreadableFilesFail) {
    EXPECT_FALSE(getImageData(Mode::bIn, resources()).has_value());
    EXPECT_FALSE(getFWData(Mode::bIn, {root_, nullptr, nullptr}).has_value());
    EXPECT_EQ(log_,
              (Lines{"file://", "failed to open image", "file://, false", "failed to open fw"}));

    log_.clear();
    fs::create_directories(fs::path(root_) / "TFW" / "FW.bin");
    EXPECT_FALSE(getFWData(Mode::bIn, resources()).has_value());
    EXPECT_EQ(log_, (Lines{"file://" + root_ + "/TFW/FW.bin, true", "failed to open fw"}));
}

}  // namespace
}  // namespace tarvo
