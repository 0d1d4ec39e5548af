// Local file reads (plain and memory-mapped), address checks, and the built-in
// release files kept in the tree.

#include <gtest/gtest.h>

#include <string>

#include "sim/firmware_format.h"
#include "support/temp_files.h"
#include "tcontroller/platform/linux/curl_resource_reads.h"

namespace tarvo {
namespace {

class FileReads : public ::testing::TestWithParam<bool> {
  protected:
    bool mapped() const { return GetParam(); }
    test::TempDir dir_;
    CurlResourceReads reads_;
};

TEST_P(FileReads, ReadsWholeFilesIncludingEscapedSpacesAndEmptyFiles) {
    struct Case {
        std::string name;
        Bytes contents;
    };
    const Case cases[] = {
        {"plain.bin", test::patternBytes(70000)},
        {"dir with space/Tarvo Remote_FW_V1.3.bin", test::patternBytes(1234)},
        {"res?x#y 100%/FW.bin", test::patternBytes(99)},
        {"empty.bin", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto address = test::fileAddress(dir_.write(c.name, c.contents));
        const auto read = reads_.readBytes(address, mapped());
        ASSERT_TRUE(read.ok()) << address << ": " << read.error;
        EXPECT_EQ(*read.value, c.contents);
    }
}

TEST_P(FileReads, MissingFilesAndDirectoriesFail) {
    dir_.write("sub/x.bin", {1});
    for (const std::string name : {"missing.bin", "sub"}) {
        SCOPED_TRACE(name);
        const auto read = reads_.readBytes(test::fileAddress(dir_.path() / name), mapped());
        EXPECT_FALSE(read.ok());
        EXPECT_FALSE(read.error.empty());
    }
}

TEST_P(FileReads, SizeCapAppliesToLocalFiles) {
    ReadLimits limits;
    limits.maxBytes = 100;
    CurlResourceReads capped(limits);
    const auto atCap =
        capped.readBytes(test::fileAddress(dir_.write("a", test::patternBytes(100))), mapped());
    ASSERT_TRUE(atCap.ok()) << atCap.error;
    EXPECT_EQ(atCap.value->size(), 100u);
    const auto over =
        capped.readBytes(test::fileAddress(dir_.write("b", test::patternBytes(101))), mapped());
    EXPECT_FALSE(over.ok());
    EXPECT_FALSE(over.error.empty());
}

INSTANTIATE_TEST_SUITE_P(PlainAndMapped, FileReads, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "mapped" : "plain"; });

TEST(FileReadsText, TextIsTheBodyBytes) {
    test::TempDir dir;
    const std::string text = "\"1.3:2020-01-15\",\r\n\"1.2:x\"\n";
    CurlResourceReads reads;
    const auto read = reads.readText(test::fileAddress(dir.write("h.txt", bytesFromString(text))));
    ASSERT_TRUE(read.ok()) << read.error;
    EXPECT_EQ(*read.value, text);
}

TEST(Addresses, OnlyWellFormedHttpHttpsAndFileAddressesAreValid) {
    struct Case {
        std::string address;
        bool valid;
    };
    const Case cases[] = {
        {"http://127.0.0.1:8080/check_fota.php?action=history&p_type=T", true},
        {"https://example.com/FOTA/firmware/Controller/T/FW_V1.2.bin", true},
        {"file:///opt/tarvo/TFW/FW.bin", true},
        {"file:///opt/with%20space/FW.bin", true},
        {"file://localhost/opt/FW.bin", true},
        {"http://exa mple", false},
        {"", false},
        {"not a url", false},
        {"notaurl", false},
        {"ftp://x", false},
        {"ftp://x/FW.bin", false},
        {"http://", false},
        {"http:///path", false},
        {"http:/example.com/x", false},
        {"file:/etc/hostname", false},
        {"file://", false},
        {"file://otherhost/etc/hostname", false},
        {"file:///etc/passwd%00.bin", false},
        {"http://example.com/FW_V1.2 .bin", false},
        {"http://example.com/FW_V1.2\n.bin", false},
        {"http://example.com/a%zz", false},
        {"http://example.com/a%4", false},
        {"http://example.com/<b>", false},
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

// The built-in release kept in resources/TFW: version 1.2, 300 KiB image and
// 64 KiB firmware, both well-formed release files.
TEST(BuiltInRelease, FilesInTheTreeAreVersionOnePointTwo) {
    struct Case {
        const char* name;
        sim::FileKind kind;
        std::size_t size;
    };
    const Case cases[] = {{"IMG.bin", sim::FileKind::image, 300 * 1024},
                          {"FW.bin", sim::FileKind::firmware, 64 * 1024}};
    CurlResourceReads reads;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto read = reads.readBytes(
            test::fileAddress(std::filesystem::path(TARVO_TEST_RESOURCES_DIR) / "TFW" / c.name),
            true);
        ASSERT_TRUE(read.ok()) << read.error;
        EXPECT_EQ(read.value->size(), c.size);
        const auto parsed = sim::parseReleaseFile(*read.value);
        ASSERT_TRUE(parsed.has_value());
        EXPECT_EQ(parsed->kind, c.kind);
        EXPECT_EQ(parsed->versionChars, "120");
        EXPECT_EQ(parsed->model, 'T');
    }
}

}  // namespace
}  // namespace tarvo
