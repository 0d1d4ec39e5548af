#include "sim/virtual_controller.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QVariantMap>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <thread>

#include "sim/firmware_format.h"
#include "sim/sim_volume_watcher.h"

namespace tarvo::sim {

// ---------------------------------------------------------------------------
// The controller's event loop: runs posted steps at their due time, in due
// order (steps due at the same time in posting order), and watches one extra
// descriptor. An eventfd wakes poll() for new steps and for stop(); between
// events the thread sleeps in poll().
class SimLoop {
  public:
    using Clock = std::chrono::steady_clock;

    SimLoop(int watchFd, std::function<void()> onWatchReadable)
        : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
          watchFd_(watchFd),
          onWatchReadable_(std::move(onWatchReadable)) {
        if (wakeFd_ < 0) {
            throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
        }
    }
    ~SimLoop() { ::close(wakeFd_); }
    SimLoop(const SimLoop&) = delete;
    SimLoop& operator=(const SimLoop&) = delete;

    void post(std::chrono::milliseconds delay, std::function<void()> step) {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            steps_.emplace(Clock::now() + delay, std::move(step));
        }
        wake();
    }

    void stop() {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            stopped_ = true;
        }
        wake();
    }

    void run() {
        std::unique_lock<std::mutex> hold(mutex_);
        while (!stopped_) {
            std::vector<std::function<void()>> due;
            const auto now = Clock::now();
            while (!steps_.empty() && steps_.begin()->first <= now) {
                due.push_back(std::move(steps_.begin()->second));
                steps_.erase(steps_.begin());
            }
            int timeoutMs = -1;
            if (due.empty() && !steps_.empty()) {
                const auto wait =
                    std::chrono::ceil<std::chrono::milliseconds>(steps_.begin()->first - now);
                timeoutMs = static_cast<int>(std::clamp<long long>(wait.count(), 1, INT_MAX));
            }
            hold.unlock();
            if (!due.empty()) {
                for (auto& step : due) {
                    step();
                }
            } else {
                pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {watchFd_, POLLIN, 0}};
                if (::poll(fds, 2, timeoutMs) > 0) {
                    if (fds[0].revents & POLLIN) {
                        std::uint64_t count = 0;
                        [[maybe_unused]] auto n = ::read(wakeFd_, &count, sizeof count);
                    }
                    if (fds[1].revents & POLLIN) {
                        onWatchReadable_();
                    }
                }
            }
            hold.lock();
        }
    }

  private:
    void wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
    }

    const int wakeFd_;
    const int watchFd_;
    const std::function<void()> onWatchReadable_;
    std::mutex mutex_;
    std::multimap<Clock::time_point, std::function<void()>> steps_;
    bool stopped_ = false;
};

namespace {

constexpr std::uint8_t kStart = 0xA9;
constexpr std::uint8_t kEnd = 0x5C;
constexpr std::uint8_t kTrailer = 0xFF;
constexpr std::uint8_t kModel = 0x9E;
constexpr std::uint8_t kVersion = 0xA0;
constexpr std::uint8_t kErase = 0x98;
constexpr std::uint8_t kTransfer = 0x96;
constexpr std::uint8_t kData = 0x97;
constexpr std::uint8_t kFinalStep = 0x9A;
constexpr std::size_t kSmallestFrame = 7;
constexpr std::size_t kMaxFirmwareFile = 64u * 1024u * 1024u;
const char* const kFirmwareName = "FW.bin";
const char* const kOldFirmwareName = "firmware.bin";
// A full tmpfs volume: one page, room for the old firmware file at most.
constexpr std::size_t kFullVolumeBytes = 4096;

std::uint8_t checksumOf(const std::uint8_t* bytes, std::size_t count) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += bytes[i];
    }
    return static_cast<std::uint8_t>((256u - sum % 256u) % 256u);
}

std::string hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
    return text;
}

std::string n(std::size_t value) {
    return std::to_string(value);
}

}  // namespace

const char* violationKindName(ViolationKind kind) {
    switch (kind) {
        case ViolationKind::reportType:
            return "report type";
        case ViolationKind::reportId:
            return "report ID";
        case ViolationKind::size:
            return "size";
        case ViolationKind::startByte:
            return "start byte";
        case ViolationKind::length:
            return "length";
        case ViolationKind::header:
            return "header";
        case ViolationKind::checksum:
            return "checksum";
        case ViolationKind::endByte:
            return "end byte";
        case ViolationKind::trailer:
            return "trailer";
        case ViolationKind::command:
            return "command";
        case ViolationKind::payload:
            return "payload";
        case ViolationKind::order:
            return "order";
        case ViolationKind::chunk:
            return "chunk";
        case ViolationKind::firmware:
            return "firmware";
    }
    return "unknown";
}

// ---------------------------------------------------------------------------
// FrameChecker

Command FrameChecker::take(int reportType, std::uint8_t reportId, const std::uint8_t* bytes,
                           std::size_t length) {
    if (!checkStructure(reportType, reportId, bytes, length)) {
        return Command::none;
    }
    const Command command = interpret(bytes, length);
    if (command != Command::none) {
        ++counts_[static_cast<std::size_t>(command)];
    }
    return command;
}

std::size_t FrameChecker::count(Command command) const {
    return counts_[static_cast<std::size_t>(command)];
}

void FrameChecker::abandonTransfer() {
    if (state_ == State::erased || state_ == State::receiving) {
        state_ = State::idle;
    }
}

void FrameChecker::addViolation(ViolationKind kind, std::string description) {
    violations_.push_back(Violation{kind, std::move(description)});
}

bool FrameChecker::checkStructure(int reportType, std::uint8_t reportId, const std::uint8_t* bytes,
                                  std::size_t length) {
    bool ok = true;
    if (reportType != kHIDReportTypeOutput) {
        addViolation(ViolationKind::reportType,
                     "report type " + std::to_string(reportType) + " is not an output report (1)");
        ok = false;
    }
    if (bytes == nullptr || length < kSmallestFrame) {
        addViolation(ViolationKind::size, "frame of " + n(bytes ? length : 0) +
                                              " bytes is shorter than the smallest frame (7)");
        return false;
    }
    if (length > kReportSize) {
        addViolation(ViolationKind::size,
                     "frame of " + n(length) + " bytes does not fit one 64-byte report");
        return false;
    }
    if (bytes[0] != kStart) {
        addViolation(ViolationKind::startByte, "start byte " + hex(bytes[0]) + ", expected A9");
        ok = false;
    }
    if (bytes[2] != 0x01 || bytes[3] != 0x00) {
        addViolation(ViolationKind::header,
                     "bytes 2, 3 are " + hex(bytes[2]) + " " + hex(bytes[3]) + ", expected 01 00");
        ok = false;
    }
    if (reportId != 0x01 || reportId != bytes[2]) {
        addViolation(ViolationKind::reportId, "report ID argument " + hex(reportId) +
                                                  ", expected 01 and equal to frame byte 2 (" +
                                                  hex(bytes[2]) + ")");
        ok = false;
    }
    const bool isData = bytes[4] == kData;
    if (isData && bytes[1] == length - 3) {
        addViolation(ViolationKind::trailer, "data frame of " + n(length) +
                                                 " bytes has no FF trailer (LEN " + hex(bytes[1]) +
                                                 " = length - 3)");
        return false;
    }
    const std::size_t expectedLen = length - (isData ? 4 : 3);
    if (bytes[1] != expectedLen) {
        addViolation(ViolationKind::length, std::string(isData ? "data frame" : "frame") + " of " +
                                                n(length) + " bytes has LEN " + hex(bytes[1]) +
                                                ", expected " + hex(expectedLen));
        return false;
    }
    const std::size_t len = bytes[1];
    const std::uint8_t expectedCk = checksumOf(bytes + 1, len);
    if (bytes[1 + len] != expectedCk) {
        addViolation(ViolationKind::checksum,
                     "checksum " + hex(bytes[1 + len]) + ", expected " + hex(expectedCk));
        ok = false;
    }
    if (bytes[2 + len] != kEnd) {
        addViolation(ViolationKind::endByte, "end byte " + hex(bytes[2 + len]) + ", expected 5C");
        ok = false;
    }
    if (isData && bytes[3 + len] != kTrailer) {
        addViolation(ViolationKind::trailer, "trailer " + hex(bytes[3 + len]) + ", expected FF");
        ok = false;
    }
    return ok;
}

Command FrameChecker::interpret(const std::uint8_t* bytes, std::size_t length) {
    const std::uint8_t cmd = bytes[4];
    if (cmd == kData) {
        return takeData(bytes, length);
    }
    // Structure checked: LEN = length - 3 >= 4, so the payload size is LEN - 4.
    const std::size_t k = bytes[1] - 4u;
    const std::uint8_t* payload = bytes + 5;
    const bool oneFlagByte = k == 1 && payload[0] <= 1;
    auto badPayload = [&](const char* what, const char* expected) {
        addViolation(ViolationKind::payload,
                     std::string(what) + " with a " + n(k) + "-byte payload" +
                         (k > 0 ? " starting " + hex(payload[0]) : "") + ", expected " + expected);
        return Command::none;
    };
    switch (cmd) {
        case kModel:
            return k == 0 ? Command::modelRequest : badPayload("model request", "none");
        case kVersion:
            return oneFlagByte ? Command::versionRequest
                               : badPayload("version request", "one byte 00 or 01");
        case kFinalStep:
            if (k != 0) {
                return badPayload("final step", "none");
            }
            if (state_ != State::complete) {
                addViolation(ViolationKind::order, "final step before a complete image");
            }
            return Command::finalStep;
        case kErase:
            if (!oneFlagByte) {
                return badPayload("erase", "one byte 00 or 01");
            }
            state_ = State::erased;
            image_.clear();
            dataFrames_ = 0;
            lastChunkShort_ = false;
            return Command::erase;
        case kTransfer:
            if (!oneFlagByte) {
                return badPayload("begin/end of image", "one byte 00 (begin) or 01 (end)");
            }
            if (payload[0] == 0x01) {
                return takeEnd();
            }
            if (state_ != State::erased) {
                addViolation(ViolationKind::order, "begin of image without a preceding erase");
            }
            state_ = State::receiving;
            image_.clear();
            dataFrames_ = 0;
            lastChunkShort_ = false;
            return Command::begin;
        default:
            addViolation(ViolationKind::command, "unknown command " + hex(cmd));
            return Command::none;
    }
}

Command FrameChecker::takeData(const std::uint8_t* bytes, std::size_t length) {
    // Structure checked: LEN = length - 4, the chunk sits between the length
    // field (offsets 5, 6) and CK.
    const std::size_t len = bytes[1];
    if (len < 6) {
        addViolation(ViolationKind::payload,
                     "data frame of " + n(length) + " bytes has no room for its chunk length");
        return Command::none;
    }
    if (state_ != State::receiving) {
        addViolation(ViolationKind::order, "data frame outside begin/end of image");
        return Command::none;
    }
    const std::size_t actual = len - 6;
    const std::size_t field = (static_cast<std::size_t>(bytes[5]) << 8) | bytes[6];
    if (lastChunkShort_) {
        addViolation(ViolationKind::chunk, "data frame " + n(dataFrames_) +
                                               " follows a shorter one: only the last data "
                                               "frame before the end may be shorter than 54 bytes");
    }
    if (field != actual) {
        addViolation(ViolationKind::chunk, "data frame " + n(dataFrames_) + " has chunk length " +
                                               n(field) + " but carries " + n(actual) + " bytes");
    }
    image_.insert(image_.end(), bytes + 7, bytes + 7 + actual);
    ++dataFrames_;
    lastChunkShort_ = actual < kChunkSize;
    return Command::data;
}

Command FrameChecker::takeEnd() {
    if (state_ != State::receiving) {
        addViolation(ViolationKind::order, "end of image without a begin");
        return Command::end;
    }
    if (!lastChunkShort_) {
        addViolation(ViolationKind::order,
                     "end of image without a final data frame shorter than 54 bytes");
    }
    state_ = State::complete;
    return Command::end;
}

// ---------------------------------------------------------------------------
// BootloaderVolume

BootloaderVolume::BootloaderVolume() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvo-volume-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create the volume's base directory: " +
                                 std::string(std::strerror(errno)));
    }
    baseDir_ = pattern;
    path_ = baseDir_ + "/CRP DISABLE";
    notifyFd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (notifyFd_ < 0) {
        const int error = errno;
        ::rmdir(baseDir_.c_str());
        throw std::runtime_error("inotify_init1: " + std::string(std::strerror(error)));
    }
}

BootloaderVolume::~BootloaderVolume() {
    unmount();
    if (createdMountPoint_) {
        ::rmdir(path_.c_str());
    }
    std::error_code ignored;
    std::filesystem::remove_all(baseDir_, ignored);
    ::close(notifyFd_);
}

void BootloaderVolume::useDirectory(const std::string& path) {
    if (mounted_) {
        return;
    }
    path_ = path;
    tmpfs_ = false;
}

void BootloaderVolume::useTmpfs(const std::string& mountPoint, std::size_t sizeBytes) {
    if (mounted_) {
        return;
    }
    path_ = mountPoint;
    tmpfs_ = true;
    tmpfsSize_ = sizeBytes;
}

bool BootloaderVolume::mount(bool withOldFirmware, std::string* error) {
    if (mounted_) {
        return true;
    }
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!tmpfs_) {
        // The directory must be new or empty: unmounting removes everything in it.
        if (fs::exists(path_, ec) && !(fs::is_directory(path_, ec) && fs::is_empty(path_, ec))) {
            *error = "volume directory " + path_ + " exists and is not an empty directory";
            return false;
        }
        if (!fs::exists(path_, ec) && ::mkdir(path_.c_str(), 0755) != 0) {
            *error = "mkdir " + path_ + ": " + std::strerror(errno);
            return false;
        }
    } else {
        if (!fs::exists(path_, ec)) {
            if (!fs::create_directories(path_, ec)) {
                *error = "cannot create mount point " + path_ + ": " + ec.message();
                return false;
            }
            createdMountPoint_ = true;
        }
        const std::size_t size = full_ ? kFullVolumeBytes : tmpfsSize_;
        const std::string options = "size=" + std::to_string(size) + ",mode=0755";
        if (::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC,
                    options.c_str()) != 0) {
            *error = "mount tmpfs on " + path_ + ": " + std::strerror(errno);
            return false;
        }
    }
    mounted_ = true;
    if (withOldFirmware) {
        const Bytes old = makeReleaseFile(FileKind::firmware, "1.0", 4096);
        std::ofstream out(path_ + "/" + kOldFirmwareName, std::ios::binary);
        out.write(reinterpret_cast<const char*>(old.data()), static_cast<long>(old.size()));
    }
    // The watch goes on after the old file was written, so that write is not
    // mistaken for the tool's.
    watch_ = ::inotify_add_watch(notifyFd_, path_.c_str(), IN_CLOSE_WRITE);
    if (watch_ < 0) {
        *error = "inotify_add_watch " + path_ + ": " + std::strerror(errno);
        unmount();
        return false;
    }
    return true;
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
        *reason = std::string("cannot create a probe directory: ") + std::strerror(errno);
        return false;
    }
    const bool ok = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k") == 0;
    if (ok) {
        ::umount2(dir.c_str(), MNT_DETACH);
    } else {
        *reason = std::string("mounting a tmpfs is not permitted here (needs CAP_SYS_ADMIN): ") +
                  std::strerror(errno);
    }
    ::rmdir(dir.c_str());
    return ok;
}

// ---------------------------------------------------------------------------
// VirtualDevice

VirtualDevice::VirtualDevice(VirtualController* owner, int serial)
    : owner_(owner), serial_(serial) {}

int VirtualDevice::setReport(int reportType, std::uint8_t reportId, const std::uint8_t* bytes,
                             std::size_t length) {
    // Held for the whole write: writes through one record reach the controller
    // one at a time, like reports on one endpoint, and the controller cannot be
    // destroyed under a write.
    std::lock_guard<std::mutex> hold(mutex_);
    if (owner_ == nullptr) {
        return kHIDReturnError;
    }
    return owner_->receive(this, reportType, reportId, bytes, length);
}

std::string VirtualDevice::name() const {
    return "virtual controller #" + std::to_string(serial_);
}

void VirtualDevice::orphan() {
    std::lock_guard<std::mutex> hold(mutex_);
    owner_ = nullptr;
}

// ---------------------------------------------------------------------------
// VirtualController

VirtualController::VirtualController() {
    loop_ = std::make_unique<SimLoop>(volume_.notifyFd(), [this] { onVolumeEvent(); });
}

VirtualController::~VirtualController() {
    std::vector<std::weak_ptr<VirtualDevice>> issued;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        issued = issued_;
    }
    for (auto& weak : issued) {
        if (auto device = weak.lock()) {
            device->orphan();
        }
    }
}

void VirtualController::start() {
    loop_->run();
}

void VirtualController::stop() {
    loop_->stop();
}

void VirtualController::changedLocked() {
    ++generation_;
    changed_.notify_all();
}

void VirtualController::chatter(const std::string& line) const {
    if (verbose_) {
        std::fprintf(stderr, "virtual controller: %s\n", line.c_str());
    }
}

std::shared_ptr<VirtualDevice> VirtualController::detachLocked() {
    auto device = std::move(current_);
    current_.reset();
    connectedNotified_ = false;
    checker_.abandonTransfer();
    return device;
}

// --- bus ---

void VirtualController::plug() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (mode_ != Mode::off) {
        return;
    }
    const unsigned epoch = ++epoch_;
    mode_ = Mode::hid;
    chatter("plugged in");
    loop_->post(std::chrono::milliseconds(0), [this, epoch] { attach(epoch); });
}

void VirtualController::startInBootloader() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (mode_ != Mode::off) {
        return;
    }
    const unsigned epoch = ++epoch_;
    mode_ = Mode::bootloader;
    flashing_ = false;
    chatter("plugged in, in bootloader mode");
    loop_->post(std::chrono::milliseconds(0), [this, epoch] { mountVolume(epoch); });
}

void VirtualController::unplug() {
    std::lock_guard<std::mutex> hold(mutex_);
    ++epoch_;  // cancels every pending step of the old attachment
    auto device = detachLocked();
    unmountLocked();
    mode_ = Mode::off;
    flashing_ = false;
    chatter("unplugged");
    if (device) {
        loop_->post(std::chrono::milliseconds(0), [this, device] { emitDisconnected(device); });
    }
    changedLocked();
}

// Announcements are made under the lock (they only queue), so whoever sees the
// volume's new state knows the watcher has been told.
void VirtualController::unmountLocked() {
    if (!volume_.isMounted()) {
        return;
    }
    volume_.unmount();
    if (watcher_) {
        watcher_->announceUnmount(volume_.path());
    }
}

void VirtualController::attach(unsigned epoch) {
    std::shared_ptr<VirtualDevice> device;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (epoch != epoch_ || current_) {
            return;
        }
        device = std::make_shared<VirtualDevice>(this, ++serials_);
        issued_.push_back(device);
        current_ = device;
        mode_ = Mode::hid;
        connectedNotified_ = false;
        chatter("on HID as " + device->name() + ", firmware " + versionChars_);
    }
    QVariantMap object;
    object.insert(QStringLiteral("device"), QVariant::fromValue(HIDDevicePtr(device)));
    emit HIDDeviceConnected(object);

    std::lock_guard<std::mutex> hold(mutex_);
    ++connectedCount_;
    if (current_ == device) {
        connectedNotified_ = true;
        if (receivedFirmware_) {
            backAfterFirmware_ = true;
        }
    }
    changedLocked();
}

void VirtualController::emitDisconnected(HIDDevicePtr device) {
    QVariantMap object;
    object.insert(QStringLiteral("device"), QVariant::fromValue(device));
    emit HIDDeviceDisconnected(object);
    std::lock_guard<std::mutex> hold(mutex_);
    ++disconnectedCount_;
    changedLocked();
}

void VirtualController::sendReply(const std::weak_ptr<VirtualDevice>& to, Bytes reply) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (to.lock() != current_ || !current_) {
            return;  // the controller left the bus before it could answer
        }
    }
    QVariantMap object;
    object.insert(QStringLiteral("data"), QByteArray(reinterpret_cast<const char*>(reply.data()),
                                                     static_cast<qsizetype>(reply.size())));
    emit HIDDeviceDataReceived(object);
    std::lock_guard<std::mutex> hold(mutex_);
    ++repliesSent_;
    changedLocked();
}

void VirtualController::leaveForBootloader(unsigned epoch) {
    std::shared_ptr<VirtualDevice> device;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (epoch != epoch_ || mode_ != Mode::hid) {
            return;
        }
        device = detachLocked();
        mode_ = Mode::bootloader;
        flashing_ = false;
        chatter("final step: leaving HID for the bootloader");
        if (loseFinalStep_) {
            // Once: after a replug the image is still in flash, and the next
            // final step mounts the volume as usual.
            loseFinalStep_ = false;
            chatter("bootloader volume does not appear until the controller is replugged (fault)");
        } else if (mountAfterFinalStep_) {
            loop_->post(timings_.mount, [this, epoch] { mountVolume(epoch); });
        } else {
            chatter("bootloader will not mount its volume (fault)");
        }
        changedLocked();
    }
    if (device) {
        emitDisconnected(device);
    }
}

void VirtualController::mountVolume(unsigned epoch) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (epoch != epoch_ || mode_ != Mode::bootloader) {
        return;
    }
    std::string error;
    if (!volume_.mount(oldFirmware_, &error)) {
        // A broken test setup, not a fault of the tool: always said.
        std::fprintf(stderr, "virtual controller: cannot mount the bootloader volume: %s\n",
                     error.c_str());
        return;
    }
    ++mountCount_;
    chatter("bootloader volume mounted at " + volume_.path());
    if (watcher_) {
        watcher_->announceMount(volume_.path());
    }
    if (unmountBeforeWrite_) {
        chatter("bootloader volume gone again before anything was written (fault)");
        unmountLocked();
    }
    changedLocked();
}

void VirtualController::onVolumeEvent() {
    std::lock_guard<std::mutex> hold(mutex_);
    // Always drain the queue first, so the descriptor stops being readable.
    if (!volume_.firmwareWritten() || mode_ != Mode::bootloader || flashing_ ||
        !volume_.isMounted()) {
        return;
    }
    const auto file = volume_.readFirmware();
    const auto parsed = file ? parseReleaseFile(*file) : std::nullopt;
    if ((!file || !parsed) && volumeFull_) {
        // The tool's write ran out of space: the part it wrote, if still there,
        // is not its mistake.
        chatter("FW.bin incomplete: the volume is full (fault)");
    } else if (!file) {
        checker_.addViolation(ViolationKind::firmware, "FW.bin cannot be read");
    } else if (!parsed) {
        checker_.addViolation(ViolationKind::firmware,
                              "FW.bin of " + n(file->size()) +
                                  " bytes is not a valid firmware file (truncated or corrupt)");
    } else if (parsed->kind != FileKind::firmware) {
        checker_.addViolation(ViolationKind::firmware, "FW.bin holds an image file, not firmware");
    } else {
        receivedFirmware_ = *file;
        flashing_ = true;
        if (keepOldVersion_) {
            chatter("FW.bin accepted, firmware " + parsed->versionChars +
                    ", flashing; will go on reporting " + versionChars_ + " (fault)");
        } else {
            versionChars_ = parsed->versionChars;
            chatter("FW.bin accepted, firmware " + versionChars_ + ", flashing");
        }
        const unsigned epoch = epoch_;
        loop_->post(timings_.flash, [this, epoch] { finishFlash(epoch); });
    }
    if (!flashing_) {
        chatter("FW.bin rejected; staying in bootloader mode");
    }
    changedLocked();
}

void VirtualController::finishFlash(unsigned epoch) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (epoch != epoch_ || mode_ != Mode::bootloader) {
        return;
    }
    unmountLocked();
    mode_ = Mode::off;
    flashing_ = false;
    chatter("flashed; restarting");
    loop_->post(timings_.reconnect, [this, epoch] { attach(epoch); });
    changedLocked();
}

void VirtualController::leaveBusLocked(const std::string& why) {
    ++epoch_;  // cancels every pending step of this attachment
    mode_ = Mode::off;
    auto gone = detachLocked();
    chatter(why);
    if (gone) {
        loop_->post(std::chrono::milliseconds(0), [this, gone] { emitDisconnected(gone); });
    }
    changedLocked();
}

// --- writes ---

void VirtualController::waitForSlot() {
    std::chrono::steady_clock::time_point slot;
    {
        std::lock_guard<std::mutex> hold(paceMutex_);
        slot = std::max(std::chrono::steady_clock::now(), nextSlot_);
        nextSlot_ = slot + std::chrono::milliseconds(1);
    }
    std::this_thread::sleep_until(slot);
}

Bytes VirtualController::modelReplyLocked() const {
    Bytes reply(FrameChecker::kReportSize, 0);
    const std::uint8_t head[] = {kStart, 0x05,   0x01,
                                 0x00,   kModel, static_cast<std::uint8_t>(model_)};
    std::copy(std::begin(head), std::end(head), reply.begin());
    reply[6] = checksumOf(reply.data() + 1, 5);
    reply[7] = kEnd;
    return reply;
}

Bytes VirtualController::versionReplyLocked() const {
    Bytes reply(FrameChecker::kReportSize, 0);
    const std::uint8_t head[] = {kStart, 0x07, 0x01, 0x00, kVersion};
    std::copy(std::begin(head), std::end(head), reply.begin());
    for (std::size_t i = 0; i < 3; ++i) {
        reply[5 + i] = static_cast<std::uint8_t>(i < versionChars_.size() ? versionChars_[i] : '0');
    }
    reply[8] = checksumOf(reply.data() + 1, 7);
    reply[9] = kEnd;
    return reply;
}

int VirtualController::receive(VirtualDevice* device, int reportType, std::uint8_t reportId,
                               const std::uint8_t* bytes, std::size_t length) {
    bool pacing = false;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        pacing = pacing_;
    }
    if (pacing) {
        waitForSlot();
    }
    std::lock_guard<std::mutex> hold(mutex_);
    if (!current_ || current_.get() != device) {
        chatter("write through a detached record refused");
        return kHIDReturnError;
    }
    const bool isData = bytes != nullptr && length > 4 && bytes[4] == kData;
    if (failAfterData_ &&
        (writesFailing_ || (isData && checker_.dataFrames() >= *failAfterData_))) {
        writesFailing_ = true;
        chatter("write refused (fault)");
        return kHIDReturnError;
    }
    if (unplugAtData_ && isData && checker_.dataFrames() == *unplugAtData_) {
        unplugAtData_.reset();
        leaveBusLocked("unplugged at data frame " + n(checker_.dataFrames()) + " (fault)");
        return kHIDReturnError;
    }

    const Command command = checker_.take(reportType, reportId, bytes, length);
    // A reply goes out from the loop, never inside this call, and at least a
    // millisecond later: the tool marks the reply as awaited only once the
    // write has returned.
    const auto replyDelay = std::max(timings_.reply, std::chrono::milliseconds(1));
    const std::weak_ptr<VirtualDevice> to = current_;
    switch (command) {
        case Command::modelRequest:
            if (!neverReply_) {
                loop_->post(replyDelay, [this, to, r = modelReplyLocked()] { sendReply(to, r); });
            }
            break;
        case Command::versionRequest:
            if (!neverReply_) {
                loop_->post(replyDelay, [this, to, r = versionReplyLocked()] { sendReply(to, r); });
            }
            break;
        case Command::erase:
            if (unplugAfterErase_) {
                unplugAfterErase_ = false;
                leaveBusLocked("unplugged after erase (fault)");
            } else if (replugAfterErase_) {
                replugAfterErase_ = false;
                leaveBusLocked("unplugged after erase, back in " + n(timings_.replug.count()) +
                               " ms (fault)");
                // On its way back, as after plug(): a fresh attach running its
                // firmware, which knows nothing of the erase.
                mode_ = Mode::hid;
                const unsigned epoch = epoch_;
                loop_->post(timings_.replug, [this, epoch] { attach(epoch); });
            }
            break;
        case Command::finalStep: {
            const unsigned epoch = epoch_;
            loop_->post(timings_.leaveHid, [this, epoch] { leaveForBootloader(epoch); });
            break;
        }
        default:
            break;
    }
    changedLocked();
    return kHIDReturnSuccess;
}

// --- configuration ---

void VirtualController::setModel(char model) {
    std::lock_guard<std::mutex> hold(mutex_);
    model_ = model;
}

void VirtualController::setVersionChars(const std::string& chars) {
    std::lock_guard<std::mutex> hold(mutex_);
    versionChars_ = chars;
}

void VirtualController::setPacing(bool on) {
    std::lock_guard<std::mutex> hold(mutex_);
    pacing_ = on;
}

void VirtualController::setVerbose(bool on) {
    std::lock_guard<std::mutex> hold(mutex_);
    verbose_ = on;
}

void VirtualController::setTimings(const VirtualControllerTimings& timings) {
    std::lock_guard<std::mutex> hold(mutex_);
    timings_ = timings;
}

void VirtualController::setVolumeWatcher(SimVolumeWatcher* watcher) {
    std::lock_guard<std::mutex> hold(mutex_);
    watcher_ = watcher;
}

void VirtualController::useDirectoryVolume(const std::string& path) {
    std::lock_guard<std::mutex> hold(mutex_);
    volume_.useDirectory(path);
}

void VirtualController::useTmpfsVolume(const std::string& mountPoint, std::size_t sizeBytes) {
    std::lock_guard<std::mutex> hold(mutex_);
    volume_.useTmpfs(mountPoint, sizeBytes);
}

void VirtualController::setOldFirmwareOnVolume(bool on) {
    std::lock_guard<std::mutex> hold(mutex_);
    oldFirmware_ = on;
}

void VirtualController::setMountAfterFinalStep(bool on) {
    std::lock_guard<std::mutex> hold(mutex_);
    mountAfterFinalStep_ = on;
}

void VirtualController::setUnmountBeforeWrite(bool on) {
    std::lock_guard<std::mutex> hold(mutex_);
    unmountBeforeWrite_ = on;
}

void VirtualController::failWritesAfterDataFrames(std::size_t count) {
    std::lock_guard<std::mutex> hold(mutex_);
    failAfterData_ = count;
    writesFailing_ = false;
}

void VirtualController::unplugAtDataFrame(std::size_t k) {
    std::lock_guard<std::mutex> hold(mutex_);
    unplugAtData_ = k;
}

void VirtualController::unplugAfterErase() {
    std::lock_guard<std::mutex> hold(mutex_);
    unplugAfterErase_ = true;
}

void VirtualController::setNeverReply(bool on) {
    std::lock_guard<std::mutex> hold(mutex_);
    neverReply_ = on;
}

void VirtualController::clearFaults() {
    std::lock_guard<std::mutex> hold(mutex_);
    clearFaultsLocked();
}

void VirtualController::clearFaultsLocked() {
    failAfterData_.reset();
    writesFailing_ = false;
    unplugAtData_.reset();
    unplugAfterErase_ = false;
    neverReply_ = false;
    unmountBeforeWrite_ = false;
    deviceFault_ = DeviceFault::none;
    replugAfterErase_ = false;
    loseFinalStep_ = false;
    volumeFull_ = false;
    volume_.setFull(false);
    keepOldVersion_ = false;
}

void VirtualController::setDeviceFault(DeviceFault fault) {
    std::lock_guard<std::mutex> hold(mutex_);
    clearFaultsLocked();
    deviceFault_ = fault;
    switch (fault) {
        case DeviceFault::none:
            break;
        case DeviceFault::unplugInErase:
            unplugAfterErase_ = true;
            break;
        case DeviceFault::replugInErase:
            replugAfterErase_ = true;
            break;
        case DeviceFault::unplugInData:
            unplugAtData_ = kFaultDataFrame;
            break;
        case DeviceFault::loseFinalStep:
            loseFinalStep_ = true;
            break;
        case DeviceFault::volumeFull:
            volumeFull_ = true;
            volume_.setFull(true);
            break;
        case DeviceFault::unmountBeforeWrite:
            unmountBeforeWrite_ = true;
            break;
        case DeviceFault::keepOldVersion:
            keepOldVersion_ = true;
            break;
        case DeviceFault::noAnswer:
            neverReply_ = true;
            break;
    }
}

DeviceFault VirtualController::deviceFault() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return deviceFault_;
}

bool VirtualController::refuseFileForSpace(const std::string& name) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!volumeFull_ || !volume_.isMounted() || volume_.isTmpfs()) {
        return false;
    }
    chatter(name + " does not fit: no space left on the volume (fault)");
    return true;
}

// --- observations ---

std::string VirtualController::volumePath() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return volume_.path();
}

std::vector<Violation> VirtualController::violations() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return checker_.violations();
}

std::size_t VirtualController::violationCount() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return checker_.violations().size();
}

std::size_t VirtualController::violationCount(ViolationKind kind) const {
    std::lock_guard<std::mutex> hold(mutex_);
    const auto& all = checker_.violations();
    return static_cast<std::size_t>(std::count_if(
        all.begin(), all.end(), [kind](const Violation& v) { return v.kind == kind; }));
}

Bytes VirtualController::receivedImage() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return checker_.image();
}

std::size_t VirtualController::dataFrameCount() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return checker_.dataFrames();
}

std::size_t VirtualController::frameCount(Command command) const {
    std::lock_guard<std::mutex> hold(mutex_);
    return checker_.count(command);
}

bool VirtualController::imageComplete() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return checker_.imageComplete();
}

std::optional<Bytes> VirtualController::receivedFirmware() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return receivedFirmware_;
}

std::string VirtualController::versionChars() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return versionChars_;
}

bool VirtualController::isOnHid() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return current_ && connectedNotified_;
}

bool VirtualController::isBootloaderMounted() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return volume_.isMounted();
}

std::size_t VirtualController::connectedNotifications() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return connectedCount_;
}

std::size_t VirtualController::disconnectedNotifications() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return disconnectedCount_;
}

std::size_t VirtualController::mountCount() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return mountCount_;
}

std::size_t VirtualController::repliesSent() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return repliesSent_;
}

// --- waiting ---

bool VirtualController::waitUntil(const std::function<bool()>& condition, Timeout timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
        const unsigned long seen = generation_;
        hold.unlock();
        // Evaluated without the lock: the condition may use the accessors.
        if (condition()) {
            return true;
        }
        hold.lock();
        if (!changed_.wait_until(hold, deadline, [&] { return generation_ != seen; })) {
            return false;
        }
    }
}

bool VirtualController::waitUntilConnected(Timeout timeout) {
    return waitUntil([this] { return isOnHid(); }, timeout);
}

bool VirtualController::waitUntilDisconnected(Timeout timeout) {
    return waitUntil(
        [this] {
            std::lock_guard<std::mutex> hold(mutex_);
            return !current_ && disconnectedCount_ > 0;
        },
        timeout);
}

bool VirtualController::waitUntilBootloaderMounted(Timeout timeout) {
    return waitUntil([this] { return isBootloaderMounted(); }, timeout);
}

bool VirtualController::waitUntilUnmounted(Timeout timeout) {
    return waitUntil([this] { return !isBootloaderMounted(); }, timeout);
}

bool VirtualController::waitUntilFirmwareReceived(Timeout timeout) {
    return waitUntil([this] { return receivedFirmware().has_value(); }, timeout);
}

bool VirtualController::waitUntilBackOnHid(Timeout timeout) {
    return waitUntil(
        [this] {
            std::lock_guard<std::mutex> hold(mutex_);
            return backAfterFirmware_ && current_ && connectedNotified_;
        },
        timeout);
}

bool VirtualController::waitUntilViolations(std::size_t count, Timeout timeout) {
    return waitUntil([this, count] { return violationCount() >= count; }, timeout);
}

bool VirtualController::waitUntilReplies(std::size_t count, Timeout timeout) {
    return waitUntil([this, count] { return repliesSent() >= count; }, timeout);
}

}  // namespace tarvo::sim
