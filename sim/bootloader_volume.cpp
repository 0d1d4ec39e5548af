#include "sim/bootloader_volume.h"

#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "sim/firmware_format.h"
#include "tcontroller/base/result.h"

namespace tarvo::sim {
namespace {

constexpr std::size_t kMaxFirmwareFile = std::size_t{64} << 20;
const char* const kFirmwareName = "FW.bin";
const char* const kOldFirmwareName = "firmware.bin";
// A full tmpfs volume: one page, room for the old firmware file at most.
constexpr std::size_t kFullVolumeBytes = 4096;

}  // namespace

BootloaderVolume::BootloaderVolume() {
    const std::filesystem::path temp = std::filesystem::temp_directory_path();
    std::string pattern = (temp / "tarvo-volume-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("bootloader volume: cannot create its base directory in " +
                                 temp.string() + ": " + tarvo::errnoText(errno));
    }
    baseDir_ = pattern;
    defaultPath_ = baseDir_ + "/CRP DISABLE";
    path_ = defaultPath_;
    notifyFd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (notifyFd_ < 0) {
        const int error = errno;
        ::rmdir(baseDir_.c_str());
        throw std::runtime_error("bootloader volume: inotify_init1: " + tarvo::errnoText(error));
    }
}

BootloaderVolume::~BootloaderVolume() {
    unmount();
    if (staged_) {
        ::umount2(stageDir_.c_str(), MNT_DETACH);
    }
    for (const std::string& point : createdMountPoints_) {
        ::rmdir(point.c_str());
    }
    std::error_code ignored;
    std::filesystem::remove_all(baseDir_, ignored);
    ::close(notifyFd_);
}

tarvo::Result<void> BootloaderVolume::mount(const Setup& setup) {
    if (mounted_) {
        return tarvo::Result<void>::success();
    }
    path_ = setup.path;
    tmpfs_ = setup.tmpfs;
    namespace fs = std::filesystem;
    std::error_code ec;
    // Where the volume is made ready: its own path for a directory (the tool
    // hears of it only when the controller announces it), a staging point
    // for a tmpfs (the tool sees a mount the moment it is made).
    std::string at = path_;
    if (!tmpfs_) {
        // The directory must be new or empty: unmounting removes everything in it.
        if (fs::exists(path_, ec) && !(fs::is_directory(path_, ec) && fs::is_empty(path_, ec))) {
            return tarvo::Result<void>::failure("volume directory " + path_ +
                                                " exists and is not an empty directory");
        }
        if (!fs::exists(path_, ec) && ::mkdir(path_.c_str(), 0755) != 0) {
            return tarvo::Result<void>::failure("mkdir " + path_ + ": " + tarvo::errnoText(errno));
        }
    } else {
        if (!fs::exists(path_, ec)) {
            if (!fs::create_directories(path_, ec)) {
                return tarvo::Result<void>::failure("cannot create mount point " + path_ + ": " +
                                                    ec.message());
            }
            createdMountPoints_.push_back(path_);
        }
        if (tarvo::Result<void> staged = makeStage(); !staged.ok()) {
            return staged;
        }
        at = stageDir_ + "/volume";
        const std::size_t size = setup.full ? kFullVolumeBytes : setup.tmpfsBytes;
        const std::string options = "size=" + std::to_string(size) + ",mode=0755";
        if (::mount("tmpfs", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC,
                    options.c_str()) != 0) {
            return tarvo::Result<void>::failure("mount tmpfs on " + at + ": " +
                                                tarvo::errnoText(errno));
        }
    }
    // Undoes a half-made volume.
    const auto fail = [&](const std::string& why) {
        if (watch_ >= 0) {
            ::inotify_rm_watch(notifyFd_, watch_);
            watch_ = -1;
        }
        if (tmpfs_) {
            ::umount2(at.c_str(), MNT_DETACH);
        } else {
            fs::remove_all(path_, ec);
        }
        return tarvo::Result<void>::failure(why);
    };
    if (setup.oldFirmware) {
        const Bytes old = makeReleaseFile(FileKind::firmware, "1.0", 4096);
        const std::string oldPath = at + "/" + kOldFirmwareName;
        std::ofstream out(oldPath, std::ios::binary);
        out.write(reinterpret_cast<const char*>(old.data()), static_cast<long>(old.size()));
        out.close();
        if (!out) {
            return fail("cannot write " + oldPath);
        }
    }
    // The watch goes on after the old file was written, so that write is not
    // mistaken for the tool's.
    watch_ = ::inotify_add_watch(notifyFd_, at.c_str(), IN_CLOSE_WRITE);
    if (watch_ < 0) {
        return fail("inotify_add_watch " + at + ": " + tarvo::errnoText(errno));
    }
    // Ready: the tmpfs appears at its mount point in one step, with its files
    // on it and watched, as a real drive does. (The watch follows the volume.)
    if (tmpfs_ && ::mount(at.c_str(), path_.c_str(), nullptr, MS_MOVE, nullptr) != 0) {
        return fail("move the volume from " + at + " to " + path_ + ": " + tarvo::errnoText(errno));
    }
    mounted_ = true;
    return tarvo::Result<void>::success();
}

tarvo::Result<void> BootloaderVolume::makeStage() {
    if (staged_) {
        return tarvo::Result<void>::success();
    }
    // A mount may only be moved away from a mount that does not share its
    // events (on most desktops "/" does): the stage is a small private tmpfs
    // of its own.
    stageDir_ = baseDir_ + "/stage";
    if (::mkdir(stageDir_.c_str(), 0700) != 0 && errno != EEXIST) {
        return tarvo::Result<void>::failure("mkdir " + stageDir_ + ": " + tarvo::errnoText(errno));
    }
    if (::mount("tmpfs", stageDir_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC,
                "size=64k,mode=0700") != 0) {
        return tarvo::Result<void>::failure("mount tmpfs on " + stageDir_ + ": " +
                                            tarvo::errnoText(errno));
    }
    if (::mount(nullptr, stageDir_.c_str(), nullptr, MS_PRIVATE, nullptr) != 0 ||
        ::mkdir((stageDir_ + "/volume").c_str(), 0755) != 0) {
        const int err = errno;
        ::umount2(stageDir_.c_str(), MNT_DETACH);
        return tarvo::Result<void>::failure("prepare " + stageDir_ + ": " + tarvo::errnoText(err));
    }
    staged_ = true;
    return tarvo::Result<void>::success();
}

void BootloaderVolume::unmount() {
    if (!mounted_) {
        return;
    }
    if (watch_ >= 0) {
        ::inotify_rm_watch(notifyFd_, watch_);
        watch_ = -1;
    }
    if (tmpfs_) {
        // Lazy: a file the tool still holds open must not keep the volume.
        ::umount2(path_.c_str(), MNT_DETACH);
    } else {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    mounted_ = false;
}

bool BootloaderVolume::firmwareWritten() {
    bool written = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(notifyFd_, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->wd == watch_ && watch_ >= 0 && (event->mask & IN_CLOSE_WRITE) &&
                event->len > 0 && std::strcmp(event->name, kFirmwareName) == 0) {
                written = true;
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return written;
}

std::optional<Bytes> BootloaderVolume::readFirmware() const {
    std::ifstream in(path_ + "/" + kFirmwareName, std::ios::binary | std::ios::ate);
    if (!in) {
        return std::nullopt;
    }
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<std::uint64_t>(size) > kMaxFirmwareFile) {
        return std::nullopt;
    }
    Bytes data(static_cast<std::size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(data.data()), size)) {
        return std::nullopt;
    }
    return data;
}

bool BootloaderVolume::canMountTmpfs(std::string* reason) {
    std::string dir = (std::filesystem::temp_directory_path() / "tarvo-probe-XXXXXX").string();
    if (::mkdtemp(dir.data()) == nullptr) {
        *reason = std::string("cannot create a probe directory: ") + tarvo::errnoText(errno);
        return false;
    }
    const bool ok = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k") == 0;
    if (ok) {
        ::umount2(dir.c_str(), MNT_DETACH);
    } else {
        *reason = std::string("mounting a tmpfs is not permitted here (needs CAP_SYS_ADMIN): ") +
                  tarvo::errnoText(errno);
    }
    ::rmdir(dir.c_str());
    return ok;
}

}  // namespace tarvo::sim
