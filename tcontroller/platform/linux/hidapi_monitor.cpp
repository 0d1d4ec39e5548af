#include "tcontroller/platform/linux/hidapi_monitor.h"

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QByteArray>
#include <QVariantMap>
#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "tcontroller/base/log.h"
#include "tcontroller/base/result.h"

namespace tarvo {

namespace {

constexpr int kReadTimeoutMs = 250;
constexpr int kOpenAttempts = 20;
constexpr int kOpenRetryMs = 50;

int makeEventFd() {
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        throw std::runtime_error("eventfd: " + errnoText(errno));
    }
    return fd;
}

void wakeFd(int fd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(fd, &one, sizeof one);
}

void drain(int fd) {
    std::uint64_t count = 0;
    [[maybe_unused]] auto n = ::read(fd, &count, sizeof count);
}

// hidapi does not keep errno of a failed open; ask the node itself.
int openErrno(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    ::close(fd);
    return 0;
}

std::once_flag hidInitOnce;
bool hidInitOk = false;

}  // namespace

// ---------------------------------------------------------------------------
// HidapiDevice

HidapiDevice::HidapiDevice(std::string path, std::shared_ptr<hid_device_> handle)
    : path_(std::move(path)), handle_(std::move(handle)) {}

int HidapiDevice::setReport(int reportType, std::uint8_t /*reportId*/, const std::uint8_t* bytes,
                            std::size_t length) {
    if (reportType != kHIDReportTypeOutput || bytes == nullptr || length == 0) {
        return kHIDReturnError;
    }
    std::shared_ptr<hid_device_> handle;
    {
        std::lock_guard<std::mutex> hold(stateMutex_);
        handle = handle_;
    }
    if (!handle) {
        return kHIDReturnError;
    }
    // Report number 0 first: the device uses no numbered reports. Every frame
    // the tool writes fits the buffer on the stack, so a write allocates nothing.
    constexpr std::size_t kStackReport = 512;
    std::array<std::uint8_t, kStackReport> onStack;
    Bytes onHeap;
    std::uint8_t* report = onStack.data();
    if (length + 1 > onStack.size()) {
        onHeap.resize(length + 1);
        report = onHeap.data();
    }
    report[0] = 0x00;
    std::memcpy(report + 1, bytes, length);
    std::lock_guard<std::mutex> hold(writeMutex_);
    const int written = hid_write(handle.get(), report, length + 1);
    return written == static_cast<int>(length + 1) ? kHIDReturnSuccess : kHIDReturnError;
}

void HidapiDevice::detach() {
    std::shared_ptr<hid_device_> released;
    {
        std::lock_guard<std::mutex> hold(stateMutex_);
        released = std::move(handle_);
        handle_.reset();
    }
    // `released` closes the handle here unless a write still holds it.
}

// ---------------------------------------------------------------------------
// HidapiMonitor

struct HidapiMonitor::Held {
    std::shared_ptr<HidapiDevice> device;
    hid_device* reader = nullptr;  // used by the reader thread only
    std::atomic<bool> stop{false};
    std::thread thread;
};

HidapiMonitor::HidapiMonitor(std::vector<HIDMonitorData> filters, int reportSize,
                             HotplugOpener openHotplug)
    : filters_(std::move(filters)),
      reportSize_(reportSize > 0 ? static_cast<std::size_t>(reportSize) : 64u),
      openHotplug_(openHotplug ? std::move(openHotplug) : [](udev* context) {
          return udev_monitor_new_from_netlink(context, "udev");
      }) {
    stopFd_ = makeEventFd();
    inputFd_ = makeEventFd();
}

HidapiMonitor::~HidapiMonitor() {
    while (!held_.empty()) {
        release(held_.begin()->first, false);
    }
    ::close(stopFd_);
    ::close(inputFd_);
}

void HidapiMonitor::stop() {
    stopRequested_ = true;
    wakeFd(stopFd_);  // stays readable: every later wait sees it too
}

void HidapiMonitor::watch(udev_monitor* monitor, int udevFd) {
    // Sleeps in poll() until a stop, input reports or a hot-plug event.
    while (!stopRequested_) {
        pollfd fds[3] = {{stopFd_, POLLIN, 0}, {inputFd_, POLLIN, 0}, {udevFd, POLLIN, 0}};
        const nfds_t count = udevFd >= 0 ? 3 : 2;
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[0].revents & POLLIN) {
            break;
        }
        if (fds[1].revents & POLLIN) {
            drain(inputFd_);
            deliverInput();
        }
        if (count == 3 && (fds[2].revents & POLLIN)) {
            handleUdevEvents(monitor);
        }
    }
}

bool HidapiMonitor::waitForStop(int milliseconds) {
    pollfd fd{stopFd_, POLLIN, 0};
    return ::poll(&fd, 1, milliseconds) > 0 || stopRequested_;
}

void HidapiMonitor::start() {
    if (stopRequested_) {
        return;
    }
    std::call_once(hidInitOnce, [] { hidInitOk = hid_init() == 0; });
    if (!hidInitOk) {
        // Returning early also tells the owner that the bus is not watched.
        emit HIDMonitorFailed(QStringLiteral("hid_init failed"));
        return;
    }

    // The hot-plug watch starts before the enumeration, so a controller plugged
    // in between the two is not missed (seeing it twice is harmless).
    udev* context = udev_new();
    udev_monitor* monitor = context ? openHotplug_(context) : nullptr;
    int udevFd = -1;
    if (monitor &&
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr) >= 0 &&
        udev_monitor_enable_receiving(monitor) >= 0) {
        udevFd = udev_monitor_get_fd(monitor);
        ::fcntl(udevFd, F_SETFL, ::fcntl(udevFd, F_GETFL) | O_NONBLOCK);
    } else {
        // What is attached now is still found, but nothing plugged in later
        // (not even the controller coming back from its bootloader).
        emit HIDMonitorFailed(
            QStringLiteral("no udev monitor, so a controller plugged in "
                           "later is not seen"));
    }

    reconcile();

    watch(monitor, udevFd);

    while (!held_.empty()) {
        release(held_.begin()->first, false);
    }
    {
        std::lock_guard<std::mutex> hold(inputMutex_);
        input_.clear();
    }
    if (monitor) {
        udev_monitor_unref(monitor);
    }
    if (context) {
        udev_unref(context);
    }
}

void HidapiMonitor::handleUdevEvents(udev_monitor* monitor) {
    bool any = false;
    while (udev_device* device = udev_monitor_receive_device(monitor)) {
        const char* action = udev_device_get_action(device);
        const char* node = udev_device_get_devnode(device);
        // A node that could not be opened gets another chance when it is added
        // again or its permissions change.
        if (action && node &&
            (std::strcmp(action, "add") == 0 || std::strcmp(action, "change") == 0)) {
            unopenable_.erase(node);
        }
        udev_device_unref(device);
        any = true;
    }
    if (any) {
        reconcile();
    }
}

// Brings the held devices in line with what hidapi enumerates: devices that
// have gone are released (disconnected), new ones are opened (connected).
void HidapiMonitor::reconcile() {
    std::set<std::string> present;
    for (const HIDMonitorData& filter : filters_) {
        hid_device_info* list = hid_enumerate(filter.vendorId, filter.productId);
        for (hid_device_info* info = list; info; info = info->next) {
            if (info->path) {
                present.insert(info->path);
            }
        }
        hid_free_enumeration(list);
    }
    for (auto it = held_.begin(); it != held_.end();) {
        const std::string path = (it++)->first;
        if (!present.count(path)) {
            release(path, true);
        }
    }
    for (auto it = unopenable_.begin(); it != unopenable_.end();) {
        it = present.count(*it) ? std::next(it) : unopenable_.erase(it);
    }
    for (const std::string& path : present) {
        if (stopRequested_) {
            return;
        }
        if (!held_.count(path) && !unopenable_.count(path)) {
            open(path);
        }
    }
}

void HidapiMonitor::open(const std::string& path) {
    hid_device* writer = nullptr;
    hid_device* reader = nullptr;
    int error = 0;
    // Right after a hot-plug event udev may not have applied the permissions yet.
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        writer = hid_open_path(path.c_str());
        reader = writer ? hid_open_path(path.c_str()) : nullptr;
        if (reader) {
            break;
        }
        if (writer) {
            hid_close(writer);
            writer = nullptr;
        }
        error = openErrno(path);
        const bool permission = error == EACCES || error == EPERM;
        if ((!permission && error != 0) || attempt + 1 == kOpenAttempts ||
            waitForStop(kOpenRetryMs)) {
            break;
        }
    }
    if (!reader) {
        if (stopRequested_) {
            return;
        }
        if (error == EACCES || error == EPERM) {
            logLine("cannot open HID device " + path +
                    ": permission denied (is the udev rule installed?)");
        } else {
            logLine("cannot open HID device " + path + ": " +
                    (error ? errnoText(error) : std::string("hidapi refused it")));
        }
        unopenable_.insert(path);
        return;
    }

    auto held = std::make_unique<Held>();
    held->device = std::make_shared<HidapiDevice>(
        path, std::shared_ptr<hid_device_>(writer, [](hid_device_* d) { hid_close(d); }));
    held->reader = reader;
    Held* raw = held.get();
    held->thread = std::thread([this, raw] { readLoop(raw); });
    const HIDDevicePtr device = held->device;
    held_.emplace(path, std::move(held));

    QVariantMap object;
    object.insert(QStringLiteral("device"), QVariant::fromValue(device));
    emit HIDDeviceConnected(object);
}

void HidapiMonitor::release(const std::string& path, bool notify) {
    auto it = held_.find(path);
    if (it == held_.end()) {
        return;
    }
    std::unique_ptr<Held> held = std::move(it->second);
    held_.erase(it);
    held->stop = true;
    held->thread.join();  // at most one read timeout
    hid_close(held->reader);
    held->device->detach();
    if (notify) {
        QVariantMap object;
        object.insert(QStringLiteral("device"), QVariant::fromValue(HIDDevicePtr(held->device)));
        emit HIDDeviceDisconnected(object);
    }
}

void HidapiMonitor::readLoop(Held* held) {
    Bytes buffer(reportSize_);
    while (!held->stop) {
        const int got =
            hid_read_timeout(held->reader, buffer.data(), buffer.size(), kReadTimeoutMs);
        if (got == 0) {
            continue;
        }
        Input input{held->device, {}, got < 0};
        if (got > 0) {
            input.data.assign(buffer.begin(), buffer.begin() + got);
        }
        {
            std::lock_guard<std::mutex> hold(inputMutex_);
            input_.push_back(std::move(input));
        }
        wakeFd(inputFd_);
        if (got < 0) {
            return;
        }
    }
}

void HidapiMonitor::deliverInput() {
    std::deque<Input> batch;
    {
        std::lock_guard<std::mutex> hold(inputMutex_);
        batch.swap(input_);
    }
    for (Input& input : batch) {
        const std::string path = input.device->name();
        auto it = held_.find(path);
        if (it == held_.end() || it->second->device != input.device) {
            continue;  // from a device already released
        }
        if (input.failed) {
            release(path, true);
            continue;
        }
        QVariantMap object;
        object.insert(QStringLiteral("data"),
                      QByteArray(reinterpret_cast<const char*>(input.data.data()),
                                 static_cast<qsizetype>(input.data.size())));
        emit HIDDeviceDataReceived(object);
    }
}

HidMonitorFactory hidapiMonitorFactory(const HidapiMonitor::HotplugOpener& openHotplug) {
    // No exception leaves the factory: a monitor that cannot be made is
    // logged and reported as none, and the window says the bus is not watched.
    return [openHotplug](const std::vector<HIDMonitorData>& filters,
                         int reportSize) -> std::unique_ptr<HidMonitor> {
        try {
            return std::make_unique<HidapiMonitor>(filters, reportSize, openHotplug);
        } catch (const std::exception& e) {
            logLine(std::string("cannot start HID monitoring: ") + escapeForLog(e.what()));
            return nullptr;
        }
    };
}

}  // namespace tarvo
