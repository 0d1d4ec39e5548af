// Writes one generated release pair: DIR/IMG.bin and DIR/FW.bin.
//
//   make_release --version 1.2 --image-size 307200 --fw-size 65536 --out DIR

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "sim/firmware_format.h"

namespace {

int usage(const char* message) {
    std::fprintf(stderr,
                 "make_release: %s\n"
                 "usage: make_release --version V [--image-size N] [--fw-size N] --out DIR\n",
                 message);
    return 2;
}

bool parseSize(const std::string& text, std::size_t* out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') {
        return false;
    }
    *out = static_cast<std::size_t>(value);
    return true;
}

bool writeFile(const std::filesystem::path& path, const tarvo::Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "make_release: cannot write %s\n", path.c_str());
        return false;
    }
    std::fprintf(stderr, "make_release: wrote %s (%zu bytes)\n", path.c_str(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string version;
    std::string outDir;
    std::size_t imageSize = std::size_t{300} * 1024;
    std::size_t firmwareSize = std::size_t{64} * 1024;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            return usage(("missing value after " + option).c_str());
        }
        const std::string value = argv[++i];
        if (option == "--version") {
            version = value;
        } else if (option == "--out") {
            outDir = value;
        } else if (option == "--image-size") {
            if (!parseSize(value, &imageSize)) {
                return usage("--image-size needs a number of bytes");
            }
        } else if (option == "--fw-size") {
            if (!parseSize(value, &firmwareSize)) {
                return usage("--fw-size needs a number of bytes");
            }
        } else {
            return usage(("unknown option " + option).c_str());
        }
    }
    if (version.empty() || outDir.empty()) {
        return usage("--version and --out are required");
    }
    if (tarvo::sim::versionCharsFor(version).empty()) {
        return usage("the version has no digits the controller could report");
    }
    const std::size_t minimum = tarvo::sim::kReleaseHeaderSize + tarvo::sim::kReleaseTrailerSize;
    if (imageSize < minimum || firmwareSize < minimum) {
        return usage(("a file needs at least " + std::to_string(minimum) + " bytes").c_str());
    }
    std::error_code error;
    std::filesystem::create_directories(outDir, error);
    if (error) {
        std::fprintf(stderr, "make_release: cannot create %s: %s\n", outDir.c_str(),
                     error.message().c_str());
        return 1;
    }
    using tarvo::sim::FileKind;
    const std::filesystem::path dir(outDir);
    const bool ok = writeFile(dir / "IMG.bin",
                              tarvo::sim::makeReleaseFile(FileKind::image, version, imageSize)) &&
                    writeFile(dir / "FW.bin", tarvo::sim::makeReleaseFile(FileKind::firmware,
                                                                          version, firmwareSize));
    return ok ? 0 : 1;
}
