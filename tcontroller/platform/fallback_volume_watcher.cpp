#include "tcontroller/platform/fallback_volume_watcher.h"

#include "tcontroller/base/log.h"

namespace tarvo {

FallbackVolumeWatcher::FallbackVolumeWatcher(VolumeWatcher& preferred, VolumeWatcher& fallback)
    : preferred_(preferred), fallback_(fallback) {
    for (VolumeWatcher* watcher : {&preferred_, &fallback_}) {
        connect(watcher, &VolumeWatcher::didMount, this, &VolumeWatcher::didMount,
                Qt::DirectConnection);
        connect(watcher, &VolumeWatcher::didUnmount, this, &VolumeWatcher::didUnmount,
                Qt::DirectConnection);
        connect(watcher, &VolumeWatcher::mountFailed, this, &VolumeWatcher::mountFailed,
                Qt::DirectConnection);
    }
}

FallbackVolumeWatcher::~FallbackVolumeWatcher() {
    stop();
}

Result<void> FallbackVolumeWatcher::start() {
    if (active_ != nullptr) {
        return Result<void>::success();
    }
    Result<void> preferred = preferred_.start();
    if (preferred.ok()) {
        active_ = &preferred_;
        return preferred;
    }
    logLine("volume watch: " + escapeForLog(preferred.error) + "; watching the mount table");
    Result<void> fallback = fallback_.start();
    if (fallback.ok()) {
        active_ = &fallback_;
    }
    return fallback;
}

void FallbackVolumeWatcher::stop() {
    if (active_ != nullptr) {
        active_->stop();
        active_ = nullptr;
    }
}

std::vector<QVariantMap> FallbackVolumeWatcher::mountedAtStart() const {
    return active_ != nullptr ? active_->mountedAtStart() : std::vector<QVariantMap>{};
}

}  // namespace tarvo
