#pragma once

#include "tcontroller/base/result.h"

namespace tarvo {

// Keeps the computer from sleeping, shutting down or going idle while the
// controller is being written: a controller left half-written by a suspend
// does not start. Thread-safe.
class SleepInhibitor {
  public:
    virtual ~SleepInhibitor() = default;
    // Takes the inhibition; does nothing while it is held. Fails saying why
    // when the system will not take it (no bus, no session manager).
    virtual Result<void> inhibit() = 0;
    // Gives the inhibition back; does nothing when none is held.
    virtual void release() = 0;
    virtual bool held() const = 0;
};

}  // namespace tarvo
