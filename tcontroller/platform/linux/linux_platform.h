#pragma once

#include <memory>
#include <string>

#include "tcontroller/platform/platform.h"

namespace tarvo {

// The real services of a Linux desktop, owned together: hidapi + libudev for
// the controller, UDisks2 (or else libmount) for its bootloader volume, the
// routing table for reachability, libcurl for reads, POSIX files, the system
// clock, the login manager's sleep inhibitor and desktop notifications. Made
// after the QApplication (the D-Bus connections need it).
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
