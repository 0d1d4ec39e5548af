// Any two picked paths (the input split at its first NUL byte, or in half):
// the verdict does not depend on their order; an accepted pair assigns each
// role to a different file whose name carries that role under one naming,
// with a version taken from the names; a rejection names a file only when
// that file fails on its own.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tcontroller/catalogue/firmware_names.h"

namespace {

std::string lower(std::string_view text) {
    std::string s(text);
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return s;
}

std::string_view lastComponent(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

// An accepted pair: the roles' names under the naming both follow.
void checkAccepted(const std::string_view (&paths)[2], const tarvo::LocalPair& pair) {
    check(pair.firmwareIndex <= 1 && pair.imageIndex <= 1 && pair.firmwareIndex != pair.imageIndex);
    const std::string names[2] = {tarvo::localFileName(paths[0]), tarvo::localFileName(paths[1])};
    // Names never keep a path separator.
    check(names[0].find('/') == std::string::npos && names[1].find('/') == std::string::npos);
    const std::string fw = lower(names[pair.firmwareIndex]);
    const std::string img = lower(names[pair.imageIndex]);
    const std::string& version = pair.version;
    if (fw.starts_with("tarvo remote_")) {
        check(img.starts_with("tarvo remote_") && fw.find("_fw_") != std::string::npos &&
              img.find("_img_") != std::string::npos);
        check(version.find('_') == std::string::npos &&
              names[pair.firmwareIndex].find(version) != std::string::npos);
        return;
    }
    // The server's names: exactly these two, around one non-empty version.
    check(!version.empty());
    check(lower(lastComponent(paths[pair.firmwareIndex])) == lower("FW_V" + version + ".bin"));
    check(lower(lastComponent(paths[pair.imageIndex])) == lower("Img_V" + version + ".bin"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t cut = input.find('\0');
    const std::string_view paths[2] = {
        input.substr(0, cut == std::string_view::npos ? size / 2 : cut),
        input.substr(cut == std::string_view::npos ? size / 2 : cut + 1)};
    const std::string first(paths[0]);
    const std::string second(paths[1]);

    const tarvo::LocalPairVerdict verdict = tarvo::judgeLocalFiles({first, second});
    const tarvo::LocalPairVerdict swapped = tarvo::judgeLocalFiles({second, first});
    // Neither the verdict nor the reason depends on the order of the two files.
    check(verdict.problem == swapped.problem);
    // The two-file judge says the same.
    const auto pair = tarvo::judgeLocalPair(first, second);
    check(pair.has_value() == verdict.ok() && (!pair || *pair == verdict.pair));
    check(verdict.problem != tarvo::LocalPairProblem::notTwoFiles);

    if (verdict.problem == tarvo::LocalPairProblem::unrecognisedName) {
        // The file named fails on its own, beside itself.
        check(verdict.file <= 1);
        const std::string named(paths[verdict.file]);
        const tarvo::LocalPairVerdict alone = tarvo::judgeLocalFiles({named, named});
        check(alone.problem == tarvo::LocalPairProblem::unrecognisedName && alone.file == 0);
    }
    if (!verdict.ok()) {
        return 0;
    }
    checkAccepted(paths, verdict.pair);
    // The other order swaps the roles of a server pair and keeps its version.
    if (!lower(tarvo::localFileName(first)).starts_with("tarvo remote_")) {
        check(swapped.pair.firmwareIndex == verdict.pair.imageIndex &&
              swapped.pair.version == verdict.pair.version);
    }
    return 0;
}
