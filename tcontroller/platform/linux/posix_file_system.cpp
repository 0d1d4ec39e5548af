#include "tcontroller/platform/linux/posix_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

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

// "usb" when the block device `dev` sits below a USB port: its sysfs folder
// resolves to a path through the USB host controller's tree
// (/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/.../block/sdb/sdb1).
std::string busOfDevice(dev_t dev) {
    const std::string link =
        "/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(link.c_str(), nullptr), &std::free);
    if (!real) {
        return {};
    }
    const std::string path = real.get();
    return path.find("/usb") != std::string::npos ? "usb" : std::string();
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

Result<VolumeFacts> PosixFileSystem::describeVolume(const std::string& path) {
    // The folder is opened once and everything is read through it, so the
    // facts belong to one file system even if the mount changes meanwhile.
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return Result<VolumeFacts>::failure(errnoText(errno));
    }
    VolumeFacts facts;
    struct stat info {};
    struct statvfs space {};
    if (::fstat(fd, &info) != 0 || ::fstatvfs(fd, &space) != 0) {
        const int err = errno;
        ::close(fd);
        return Result<VolumeFacts>::failure(errnoText(err));
    }
    facts.totalBytes = static_cast<std::uint64_t>(space.f_blocks) * space.f_frsize;
    facts.bus = busOfDevice(info.st_dev);
    DIR* dir = ::fdopendir(fd);  // takes the descriptor
    if (dir == nullptr) {
        const int err = errno;
        ::close(fd);
        return Result<VolumeFacts>::failure(errnoText(err));
    }
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            facts.entries.push_back(name);
        }
    }
    const int err = errno;
    ::closedir(dir);
    if (err != 0) {
        return Result<VolumeFacts>::failure(errnoText(err));
    }
    return Result<VolumeFacts>::success(std::move(facts));
}

}  // namespace tarvo
