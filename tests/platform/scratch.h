#pragma once

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace tarvo::test {

// A tmpfs at `target` (created if missing) for the guard's lifetime; detached on
// destruction, so a failing test never leaves a mount behind.
class TmpfsMount {
  public:
    TmpfsMount(const std::filesystem::path& target, const char* options) : target_(target) {
        std::filesystem::create_directories(target_);
        if (::geteuid() != 0) {
            reason_ = "mounting tmpfs needs root";
        } else if (::mount("tmpfs", target_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options) != 0) {
            reason_ = "cannot mount tmpfs: " + std::generic_category().message(errno);
        } else {
            mounted_ = true;
        }
    }
    ~TmpfsMount() { unmount(); }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& reason() const { return reason_; }  // why it is not mounted
    bool unmount() {
        mounted_ = mounted_ && ::umount2(target_.c_str(), MNT_DETACH) != 0;
        return !mounted_;
    }

  private:
    std::filesystem::path target_;
    bool mounted_ = false;
    std::string reason_;
};

}  // namespace tarvo::test
