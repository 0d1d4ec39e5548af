#include "tcontroller/platform/linux/hidapi_monitor.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QByteArray>
#include <array>
#include <cerrno>
#include <cstring>

#include "tcontroller/base/log.h"

namespace tarvo {

namespace {

constexpr int kReadTimeoutMs = 250;
constexpr int kOpenAttempts = 20;
constexpr int kOpenRetryMs = 50;

Result<int> makeEventFd() {
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        return Result<int>::failure("eventfd: " + errnoText(errno));
    }
    return Result<int>::success(fd);
}

void wakeFd(int fd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(fd, &one, sizeof one);
}

void drain(int fd) {
    std::uint64_t count = 0;
    [[maybe_unused]] auto n = ::read(fd, &count, sizeof count);
}

}  // namespace

// ---------------------------------------------------------------------------
// HidapiDevice

HidapiDevice::HidapiDevice(std::string path, std::string port, std::shared_ptr<HidHandle> handle)
    : path_(std::move(path)), port_(std::move(port)), handle_(std::move(handle)) {}

Result<void> HidapiDevice::fail(const std::string& why) const {
    return Result<void>::failure(path_ + ": " + why);
}

Result<void> HidapiDevice::setReport(int reportType, std::uint8_t /*reportId*/,
                                     const std::uint8_t* bytes, std::size_t length) {
    if (reportType != kHIDReportTypeOutput) {
        return fail("report type " + std::to_string(reportType) + " is not written");
    }
    if (bytes == nullptr || length == 0) {
        return fail("an empty report is not written");
    }
    std::shared_ptr<HidHandle> handle;
    {
        std::lock_guard<std::mutex> hold(stateMutex_);
        handle = handle_;
    }
    if (!handle) {
        return fail("the device has been detached");
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
    Result<void> written = handle->write(report, length + 1);
    if (!written.ok()) {
        return fail(written.error);
    }
    return written;
}

void HidapiDevice::detach() {
    std::shared_ptr<HidHandle> released;
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
    std::unique_ptr<HidHandle> reader;  // used by the reader thread only
    std::atomic<bool> stop{false};
    std::thread thread;
};

Result<std::unique_ptr<HidapiMonitor>> HidapiMonitor::create(std::vector<HIDMonitorData> filters,
                                                             int reportSize,
                                                             std::shared_ptr<HidBackend> backend) {
    using Made = Result<std::unique_ptr<HidapiMonitor>>;
    const Result<int> stopFd = makeEventFd();
    if (!stopFd.ok()) {
        return Made::failure(stopFd.error);
    }
    const Result<int> inputFd = makeEventFd();
    if (!inputFd.ok()) {
        ::close(*stopFd.value);
        return Made::failure(inputFd.error);
    }
    if (!backend) {
        backend = hidapiBackend();
    }
    return Made::success(std::unique_ptr<HidapiMonitor>(new HidapiMonitor(
        std::move(filters), reportSize, std::move(backend), *stopFd.value, *inputFd.value)));
}

HidapiMonitor::HidapiMonitor(std::vector<HIDMonitorData> filters, int reportSize,
                             std::shared_ptr<HidBackend> backend, int stopFd, int inputFd)
    : filters_(std::move(filters)),
      reportSize_(reportSize > 0 ? static_cast<std::size_t>(reportSize) : 64u),
      backend_(std::move(backend)),
      stopFd_(stopFd),
      inputFd_(inputFd) {}

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

void HidapiMonitor::watch(HotplugWatch* hotplug) {
    // Sleeps in poll() until a stop, input reports or a hot-plug event.
    const int hotplugFd = hotplug != nullptr ? hotplug->fd() : -1;
    while (!stopRequested_) {
        pollfd fds[3] = {{stopFd_, POLLIN, 0}, {inputFd_, POLLIN, 0}, {hotplugFd, POLLIN, 0}};
        const nfds_t count = hotplugFd >= 0 ? 3 : 2;
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
            handleHotplugEvents(*hotplug);
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
    if (const Result<void> ready = backend_->init(); !ready.ok()) {
        // Returning early also tells the owner that the bus is not watched.
        emit HIDMonitorFailed(QString::fromStdString(ready.error));
        return;
    }

    // The hot-plug watch starts before the enumeration, so a controller plugged
    // in between the two is not missed (seeing it twice is harmless).
    const std::unique_ptr<HotplugWatch> hotplug = backend_->watchHotplug();
    if (!hotplug) {
        // What is attached now is still found, but nothing plugged in later
        // (not even the controller coming back from its bootloader).
        emit HIDMonitorFailed(
            QStringLiteral("no udev monitor, so a controller plugged in "
                           "later is not seen"));
    }

    reconcile();

    watch(hotplug.get());

    while (!held_.empty()) {
        release(held_.begin()->first, false);
    }
    std::lock_guard<std::mutex> hold(inputMutex_);
    input_.clear();
}

void HidapiMonitor::handleHotplugEvents(HotplugWatch& watch) {
    const std::vector<HotplugEvent> events = watch.receive();
    for (const HotplugEvent& event : events) {
        // A node that could not be opened gets another chance when it is added
        // again or its permissions change.
        if (!event.node.empty() && (event.action == "add" || event.action == "change")) {
            unopenable_.erase(event.node);
        }
    }
    if (!events.empty()) {
        reconcile();
    }
}

// Brings the held devices in line with what the backend enumerates: devices
// that have gone are released (disconnected), new ones are opened (connected).
void HidapiMonitor::reconcile() {
    std::set<std::string> present;
    for (const HIDMonitorData& filter : filters_) {
        for (std::string& path : backend_->enumerate(filter.vendorId, filter.productId)) {
            present.insert(std::move(path));
        }
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
    std::unique_ptr<HidHandle> writer;
    std::unique_ptr<HidHandle> reader;
    int error = 0;
    // Right after a hot-plug event udev may not have applied the permissions yet.
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        HidOpened first = backend_->open(path);
        HidOpened second = first.handle ? backend_->open(path) : HidOpened{};
        if (second.handle) {
            writer = std::move(first.handle);
            reader = std::move(second.handle);
            break;
        }
        error = first.handle ? second.error : first.error;
        first.handle.reset();
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
    held->device = std::make_shared<HidapiDevice>(path, backend_->usbPort(path), std::move(writer));
    held->reader = std::move(reader);
    Held* raw = held.get();
    held->thread = std::thread([this, raw] { readLoop(raw); });
    const HIDDevicePtr device = held->device;
    held_.emplace(path, std::move(held));

    emit HIDDeviceConnected(device);
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
    held->reader.reset();
    held->device->detach();
    if (notify) {
        emit HIDDeviceDisconnected(held->device);
    }
}

void HidapiMonitor::readLoop(Held* held) {
    Bytes buffer(reportSize_);
    while (!held->stop) {
        const int got = held->reader->read(buffer.data(), buffer.size(), kReadTimeoutMs);
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
        emit HIDDeviceDataReceived(input.device,
                                   QByteArray(reinterpret_cast<const char*>(input.data.data()),
                                              static_cast<qsizetype>(input.data.size())));
    }
}

HidMonitorFactory hidapiMonitorFactory(HotplugOpener openHotplug) {
    // Nothing is thrown: a monitor that cannot be made is logged and reported
    // as none, and the window says the bus is not watched.
    return [openHotplug = std::move(openHotplug)](const std::vector<HIDMonitorData>& filters,
                                                  int reportSize) -> std::unique_ptr<HidMonitor> {
        Result<std::unique_ptr<HidapiMonitor>> made =
            HidapiMonitor::create(filters, reportSize, hidapiBackend(openHotplug));
        if (!made.ok()) {
            logLine("cannot start HID monitoring: " + escapeForLog(made.error));
            return nullptr;
        }
        return std::move(*made.value);
    };
}

}  // namespace tarvo
