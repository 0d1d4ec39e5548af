// One tool per session, in one process: of two SingleInstance objects on one
// folder the first holds the lock, in a folder and with a socket private to
// the user; a holder that does not answer still lets the later start end; a
// folder others may write to is not used. (A later start bringing the first
// to the front, and a start after a killed run, with its socket file left
// behind, are tested with the real program in single_instance_test.sh.)
#include "tcontroller/single_instance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstring>
#include <filesystem>

#include "support/temp_files.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;
using Claim = SingleInstance::Claim;

Claim claimed(SingleInstance& instance) {
    const Result<Claim> claim = instance.claim();
    EXPECT_TRUE(claim.ok()) << claim.error;
    return claim.value.value_or(Claim::Taken);
}

// A socket bound and listening at `path` that never accepts: a hung holder.
int hungSocketAt(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(fd, 4), 0);
    return fd;
}

TEST(SingleInstance, TheFirstHoldsTheLockInAFolderAndSocketPrivateToTheUser) {
    test::TempDir dir;
    const std::string folder = (dir.path() / "run").string();
    SingleInstance first(folder, "tool");
    ASSERT_EQ(claimed(first), Claim::First);
    ASSERT_TRUE(first.listen().ok());
    SingleInstance later(folder, "tool");
    EXPECT_EQ(claimed(later), Claim::Taken);
    // Private to the user: the folder it made and the socket in it.
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(first.socketPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);
}

// A holder of the lock that does not listen (still starting) or accepts but
// never answers (hung): the later start gives up after its wait, and says so.
TEST(SingleInstance, AHolderThatDoesNotAnswerLetsTheLaterStartEnd) {
    test::TempDir dir;
    const std::string folder = dir.path().string();
    SingleInstance holder(folder, "tool");
    ASSERT_EQ(claimed(holder), Claim::First);
    SingleInstance later(folder, "tool");
    ASSERT_EQ(claimed(later), Claim::Taken);
    EXPECT_FALSE(later.askToRaise(300ms));
    const int hung = hungSocketAt(holder.socketPath());
    EXPECT_FALSE(later.askToRaise(300ms));
    ::close(hung);
}

TEST(SingleInstance, AFolderOthersCanWriteToIsNotUsed) {
    test::TempDir dir;
    const auto open = dir.path() / "open";
    std::filesystem::create_directory(open);
    std::filesystem::permissions(open, std::filesystem::perms(0777));
    SingleInstance instance(open.string(), "tool");
    const Result<Claim> claim = instance.claim();
    ASSERT_FALSE(claim.ok());
    EXPECT_EQ(claim.error, open.string() + " is writable by other users");
    EXPECT_TRUE(std::filesystem::is_empty(open));
}

}  // namespace
}  // namespace tarvo

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
