// Local file reads (plain and memory-mapped) and address checks.

#include <gtest/gtest.h>

#include <string>

#include "support/temp_files.h"
#include "tcontroller/platform/linux/curl_resource_reads.h"

namespace tarvo {
namespace {

class FileReads : public ::testing::TestWithParam<bool> {
  protected:
    bool mapped() const { return GetParam(); }
    test::TempDir dir_;
};

// Whole files up to the size cap; a file over it fails with a description.
// (Empty files, names that need escapes, missing files and folders, through
// the built-in release's loaders: catalogue/builtin_files_test.cpp.)
TEST_P(FileReads, ReadsWholeFilesUpToTheCap) {
    ReadLimits limits;
    limits.maxBytes = 70000;
    CurlResourceReads reads(limits);
    const Bytes atCap = test::patternBytes(70000);
    const auto read = reads.readBytes(test::fileAddress(dir_.write("FW.bin", atCap)), mapped());
    ASSERT_TRUE(read.ok()) << read.error;
    EXPECT_EQ(*read.value, atCap);
    const auto over =
        reads.readBytes(test::fileAddress(dir_.write("over", test::patternBytes(70001))), mapped());
    EXPECT_FALSE(over.ok());
    EXPECT_FALSE(over.error.empty());
}

INSTANTIATE_TEST_SUITE_P(PlainAndMapped, FileReads, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "mapped" : "plain"; });

TEST(Addresses, OnlyWellFormedHttpHttpsAndFileAddressesAreValid) {
    struct Case {
        std::string address;
        bool valid;
    };
    const Case cases[] = {
        {"http://127.0.0.1:8080/check_fota.php?action=history&p_type=T", true},
        {"https://example.com/FOTA/firmware/Controller/T/FW_V1.2.bin", true},
        {"file:///opt/with%20space/FW.bin", true},
        {"file://localhost/opt/FW.bin", true},
        {"", false},
        {"notaurl", false},
        {"ftp://x/FW.bin", false},
        {"http:///path", false},
        {"file:/etc/hostname", false},
        {"file://", false},
        {"file://otherhost/etc/hostname", false},
        {"file:///etc/passwd%00.bin", false},
        {"http://example.com/FW_V1.2\n.bin", false},
        {"http://example.com/a%zz", false},
        {"http://example.com/\xC3\xA9", false},
    };
    CurlResourceReads reads;
    for (const auto& c : cases) {
        SCOPED_TRACE("address: " + c.address);
        EXPECT_EQ(reads.isValidAddress(c.address), c.valid);
        if (!c.valid) {
            // An invalid address fails every read with a description; no connection is tried.
            const auto text = reads.readText(c.address);
            EXPECT_FALSE(text.ok());
            EXPECT_FALSE(text.error.empty());
            EXPECT_EQ(text.error.find('\n'), std::string::npos);  // stays one log line
            for (const bool mapped : {false, true}) {
                const auto bytes = reads.readBytes(c.address, mapped);
                EXPECT_FALSE(bytes.ok());
                EXPECT_FALSE(bytes.error.empty());
            }
        }
    }
}

}  // namespace
}  // namespace tarvo
