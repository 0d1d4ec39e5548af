#include <gtest/gtest.h>
#include <stdlib.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "tcontroller/base/log.h"
#include "tcontroller/base/util.h"
#include "tcontroller/catalogue/builtin_files.h"
#include "tcontroller/platform/file_system.h"
#include "tcontroller/platform/resource_reads.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

class DiskFileSystem : public FileSystem {
  public:
    bool exists(const std::string& path) override {
        std::error_code ec;
        return fs::exists(path, ec);
    }
    Result<void> remove(const std::string&) override { return Result<void>::failure("unused"); }
    Result<void> createFile(const std::string&, const Bytes&) override {
        return Result<void>::failure("unused");
    }
    bool isMountPoint(const std::string&) override { return false; }
    Result<VolumeFacts> describeVolume(const std::string&) override {
        return Result<VolumeFacts>::failure("unused");
    }
};

// Reads "file://" addresses from disk after decoding %XX. Like a real address
// parser it rejects bytes that must be escaped (a space, non-ASCII), so an
// unencoded address fails, and the path ends at a raw '?' or '#' (the query or
// fragment begins there). Records every request.
class DiskFileReads : public ResourceReads {
  public:
    bool isValidAddress(const std::string& address) const override {
        return address.starts_with("file://") && decode(address).has_value();
    }
    Result<std::string> readText(const std::string&) override { return {{}, "unused"}; }
    Result<Bytes> readBytes(const std::string& address, bool mapped) override {
        requests.push_back({address, mapped});
        const std::string rest = address.substr(7, address.find_first_of("?#") - 7);
        const std::optional<std::string> path =
            isValidAddress(address) ? decode(rest) : std::nullopt;
        std::error_code ec;
        if (!path || !fs::is_regular_file(*path, ec)) {
            return {{}, "no such file"};
        }
        std::ifstream in(*path, std::ios::binary);
        return {Bytes(std::istreambuf_iterator<char>(in), {}), {}};
    }
    static std::optional<std::string> decode(const std::string& text) {
        std::string out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            if (c <= 0x20 || c >= 0x7F) {
                return std::nullopt;
            }
            if (c != '%') {
                out.push_back(text[i]);
                continue;
            }
            const std::string hex = text.substr(i + 1, 2);
            if (hex.size() != 2 || !std::isxdigit(static_cast<unsigned char>(hex[0])) ||
                !std::isxdigit(static_cast<unsigned char>(hex[1]))) {
                return std::nullopt;
            }
            out.push_back(static_cast<char>(std::stoi(hex, nullptr, 16)));
            i += 2;
        }
        return out;
    }
    std::vector<std::pair<std::string, bool>> requests;  // address, mapped
};

Bytes patternBytes(std::size_t size, unsigned seed) {
    Bytes out(size);
    for (auto& b : out) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(seed >> 16);
    }
    return out;
}

class BuiltinLoaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern =
            (fs::temp_directory_path() / "tarvo res d\xC3\xA9j\xC3\xA0 100%.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        fs::create_directories(fs::path(root) / "TFW");
        setLogTap([this](const std::string& line) { log.push_back(line); });
    }
    void TearDown() override {
        setLogTap({});
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    void write(const std::string& name, const Bytes& contents) {
        std::ofstream(fs::path(root) / "TFW" / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(contents.data()),
                   static_cast<std::streamsize>(contents.size()));
    }
    BuiltinResources resources() { return {root, &reads, &fileSystem}; }

    std::string root;  // holds spaces, '%' and non-ASCII characters
    DiskFileSystem fileSystem;
    DiskFileReads reads;
    std::vector<std::string> log;
};

TEST_F(BuiltinLoaderTest, OtherModesAreAbsentAndSilent) {
    write("IMG.bin", patternBytes(10, 1));
    write("FW.bin", patternBytes(10, 2));
    for (Util::UpMode mode : {Util::UpMode::none, Util::UpMode::online, Util::UpMode::offline}) {
        EXPECT_FALSE(getImageData(mode, resources()).has_value());
        EXPECT_FALSE(getFWData(mode, resources()).has_value());
    }
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(reads.requests.empty());
}

TEST_F(BuiltinLoaderTest, LoadsBothFilesByteExactThroughEncodedMappedReads) {
    const Bytes image = patternBytes(70001, 3);
    const Bytes firmware = patternBytes(4099, 4);
    write("IMG.bin", image);
    write("FW.bin", firmware);

    EXPECT_EQ(getImageData(Util::UpMode::bIn, resources()), image);
    EXPECT_EQ(getFWData(Util::UpMode::bIn, resources()), firmware);
    EXPECT_EQ(log, (std::vector<std::string>{
                       "file://" + root + "/TFW/IMG.bin",
                       "open image successed, size: 70001",
                       "file://" + root + "/TFW/FW.bin, true",
                       "open fw successed, size: 4099",
                   }));
    ASSERT_EQ(reads.requests.size(), 2u);
    for (const auto& [address, mapped] : reads.requests) {
        EXPECT_TRUE(mapped);
        EXPECT_NE(address.find("/tarvo%20res%20d%C3%A9j%C3%A0%20100%25."), std::string::npos)
            << address;
    }
}

// '?' and '#' in the folder's name belong to the path: the loader reads the
// real file, not the decoy where an address cut at the '?' would lead.
TEST_F(BuiltinLoaderTest, QuestionMarkAndHashInTheFolderStayInThePath) {
    const std::string dir = root + "/a#b?c";
    fs::create_directories(fs::path(dir) / "TFW");
    std::ofstream(fs::path(root) / "a#b") << "decoy";
    const Bytes firmware = patternBytes(100, 5);
    std::ofstream(fs::path(dir) / "TFW" / "FW.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(firmware.data()),
               static_cast<std::streamsize>(firmware.size()));

    EXPECT_EQ(getFWData(Util::UpMode::bIn, {dir, &reads, &fileSystem}), firmware);
    EXPECT_EQ(log, (std::vector<std::string>{"file://" + dir + "/TFW/FW.bin, true",
                                             "open fw successed, size: 100"}));
}

TEST_F(BuiltinLoaderTest, ZeroByteFilesArePresentAndEmpty) {
    write("IMG.bin", {});
    write("FW.bin", {});
    EXPECT_EQ(getImageData(Util::UpMode::bIn, resources()), Bytes{});
    EXPECT_EQ(getFWData(Util::UpMode::bIn, resources()), Bytes{});
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[1], "open image successed, size: 0");
    EXPECT_EQ(log[3], "open fw successed, size: 0");
}

TEST_F(BuiltinLoaderTest, MissingFilesUseTheEmptyPathAndFail) {
    EXPECT_FALSE(getImageData(Util::UpMode::bIn, resources()).has_value());
    EXPECT_FALSE(getFWData(Util::UpMode::bIn, resources()).has_value());
    EXPECT_EQ(log, (std::vector<std::string>{"file://", "failed to open image", "file://, false",
                                             "failed to open fw"}));
}

TEST_F(BuiltinLoaderTest, ExistingButUnreadableFails) {
    // Directories where the files should be: they exist but cannot be read as files.
    fs::create_directories(fs::path(root) / "TFW" / "IMG.bin");
    fs::create_directories(fs::path(root) / "TFW" / "FW.bin");
    EXPECT_FALSE(getImageData(Util::UpMode::bIn, resources()).has_value());
    EXPECT_FALSE(getFWData(Util::UpMode::bIn, resources()).has_value());
    EXPECT_EQ(log, (std::vector<std::string>{
                       "file://" + root + "/TFW/IMG.bin", "failed to open image",
                       "file://" + root + "/TFW/FW.bin, true", "failed to open fw"}));
}

TEST_F(BuiltinLoaderTest, MissingServicesFailInsteadOfCrashing) {
    EXPECT_FALSE(getFWData(Util::UpMode::bIn, {root, nullptr, nullptr}).has_value());
    EXPECT_EQ(log, (std::vector<std::string>{"file://, false", "failed to open fw"}));
}

}  // namespace
}  // namespace tarvo
