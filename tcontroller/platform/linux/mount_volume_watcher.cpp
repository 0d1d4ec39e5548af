#include "tcontroller/platform/linux/mount_volume_watcher.h"

#include <libmount/libmount.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QString>
#include <QVariantMap>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <iterator>
#include <optional>

namespace tarvo {

namespace {

constexpr const char* kMountInfo = "/proc/self/mountinfo";

// The mount points of the kernel's table, decoded by libmount. Nothing when the
// table cannot be read.
std::optional<std::set<std::string>> readMountTargets() {
    libmnt_table* table = mnt_new_table();
    if (table == nullptr) {
        return std::nullopt;
    }
    std::optional<std::set<std::string>> targets;
    if (mnt_table_parse_file(table, kMountInfo) == 0) {
        targets.emplace();
        libmnt_iter* iter = mnt_new_iter(MNT_ITER_FORWARD);
        libmnt_fs* fs = nullptr;
        while (iter != nullptr && mnt_table_next_fs(table, iter, &fs) == 0) {
            if (const char* target = mnt_fs_get_target(fs)) {
                targets->insert(target);
            }
        }
        mnt_free_iter(iter);
    }
    mnt_unref_table(table);
    return targets;
}

QVariant pathInfo(const std::string& target) {
    return QVariantMap{{QString::fromLatin1(kVolumePathKey), QString::fromStdString(target)}};
}

}  // namespace

MountVolumeWatcher::~MountVolumeWatcher() {
    stop();
}

Result<void> MountVolumeWatcher::start() {
    if (thread_.joinable()) {
        return Result<void>::success();
    }
    std::optional<std::set<std::string>> baseline = readMountTargets();
    if (!baseline) {
        return Result<void>::failure("cannot read the mount table");
    }
    libmnt_monitor* monitor = mnt_new_monitor();
    if (monitor == nullptr) {
        return Result<void>::failure("cannot create a mount monitor");
    }
    const int monitorFd =
        mnt_monitor_enable_kernel(monitor, 1) == 0 ? mnt_monitor_get_fd(monitor) : -1;
    const int wakeFd = monitorFd >= 0 ? ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK) : -1;
    if (wakeFd < 0) {
        const int err = errno;
        mnt_unref_monitor(monitor);
        return Result<void>::failure(std::string(monitorFd < 0
                                                     ? "cannot watch the kernel's mount table: "
                                                     : "cannot make a wake-up descriptor: ") +
                                     errnoText(err));
    }
    {
        std::lock_guard<std::mutex> hold(mountsMutex_);
        initialMounts_.assign(baseline->begin(), baseline->end());
        mounts_ = std::move(*baseline);
    }
    monitor_ = monitor;
    monitorFd_ = monitorFd;
    wakeFd_ = wakeFd;
    thread_ = std::thread([this] { run(); });
    return Result<void>::success();
}

void MountVolumeWatcher::stop() {
    if (!thread_.joinable()) {
        return;
    }
    const std::uint64_t one = 1;
    // An eventfd write of 1 only fails when the counter is about to overflow,
    // which means a wake-up is already pending.
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
    thread_.join();
    ::close(wakeFd_);
    wakeFd_ = -1;
    mnt_unref_monitor(monitor_);  // also closes monitorFd_
    monitor_ = nullptr;
    monitorFd_ = -1;
}

std::vector<std::string> MountVolumeWatcher::currentMounts() const {
    std::lock_guard<std::mutex> hold(mountsMutex_);
    return {mounts_.begin(), mounts_.end()};
}

std::vector<QVariantMap> MountVolumeWatcher::mountedAtStart() const {
    std::lock_guard<std::mutex> hold(mountsMutex_);
    std::vector<QVariantMap> out;
    for (const std::string& target : initialMounts_) {
        out.push_back(pathInfo(target).toMap());
    }
    return out;
}

void MountVolumeWatcher::run() {
    for (;;) {
        pollfd fds[2] = {{monitorFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;  // stop()
        }
        if ((fds[0].revents & POLLIN) == 0) {
            if (fds[0].revents != 0) {
                return;  // the monitor is broken; polling it again would spin
            }
            continue;
        }
        // Several changes may be pending; one reading of the table covers them.
        const char* file = nullptr;
        int type = 0;
        while (mnt_monitor_next_change(monitor_, &file, &type) == 0) {
        }
        tableChanged();
    }
}

void MountVolumeWatcher::tableChanged() {
    std::optional<std::set<std::string>> now = readMountTargets();
    if (!now) {
        return;  // keep the old set; the next change reads again
    }
    std::vector<std::string> appeared;
    std::vector<std::string> vanished;
    {
        std::lock_guard<std::mutex> hold(mountsMutex_);
        std::set_difference(now->begin(), now->end(), mounts_.begin(), mounts_.end(),
                            std::back_inserter(appeared));
        std::set_difference(mounts_.begin(), mounts_.end(), now->begin(), now->end(),
                            std::back_inserter(vanished));
        mounts_ = std::move(*now);
    }
    // Emitted outside the lock: a handler may call currentMounts().
    for (const std::string& target : vanished) {
        emit didUnmount(pathInfo(target));
    }
    for (const std::string& target : appeared) {
        emit didMount(pathInfo(target));
    }
}

}  // namespace tarvo
