// The local file selection: the file panel's answer, the name rules and the
// reads of a pair of files into the controller.
#include <QFile>
#include <QTemporaryDir>

#include "chooser_fixture.h"

namespace tarvo::test {
namespace {

using Lines = std::vector<std::string>;

class LocalFilesTest : public ChooserTest {
  protected:
    void SetUp() override {
        ChooserTest::SetUp();
        ASSERT_TRUE(QDir().mkpath(folder));
    }
    QString write(const QString& name, const Bytes& bytes) {
        QFile file(folder + "/" + name);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        return file.fileName();
    }
    // OK on the file row, and the panel answers `paths` with `result`.
    void choose(const QStringList& paths, int result = 1) {
        if (!chooser) {
            open({});
            press(0);
            log.clear();  // the console lines of the selection only
        }
        chooser->runOpenPanel = [this, paths, result](QStringList* out) {
            ++panelRuns;
            *out = paths;
            return result;
        };
        const int before = panelRuns;
        chooser->okBut->click();
        ASSERT_TRUE(waitUntil([&] { return panelRuns > before; }));
    }
    QTemporaryDir temp;
    const QString folder = temp.path() + "/my firmware";  // a space in the path
    LogCapture log;
    int panelRuns = 0;
    const Bytes image{0x11, 0x22, 0x00, 0x33};
    const Bytes firmware{0xA9, 0x5C, 0x00};
};

TEST_F(LocalFilesTest, ImageThenFirmwareBecomeAnOfflineRelease) {
    choose(
        {write("Tarvo Remote_IMG_V1.4.bin", image), write("Tarvo Remote_FW_V1.4.bin", firmware)});
    ASSERT_TRUE(closed());
    EXPECT_EQ(log.lines(), (Lines{"vvvvvvvvvv", "success", "^^^^^^^^^^"}));
    EXPECT_EQ(vc->FWData.get(), firmware);
    EXPECT_EQ(bytesOf(vc->imageData.get()), image);
    EXPECT_EQ(refreshes, (decltype(refreshes){{UpMode::offline, Histoty{"1.4", ""}}}));
}

TEST_F(LocalFilesTest, CancelOrOtherThanTwoFilesKeepsTheChooserOpenAndSilent) {
    const QString img = write("Tarvo Remote_IMG_V1.4.bin", image);
    const QString fw = write("Tarvo Remote_FW_V1.4.bin", firmware);
    choose({img, fw}, 0);
    choose({fw});
    choose({img, fw, img});
    pump(50);
    ASSERT_TRUE(chooser && chooser->isVisible());
    EXPECT_EQ(chooser->idx, 0);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_TRUE(unchanged());
}

TEST_F(LocalFilesTest, TwoFirmwareFilesAreRejected) {
    choose({write("Tarvo Remote_FW_V1.4.bin", firmware), write("tarvo remote_fw_v1.3.bin", image)});
    ASSERT_TRUE(closed());
    EXPECT_EQ(log.lines(), (Lines{"vvvvvvvvvv", "invalidate files", "^^^^^^^^^^"}));
    EXPECT_TRUE(unchanged());
}

// A release is taken whole or not at all.
TEST_F(LocalFilesTest, UnreadableImageTakesNothing) {
    choose({write("Tarvo Remote_FW_V1.4.bin", firmware), folder + "/Tarvo Remote_IMG_V1.4.bin"});
    ASSERT_TRUE(closed());
    EXPECT_EQ(log.lines(), (Lines{"vvvvvvvvvv", "success", "load files failed", "^^^^^^^^^^"}));
    EXPECT_FALSE(vc->FWData.get());
    EXPECT_FALSE(vc->imageData.get());
    EXPECT_EQ(vc->updateMode.load(), UpMode::none);
}

}  // namespace
}  // namespace tarvo::test
