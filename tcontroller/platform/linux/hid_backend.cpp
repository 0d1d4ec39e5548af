#include "tcontroller/platform/linux/hid_backend.h"

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <libudev.h>
#include <unistd.h>

#include <QString>
#include <cerrno>
#include <mutex>

#include "tcontroller/platform/linux/sysfs_usb_port.h"

namespace tarvo {

namespace {

// hidapi does not keep errno of a failed open; ask the node itself.
int openErrno(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    ::close(fd);
    return 0;
}

std::string hidErrorText(hid_device* device) {
    const wchar_t* text = hid_error(device);
    return text != nullptr ? QString::fromWCharArray(text).toStdString() : std::string();
}

class HidapiHandle final : public HidHandle {
  public:
    explicit HidapiHandle(hid_device* device) : device_(device) {}
    ~HidapiHandle() override { hid_close(device_); }
    HidapiHandle(const HidapiHandle&) = delete;
    HidapiHandle& operator=(const HidapiHandle&) = delete;

    int read(std::uint8_t* buffer, std::size_t size, int timeoutMs) override {
        const int got = hid_read_timeout(device_, buffer, size, timeoutMs);
        return got < 0 ? -1 : got;
    }

    Result<void> write(const std::uint8_t* report, std::size_t length) override {
        errno = 0;
        const int written = hid_write(device_, report, length);
        const int error = errno;
        if (written == static_cast<int>(length)) {
            return Result<void>::success();
        }
        if (written >= 0) {
            return Result<void>::failure("short write: " + std::to_string(written) + " of " +
                                         std::to_string(length) + " bytes");
        }
        if (error != 0) {
            return Result<void>::failure(errnoText(error));
        }
        const std::string why = hidErrorText(device_);
        return Result<void>::failure(why.empty() ? std::string("hidapi refused the write") : why);
    }

  private:
    hid_device* const device_;
};

class UdevHotplugWatch final : public HotplugWatch {
  public:
    UdevHotplugWatch(udev* context, udev_monitor* monitor)
        : context_(context), monitor_(monitor), fd_(udev_monitor_get_fd(monitor)) {
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    }
    ~UdevHotplugWatch() override {
        udev_monitor_unref(monitor_);
        udev_unref(context_);
    }
    UdevHotplugWatch(const UdevHotplugWatch&) = delete;
    UdevHotplugWatch& operator=(const UdevHotplugWatch&) = delete;

    int fd() const override { return fd_; }

    std::vector<HotplugEvent> receive() override {
        std::vector<HotplugEvent> events;
        while (udev_device* device = udev_monitor_receive_device(monitor_)) {
            const char* action = udev_device_get_action(device);
            const char* node = udev_device_get_devnode(device);
            events.push_back({action != nullptr ? action : "", node != nullptr ? node : ""});
            udev_device_unref(device);
        }
        return events;
    }

  private:
    udev* const context_;
    udev_monitor* const monitor_;
    const int fd_;
};

class HidapiBackend final : public HidBackend {
  public:
    explicit HidapiBackend(HotplugOpener openHotplug) : openHotplug_(std::move(openHotplug)) {}

    Result<void> init() override {
        // hid_init is process-wide and never undone: every monitor shares it.
        static std::once_flag once;
        static bool ok = false;
        std::call_once(once, [] { ok = hid_init() == 0; });
        return ok ? Result<void>::success() : Result<void>::failure("hid_init failed");
    }

    std::vector<std::string> enumerate(std::uint16_t vendorId, std::uint16_t productId) override {
        std::vector<std::string> paths;
        hid_device_info* list = hid_enumerate(vendorId, productId);
        for (hid_device_info* info = list; info != nullptr; info = info->next) {
            if (info->path != nullptr) {
                paths.emplace_back(info->path);
            }
        }
        hid_free_enumeration(list);
        return paths;
    }

    HidOpened open(const std::string& path) override {
        if (hid_device* device = hid_open_path(path.c_str())) {
            return {std::make_unique<HidapiHandle>(device), 0};
        }
        return {nullptr, openErrno(path)};
    }

    // hidapi's hidraw backend names a device by its node.
    std::string usbPort(const std::string& path) override { return usbPortOfHidrawNode(path); }

    std::unique_ptr<HotplugWatch> watchHotplug() override {
        udev* context = udev_new();
        if (context == nullptr) {
            return nullptr;
        }
        udev_monitor* monitor = openHotplug_(context);
        if (monitor == nullptr) {
            udev_unref(context);
            return nullptr;
        }
        if (udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr) < 0 ||
            udev_monitor_enable_receiving(monitor) < 0) {
            udev_monitor_unref(monitor);
            udev_unref(context);
            return nullptr;
        }
        return std::make_unique<UdevHotplugWatch>(context, monitor);
    }

  private:
    const HotplugOpener openHotplug_;
};

}  // namespace

std::shared_ptr<HidBackend> hidapiBackend(HotplugOpener openHotplug) {
    if (!openHotplug) {
        openHotplug = [](udev* context) { return udev_monitor_new_from_netlink(context, "udev"); };
    }
    return std::make_shared<HidapiBackend>(std::move(openHotplug));
}

}  // namespace tarvo
