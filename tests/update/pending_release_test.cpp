// The release kept across a restart, on real files: it comes back whole, or
// not at all, and a record that does not match its digests is refused.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "support/temp_files.h"
#include "tcontroller/update/pending_manifest.h"
#include "tcontroller/update/pending_release.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

const std::string kDigest(64, 'a');

TEST(PendingRelease, ComesBackAsSavedAndIsReplacedAndCleared) {
    test::TempDir dir;
    const PendingReleaseStore store((dir.path() / "state" / "pending").string());
    ASSERT_TRUE(store.load().ok());
    EXPECT_FALSE(store.load().value->has_value()) << "nothing recorded yet";

    const PendingRelease first{"1.3", test::patternBytes(307200), test::patternBytes(65536)};
    ASSERT_TRUE(store.save(first).ok());
    struct stat info {};
    ASSERT_EQ(::stat(store.folder().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    Result<std::optional<PendingRelease>> loaded = store.load();
    ASSERT_TRUE(loaded.ok()) << loaded.error;
    ASSERT_TRUE(loaded.value->has_value());
    EXPECT_EQ((*loaded.value)->version, "1.3");
    EXPECT_EQ((*loaded.value)->image, first.image);
    EXPECT_EQ((*loaded.value)->firmware, first.firmware);

    // A later update's release replaces it whole (an empty image included).
    const PendingRelease second{"1.4", {}, Bytes(100, 0x11)};
    ASSERT_TRUE(store.save(second).ok());
    loaded = store.load();
    ASSERT_TRUE(loaded.ok() && loaded.value->has_value()) << loaded.error;
    EXPECT_EQ((*loaded.value)->version, "1.4");
    EXPECT_TRUE((*loaded.value)->image.empty());
    EXPECT_EQ((*loaded.value)->firmware, second.firmware);

    EXPECT_TRUE(store.clear());
    EXPECT_FALSE(store.load().value->has_value());
}

// A record whose files were changed, cut or lost is refused with the reason,
// never handed out as a release.
TEST(PendingRelease, ARecordThatDoesNotMatchIsRefused) {
    test::TempDir dir;
    const PendingReleaseStore store(dir.path().string());
    const PendingRelease release{"1.3", test::patternBytes(4000), test::patternBytes(2000)};
    const auto damage = [&](const char* name, auto change) {
        EXPECT_TRUE(store.save(release).ok());
        change(dir.path() / name);
        return store.load();
    };
    const auto flipFirstByte = [](const fs::path& path) {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        const char first = static_cast<char>(file.get());
        file.seekp(0);
        file.put(static_cast<char>(first ^ 1));
    };
    Result<std::optional<PendingRelease>> loaded = damage("firmware.bin", flipFirstByte);
    EXPECT_FALSE(loaded.ok());
    EXPECT_EQ(loaded.error, (dir.path() / "firmware.bin").string() + " does not match its SHA-256");
    loaded = damage("image.bin", [](const fs::path& path) { fs::resize_file(path, 10); });
    EXPECT_FALSE(loaded.ok());
    EXPECT_NE(loaded.error.find("image.bin does not match"), std::string::npos) << loaded.error;
    loaded = damage("firmware.bin", [](const fs::path& path) { fs::remove(path); });
    EXPECT_FALSE(loaded.ok());
    EXPECT_NE(loaded.error.find("No such file or directory"), std::string::npos) << loaded.error;
    loaded = damage("release", [](const fs::path& path) { fs::resize_file(path, 20); });
    EXPECT_FALSE(loaded.ok());
    EXPECT_NE(loaded.error.find("is not a manifest"), std::string::npos) << loaded.error;
}

TEST(PendingManifest, OnlyAWholeWellFormedManifestIsRead) {
    const PendingManifest manifest{"1.3", kDigest, std::string(64, '0')};
    const std::string text = formatPendingManifest(manifest);
    const std::optional<PendingManifest> read = parsePendingManifest(text);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->version, "1.3");
    EXPECT_EQ(read->imageSha256, kDigest);
    EXPECT_EQ(read->firmwareSha256, std::string(64, '0'));
    for (const std::string& bad : {
             text.substr(0, text.size() - 1),                // cut before its last line break
             "version=1.3\nimage_sha256=" + kDigest + "\n",  // a line missing
             text + "version=1.4\n",                         // a line repeated
             text + "note=x\n",                              // a line unknown
             "version=1.3\nimage_sha256=" + kDigest.substr(1) + "\nfirmware_sha256=" + kDigest +
                 "\n",  // a digest one digit short
             "version=1.3\nimage_sha256=" + std::string(64, 'A') + "\nfirmware_sha256=" + kDigest +
                 "\n",  // upper-case digits
             "version=\nimage_sha256=" + kDigest + "\nfirmware_sha256=" + kDigest + "\n",
             "version=1 3\nimage_sha256=" + kDigest + "\nfirmware_sha256=" + kDigest + "\n",
             "version=" + std::string(33, '1') + "\nimage_sha256=" + kDigest +
                 "\nfirmware_sha256=" + kDigest + "\n",
         }) {
        EXPECT_FALSE(parsePendingManifest(bad)) << bad;
    }
}

}  // namespace
}  // namespace tarvo
