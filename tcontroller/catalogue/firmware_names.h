#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo {

// Paths on the firmware server, appended to its base address ("http://" + host).
inline constexpr std::string_view kHistoryQueryPath =
    "/check_fota.php?action=history&production=controller&p_type=";
inline constexpr std::string_view kImagePathPrefix = "/FOTA/firmware/Controller/T/Img_V";
inline constexpr std::string_view kFirmwarePathPrefix = "/FOTA/firmware/Controller/T/FW_V";
inline constexpr std::string_view kReleaseFileSuffix = ".bin";

// The history query address without the model: base + query path.
std::string historyQueryPrefix(std::string_view base);
// Addresses of a release's image and firmware files. The version is inserted
// exactly as given: no trimming, no percent-encoding.
std::string imageAddress(std::string_view base, std::string_view ver);
std::string firmwareAddress(std::string_view base, std::string_view ver);

// The "file://" address of a local path: every byte a path may not carry as it
// is becomes %XX ('?', '#', '%', the space and non-ASCII UTF-8 bytes among
// them); unreserved characters, sub-delimiters, ':', '@' and '/' stay. So no
// part of a folder's name can turn into a query or a fragment.
std::string fileAddressOfPath(std::string_view path);

// The name by which a local file is judged: the last component of its path
// with every ".bin" removed (one left-to-right pass, case-sensitive).
std::string localFileName(std::string_view path);

// The verdict on two local files picked together.
struct LocalPair {
    std::size_t firmwareIndex = 0;  // 0: the first path, 1: the second
    std::size_t imageIndex = 1;
    std::string version;  // from the names; may be empty under the local naming
    bool operator==(const LocalPair&) const = default;
};

// Why picked files are not a pair of release files.
enum class LocalPairProblem {
    none,              // a pair: the verdict's `pair` holds it
    notTwoFiles,       // other than two files were picked
    unrecognisedName,  // `file` follows neither naming
    bothFirmware,      // both are firmware files
    bothImage,         // both are image files
    mixedNamings,      // one follows the local naming, the other the server's
    versionsDiffer,    // server names of two different versions
};

struct LocalPairVerdict {
    LocalPairProblem problem = LocalPairProblem::none;
    std::size_t file = 0;  // the file that failed, for unrecognisedName
    LocalPair pair;        // for none
    bool ok() const { return problem == LocalPairProblem::none; }
    bool operator==(const LocalPairVerdict&) const = default;
};

// Judges picked files by their names. Two namings are accepted:
//
// The local naming (tests on the ASCII lower-cased names of localFileName):
// both must begin with "tarvo remote_", and one must contain "_fw_" while the
// other contains "_img_". The first file is the firmware file when its name
// contains "_fw_" and the second's contains "_img_", else the second is; so
// the firmware file's name always has "_fw_" and the image file's "_img_".
// The version comes from the firmware file's name as written: cut at '_'
// (empty pieces dropped), the piece after the first "fw" piece (any case)
// that has one, without its first character; empty when there is none.
//
// The server's naming of a release's files (the last component of the path,
// ASCII letters in any case): "FW_V<version>.bin" and "Img_V<version>.bin",
// in either order, with the same non-empty version in both, which is the
// pair's version.
//
// A file that follows neither naming is reported by its index (the first such
// file); a pair whose names follow one naming each is mixedNamings.
LocalPairVerdict judgeLocalFiles(const std::vector<std::string>& paths);

// judgeLocalFiles for exactly two files: the pair, or nullopt when rejected.
std::optional<LocalPair> judgeLocalPair(std::string_view firstPath, std::string_view secondPath);

}  // namespace tarvo
