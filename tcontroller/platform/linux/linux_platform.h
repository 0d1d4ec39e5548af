#pragma once

#include <memory>
#include <string>

#include "tcontroller/platform/platform.h"

namespace tarvo {

// The real services of a Linux desktop, owned together: hidapi + libudev for
// the controller, libmount for its bootloader volume, the routing table for
// reachability, libcurl for reads, POSIX files, the system clock.
class LinuxPlatform {
  public:
    LinuxPlatform(std::string serverBase, std::string resourcesDir);
    ~LinuxPlatform();
    const Platform& platform() const { return platform_; }

  private:
    struct Services;
    std::unique_ptr<Services> services_;
    Platform platform_;
};

}  // namespace tarvo
