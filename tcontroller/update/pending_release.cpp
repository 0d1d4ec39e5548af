#include "tcontroller/update/pending_release.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArrayView>
#include <QCryptographicHash>
#include <cerrno>
#include <filesystem>
#include <tuple>

#include "tcontroller/update/pending_manifest.h"

namespace tarvo {
namespace {

constexpr const char* kManifest = "release";
constexpr const char* kImage = "image.bin";
constexpr const char* kFirmware = "firmware.bin";
// No release file comes near this; a larger file is no record of ours.
constexpr off_t kMaxFile = off_t{64} << 20;

// Writes `size` bytes to `path` whole: a temporary file, flushed, renamed.
Result<void> writeAtomically(const std::string& path, const void* data, std::size_t size) {
    const std::string temporary = path + ".new";
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return Result<void>::failure("cannot create " + temporary + ": " + errnoText(errno));
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    int err = 0;
    while (size > 0 && err == 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno != EINTR) {
            err = errno;
        } else if (n > 0) {
            bytes += n;
            size -= static_cast<std::size_t>(n);
        }
    }
    if (err == 0 && ::fsync(fd) != 0) {
        err = errno;
    }
    if (::close(fd) != 0 && err == 0) {
        err = errno;
    }
    if (err == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) {
        err = errno;
    }
    if (err != 0) {
        ::unlink(temporary.c_str());
        return Result<void>::failure("cannot write " + path + ": " + errnoText(err));
    }
    return Result<void>::success();
}

Result<Bytes> readWhole(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return Result<Bytes>::failure("cannot open " + path + ": " + errnoText(errno));
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxFile) {
        ::close(fd);
        return Result<Bytes>::failure(path + " is not a file of a release");
    }
    Bytes bytes(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int err = n < 0 ? errno : EIO;
            ::close(fd);
            return Result<Bytes>::failure("cannot read " + path + ": " + errnoText(err));
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return Result<Bytes>::success(std::move(bytes));
}

}  // namespace

std::string sha256Hex(const Bytes& bytes) {
    const QByteArray digest =
        QCryptographicHash::hash(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
                                 QCryptographicHash::Sha256);
    return digest.toHex().toStdString();
}

Result<void> PendingReleaseStore::save(const std::string& version, const Bytes& image,
                                       const Bytes& firmware) const {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    if (ec) {
        return Result<void>::failure("cannot create " + folder_ + ": " + errnoText(ec.value()));
    }
    ::chmod(folder_.c_str(), 0700);
    // The old manifest goes first: until the new one is in place no record
    // pairs a new file with an old one.
    ::unlink((folder_ + "/" + kManifest).c_str());
    const std::string manifest =
        formatPendingManifest({version, sha256Hex(image), sha256Hex(firmware)});
    for (const auto& [name, data, size] :
         {std::tuple{kImage, static_cast<const void*>(image.data()), image.size()},
          std::tuple{kFirmware, static_cast<const void*>(firmware.data()), firmware.size()},
          std::tuple{kManifest, static_cast<const void*>(manifest.data()), manifest.size()}}) {
        if (Result<void> written = writeAtomically(folder_ + "/" + name, data, size);
            !written.ok()) {
            return written;
        }
    }
    // The renames themselves reach the disk with the folder.
    if (const int dir = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return Result<void>::success();
}

Result<std::optional<PendingRelease>> PendingReleaseStore::load() const {
    using Loaded = Result<std::optional<PendingRelease>>;
    const std::string manifestPath = folder_ + "/" + kManifest;
    struct stat info {};
    if (::lstat(manifestPath.c_str(), &info) != 0 && errno == ENOENT) {
        return Loaded::success(std::nullopt);
    }
    const Result<Bytes> text = readWhole(manifestPath);
    if (!text.ok()) {
        return Loaded::failure(text.error);
    }
    const std::optional<PendingManifest> manifest = parsePendingManifest(
        std::string_view(reinterpret_cast<const char*>(text.value->data()), text.value->size()));
    if (!manifest) {
        return Loaded::failure(manifestPath + " is not a manifest of a release");
    }
    PendingRelease release{manifest->version, {}, {}};
    for (const auto& [name, digest, bytes] :
         {std::tuple{kImage, &manifest->imageSha256, &release.image},
          std::tuple{kFirmware, &manifest->firmwareSha256, &release.firmware}}) {
        Result<Bytes> file = readWhole(folder_ + "/" + name);
        if (!file.ok()) {
            return Loaded::failure(file.error);
        }
        if (sha256Hex(*file.value) != *digest) {
            return Loaded::failure(folder_ + "/" + name + " does not match its SHA-256");
        }
        *bytes = std::move(*file.value);
    }
    return Loaded::success(std::move(release));
}

bool PendingReleaseStore::clear() const {
    bool cleared = true;
    for (const char* name : {kManifest, kImage, kFirmware}) {
        const std::string path = folder_ + "/" + name;
        cleared = (::unlink(path.c_str()) == 0 || errno == ENOENT) && cleared;
    }
    return cleared;
}

}  // namespace tarvo
