// The loaders of the built-in release: the files TFW/IMG.bin and TFW/FW.bin
// among the tool's resources, read whole through one memory-mapped read.
#include "tcontroller/catalogue/builtin_files.h"

#include <string>
#include <string_view>

#include "tcontroller/base/log.h"
#include "tcontroller/base/util.h"
#include "tcontroller/catalogue/firmware_names.h"
#include "tcontroller/platform/file_system.h"
#include "tcontroller/platform/resource_reads.h"

namespace tarvo {
namespace {

struct BuiltinFile {
    std::string_view relativePath;  // under the resources directory
    std::string_view successLine;   // followed by the length in bytes
    std::string_view failureLine;
    bool logExistence;  // the firmware loader also logs whether the file exists
};

constexpr BuiltinFile kImageFile{"/TFW/IMG.bin",
                                 "open image successed, size: ", "failed to open image", false};
constexpr BuiltinFile kFirmwareFile{"/TFW/FW.bin", "open fw successed, size: ", "failed to open fw",
                                    true};

std::optional<Bytes> loadBuiltin(const BuiltinFile& file, Util::UpMode mode,
                                 const BuiltinResources& resources) {
    if (mode != Util::UpMode::bIn) {
        return std::nullopt;
    }

    // The resource's path, or the empty string when the resources hold no such file.
    std::string path = resources.dir + std::string(file.relativePath);
    const bool exists = resources.fileSystem != nullptr && resources.fileSystem->exists(path);
    if (!exists) {
        path.clear();
    }

    const std::string address = "file://" + path;
    if (file.logExistence) {
        logLine(address + ", " + (exists ? "true" : "false"));
    } else {
        logLine(address);
    }

    // The directory may hold spaces, '?', '#' or other characters a path in an
    // address cannot carry as they are.
    const std::string encoded = fileAddressOfPath(path);
    ResourceReads* const reads = resources.reads;
    if (reads != nullptr && reads->isValidAddress(encoded)) {
        Result<Bytes> result = reads->readBytes(encoded, /*mapped=*/true);
        if (result.ok()) {
            logLine(std::string(file.successLine) + std::to_string(result.value->size()));
            return std::move(result.value);
        }
    }
    logLine(file.failureLine);
    return std::nullopt;
}

}  // namespace

std::optional<Bytes> getImageData(Util::UpMode mode, const BuiltinResources& resources) {
    return loadBuiltin(kImageFile, mode, resources);
}

std::optional<Bytes> getFWData(Util::UpMode mode, const BuiltinResources& resources) {
    return loadBuiltin(kFirmwareFile, mode, resources);
}

}  // namespace tarvo
