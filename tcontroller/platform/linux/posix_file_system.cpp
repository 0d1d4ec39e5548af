#include "tcontroller/platform/linux/posix_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tarvo {

namespace {

// Writes all of `size` bytes at the current offset, resuming after partial
// writes and interrupted calls. Returns 0 or the errno of the failure.
int writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (n == 0) {
            return EIO;  // no progress and no error: never loop on it
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

}  // namespace

bool PosixFileSystem::exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

Result<void> PosixFileSystem::remove(const std::string& path) {
    if (::unlink(path.c_str()) == 0) {
        return Result<void>::success();
    }
    return Result<void>::failure(errnoText(errno));
}

Result<void> PosixFileSystem::createFile(const std::string& path, const Bytes& contents) {
    // Only a new file: the caller has deleted any old one, so whatever is at
    // the path now (a file, or a symlink that could point off the volume) was
    // put there by someone else and is neither replaced nor followed.
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // Nothing was created by us, so nothing is removed: after EEXIST the
        // entry belongs to someone else.
        return Result<void>::failure(errnoText(errno));
    }
    int err = writeAll(fd, contents.data(), contents.size());
    // Success is reported only once the bytes are on the device: the volume may
    // be unplugged the moment the controller has read the file.
    if (err == 0 && ::fsync(fd) != 0) {
        err = errno;
    }
    // Linux releases the descriptor even when close fails, so it is never retried.
    if (::close(fd) != 0 && err == 0) {
        err = errno;
    }
    if (err != 0) {
        // Deliberately leave no partial file: a bootloader that found a
        // truncated FW.bin would flash it as if it were whole.
        ::unlink(path.c_str());
        return Result<void>::failure(errnoText(err));
    }
    return Result<void>::success();
}

bool PosixFileSystem::isMountPoint(const std::string& path) {
    // A mount point lies on another device than its parent folder (or is the
    // root of its device, like "/").
    struct stat self {};
    struct stat parent {};
    if (path.empty() || ::stat(path.c_str(), &self) != 0 || !S_ISDIR(self.st_mode)) {
        return false;
    }
    if (::stat((path + "/..").c_str(), &parent) != 0) {
        return false;
    }
    return self.st_dev != parent.st_dev || self.st_ino == parent.st_ino;
}

}  // namespace tarvo
