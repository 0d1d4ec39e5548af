#pragma once

#include <optional>
#include <string>

#include "tcontroller/base/bytes.h"
#include "tcontroller/base/result.h"

namespace tarvo {

// A release whose image the controller has received while its firmware has
// not been written to the controller's drive yet.
struct PendingRelease {
    std::string version;
    Bytes image;
    Bytes firmware;
};

// Keeps the pending release on disk, so that a tool that was closed, crashed
// or lost power before the firmware write finishes that update on its next
// start instead of writing the built-in release. The folder holds image.bin,
// firmware.bin and a manifest (the version and a SHA-256 of each file). Every
// file is written under a temporary name, flushed and renamed, and the
// manifest last, so a record is either whole or not there; one whose files do
// not match their digests is refused. The store keeps no state of its own:
// any thread.
class PendingReleaseStore {
  public:
    explicit PendingReleaseStore(std::string folder) : folder_(std::move(folder)) {}

    const std::string& folder() const { return folder_; }

    // Records `release` in place of any earlier one (the folder is created,
    // private to the user).
    Result<void> save(const std::string& version, const Bytes& image, const Bytes& firmware) const;
    Result<void> save(const PendingRelease& release) const {
        return save(release.version, release.image, release.firmware);
    }
    // The recorded release, or nothing when none is recorded. Fails, saying
    // why, when a record is there but cannot be used.
    Result<std::optional<PendingRelease>> load() const;
    // Forgets the record; true when none is left.
    bool clear() const;

  private:
    std::string folder_;
};

// The SHA-256 of `bytes` as 64 lower-case hex digits.
std::string sha256Hex(const Bytes& bytes);

}  // namespace tarvo
