#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "tcontroller/base/bytes.h"

namespace tarvo::test {

// Writes `contents` to `path`, replacing what was there.
inline void writeFile(const std::filesystem::path& path, const Bytes& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(contents.data()),
              static_cast<std::streamsize>(contents.size()));
    EXPECT_TRUE(out.good()) << path;
}

// A fresh directory under the system's temp folder, removed with its contents.
class TempDir {
  public:
    TempDir() {
        std::string pattern = std::filesystem::temp_directory_path() / "tarvo-test-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "mkdtemp: " << std::generic_category().message(errno);
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

    std::filesystem::path write(const std::string& name, const Bytes& contents) const {
        const auto file = path_ / name;
        std::filesystem::create_directories(file.parent_path());
        writeFile(file, contents);
        return file;
    }

  private:
    std::filesystem::path path_;
};

// A tmpfs at `target` (created if missing) while this lives, with mount
// options such as "size=64k"; detached at its end, so a failing test never
// leaves a mount behind.
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

// "file://" + the path with every byte outside the unreserved set and "/" escaped.
inline std::string fileAddress(const std::filesystem::path& path) {
    std::string address = "file://";
    for (unsigned char c : path.string()) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            address += static_cast<char>(c);
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", c);
            address += escape;
        }
    }
    return address;
}

// A whole file's bytes (empty when it cannot be read).
inline Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline Bytes patternBytes(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 131 + 7) ^ (i >> 8));
    }
    return bytes;
}

}  // namespace tarvo::test
