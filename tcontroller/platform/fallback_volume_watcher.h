#pragma once

#include "tcontroller/platform/volume_watcher.h"

namespace tarvo {

// Watches through a preferred watcher, or through a fallback when the
// preferred one cannot start (a desktop service that is not installed). Only
// one of the two ever runs, so no volume is reported twice. Both are owned by
// the caller and outlive this object.
class FallbackVolumeWatcher final : public VolumeWatcher {
    Q_OBJECT
  public:
    FallbackVolumeWatcher(VolumeWatcher& preferred, VolumeWatcher& fallback);
    ~FallbackVolumeWatcher() override;  // stops

    // Starts the preferred watcher, else the fallback; fails when neither starts.
    Result<void> start() override;
    void stop() override;
    std::vector<QVariantMap> mountedAtStart() const override;

  private:
    VolumeWatcher& preferred_;
    VolumeWatcher& fallback_;
    VolumeWatcher* active_ = nullptr;
};

}  // namespace tarvo
