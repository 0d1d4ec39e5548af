#include "tcontroller/catalogue/firmware_names.h"

#include <algorithm>
#include <array>
#include <vector>

namespace tarvo {
namespace {

std::string concat(std::string_view a, std::string_view b, std::string_view c = {},
                   std::string_view d = {}) {
    std::string out;
    out.reserve(a.size() + b.size() + c.size() + d.size());
    out.append(a).append(b).append(c).append(d);
    return out;
}

// Characters a path segment carries as they are: unreserved, sub-delimiters,
// ':' and '@'. '/' separates the segments.
bool keptInPath(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    switch (c) {
        // unreserved
        case '-':
        case '.':
        case '_':
        case '~':
        // sub-delimiters
        case '!':
        case '$':
        case '&':
        case '\'':
        case '(':
        case ')':
        case '*':
        case '+':
        case ',':
        case ';':
        case '=':
        // also allowed in a segment
        case ':':
        case '@':
        case '/':
            return true;
        default:
            return false;
    }
}

// Every byte for which `kept` is false becomes %XX (upper-case hexadecimal).
template <typename Kept>
std::string percentEncode(std::string_view text, Kept kept) {
    static constexpr std::array<char, 16> kHex{'0', '1', '2', '3', '4', '5', '6', '7',
                                               '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (kept(c)) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        }
    }
    return out;
}

std::string asciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

// The last component of a path: what follows its last '/'.
std::string_view lastComponent(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.starts_with(prefix);
}
bool contains(std::string_view s, std::string_view part) {
    return s.find(part) != std::string_view::npos;
}

// Drops the first character of a non-empty piece: one UTF-8 sequence (a lead
// byte and the continuation bytes after it), so a version is never left
// starting in the middle of a character.
std::string_view withoutFirstCharacter(std::string_view piece) {
    std::size_t cut = 1;
    while (cut < piece.size() && (static_cast<unsigned char>(piece[cut]) & 0xC0) == 0x80) {
        ++cut;
    }
    return piece.substr(std::min(cut, piece.size()));
}

std::string versionFromFirmwareName(std::string_view name) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t cut = name.find('_', start);
        if (cut == std::string_view::npos) {
            cut = name.size();
        }
        if (cut > start) {
            pieces.push_back(name.substr(start, cut - start));
        }
        start = cut + 1;
    }
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
        if (asciiLower(pieces[i]) == "fw") {
            return std::string(withoutFirstCharacter(pieces[i + 1]));
        }
    }
    return {};
}

constexpr std::string_view kLocalPrefix = "tarvo remote_";
constexpr std::string_view kFirmwareMark = "_fw_";
constexpr std::string_view kImageMark = "_img_";
constexpr std::string_view kServerFirmwarePrefix = "fw_v";
constexpr std::string_view kServerImagePrefix = "img_v";

enum class Naming { none, local, server };

// What a picked file's name says about it under the two namings.
struct NamedFile {
    Naming naming = Naming::none;
    bool firmware = false;  // a local name may carry both marks
    bool image = false;
    std::string version;  // under the server's naming
};

NamedFile namedFile(std::string_view path) {
    NamedFile file;
    const std::string local = asciiLower(localFileName(path));
    if (startsWith(local, kLocalPrefix)) {
        file.firmware = contains(local, kFirmwareMark);
        file.image = contains(local, kImageMark);
        file.naming = file.firmware || file.image ? Naming::local : Naming::none;
        return file;
    }
    const std::string_view last = lastComponent(path);
    const std::string lower = asciiLower(last);
    for (const std::string_view prefix : {kServerFirmwarePrefix, kServerImagePrefix}) {
        if (lower.size() > prefix.size() + kReleaseFileSuffix.size() && lower.starts_with(prefix) &&
            lower.ends_with(kReleaseFileSuffix)) {
            file.naming = Naming::server;
            file.firmware = prefix == kServerFirmwarePrefix;
            file.image = !file.firmware;
            file.version = std::string(last.substr(
                prefix.size(), last.size() - prefix.size() - kReleaseFileSuffix.size()));
            return file;
        }
    }
    return file;
}

}  // namespace

std::string historyQueryPrefix(std::string_view base) {
    return concat(base, kHistoryQueryPath);
}

std::string imageAddress(std::string_view base, std::string_view ver) {
    return concat(base, kImagePathPrefix, ver, kReleaseFileSuffix);
}

std::string firmwareAddress(std::string_view base, std::string_view ver) {
    return concat(base, kFirmwarePathPrefix, ver, kReleaseFileSuffix);
}

std::string fileAddressOfPath(std::string_view path) {
    return "file://" + percentEncode(path, keptInPath);
}

std::string localFileName(std::string_view path) {
    const std::string_view last = lastComponent(path);
    std::string name;
    name.reserve(last.size());
    std::size_t start = 0;
    for (std::size_t hit = last.find(kReleaseFileSuffix); hit != std::string_view::npos;
         hit = last.find(kReleaseFileSuffix, start)) {
        name.append(last.substr(start, hit - start));
        start = hit + kReleaseFileSuffix.size();
    }
    name.append(last.substr(start));
    return name;
}

LocalPairVerdict judgeLocalFiles(const std::vector<std::string>& paths) {
    LocalPairVerdict verdict;
    if (paths.size() != 2) {
        verdict.problem = LocalPairProblem::notTwoFiles;
        return verdict;
    }
    const NamedFile files[2] = {namedFile(paths[0]), namedFile(paths[1])};
    for (std::size_t k = 0; k < 2; ++k) {
        if (files[k].naming == Naming::none) {
            verdict.problem = LocalPairProblem::unrecognisedName;
            verdict.file = k;
            return verdict;
        }
    }
    const NamedFile& a = files[0];
    const NamedFile& b = files[1];
    if (a.naming != b.naming) {
        verdict.problem = LocalPairProblem::mixedNamings;
        return verdict;
    }
    const bool firmwareThenImage = a.firmware && b.image;
    const bool imageThenFirmware = a.image && b.firmware;
    if (!firmwareThenImage && !imageThenFirmware) {
        // Each name has a mark, and no pairing of them works: both have the
        // same one alone.
        verdict.problem = a.firmware ? LocalPairProblem::bothFirmware : LocalPairProblem::bothImage;
        return verdict;
    }
    // The first file is the firmware file when its name has the firmware mark,
    // except when the pair is only valid the other way round (the first name
    // holds both marks, the second only "_fw_"): then the roles follow the
    // marks, so a file named as firmware is never sent as the image.
    verdict.pair.firmwareIndex = firmwareThenImage ? 0 : 1;
    verdict.pair.imageIndex = 1 - verdict.pair.firmwareIndex;
    if (a.naming == Naming::server) {
        if (a.version != b.version) {
            verdict.problem = LocalPairProblem::versionsDiffer;
            verdict.pair = {};
            return verdict;
        }
        verdict.pair.version = a.version;
    } else {
        verdict.pair.version =
            versionFromFirmwareName(localFileName(paths[verdict.pair.firmwareIndex]));
    }
    return verdict;
}

std::optional<LocalPair> judgeLocalPair(std::string_view firstPath, std::string_view secondPath) {
    LocalPairVerdict verdict = judgeLocalFiles({std::string(firstPath), std::string(secondPath)});
    if (!verdict.ok()) {
        return std::nullopt;
    }
    return std::move(verdict.pair);
}

}  // namespace tarvo
