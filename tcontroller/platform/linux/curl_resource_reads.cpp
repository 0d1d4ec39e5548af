#include "tcontroller/platform/linux/curl_resource_reads.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <utility>

namespace tarvo {
namespace {

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Characters that may appear literally in a URL: unreserved, reserved, and '%'
// only as the start of a two-digit escape. Anything else (space, controls,
// quotes, angle brackets, bytes above 7F) makes the text not an address.
bool hasOnlyUrlCharacters(const std::string& text) {
    static constexpr std::string_view kAllowed =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
        "-._~:/?#[]@!$&'()*+,;=";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size() || !isHexDigit(text[i + 1]) || !isHexDigit(text[i + 2])) {
                return false;
            }
            i += 2;
            continue;
        }
        if (kAllowed.find(c) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct CurlStringDeleter {
    void operator()(char* s) const { curl_free(s); }
};
using CurlString = std::unique_ptr<char, CurlStringDeleter>;

std::optional<std::string> urlPart(CURLU* url, CURLUPart part, unsigned flags) {
    char* raw = nullptr;
    if (curl_url_get(url, part, &raw, flags) != CURLUE_OK || raw == nullptr) {
        return std::nullopt;
    }
    CurlString owned(raw);
    return std::string(owned.get());
}

enum class Scheme { http, file };

struct Address {
    Scheme scheme = Scheme::http;
    std::string filePath;  // decoded local path, file addresses only
};

// The address as quoted in an error text: control characters shown as '?', so
// a rejected address never splits a log line.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
    }
    return out + "\"";
}

// Parses an address the way every read does; on failure *why describes it.
// The local file a parsed file address names: no remote host, and no escaped
// NUL that would cut the decoded path short and name another file.
std::optional<Address> fileAddress(CURLU* url, const std::string& text, std::string* why) {
    const auto host = urlPart(url, CURLUPART_HOST, 0);
    if (host && !host->empty() && *host != "localhost") {
        *why = "invalid address " + quoted(text) + ": file address with a remote host";
        return std::nullopt;
    }
    if (text.find("%00") != std::string::npos) {
        *why = "invalid address " + quoted(text) + ": escaped NUL in a file path";
        return std::nullopt;
    }
    const auto path = urlPart(url, CURLUPART_PATH, CURLU_URLDECODE);
    if (!path || path->empty()) {
        *why = "invalid address " + quoted(text) + ": no path";
        return std::nullopt;
    }
    Address address;
    address.scheme = Scheme::file;
    address.filePath = *path;
    return address;
}

std::optional<Address> parseAddress(const std::string& text, std::string* why) {
    if (text.empty()) {
        *why = "invalid address: empty";
        return std::nullopt;
    }
    if (!hasOnlyUrlCharacters(text)) {
        *why = "invalid address " + quoted(text) + ": character not allowed in a URL";
        return std::nullopt;
    }
    std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
    if (!url) {
        *why = "invalid address: out of memory";
        return std::nullopt;
    }
    const CURLUcode parsed = curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0);
    if (parsed != CURLUE_OK) {
        *why = "invalid address " + quoted(text) + ": " + curl_url_strerror(parsed);
        return std::nullopt;
    }
    const std::string scheme = urlPart(url.get(), CURLUPART_SCHEME, 0).value_or("");
    Address address;
    // The parser tolerates "http:/host" and "http:///host"; an address names its
    // host right after "scheme://", or none at all for a local file.
    const std::size_t colon = text.find(':');
    const std::size_t authority = colon == std::string::npos ? text.size() : colon + 3;
    if (colon == std::string::npos || text.compare(colon, 3, "://") != 0) {
        *why = "invalid address " + quoted(text) + ": \"://\" must follow the scheme";
        return std::nullopt;
    }
    if (scheme == "http" || scheme == "https") {
        if (authority >= text.size() || text[authority] == '/') {
            *why = "invalid address " + quoted(text) + ": no host";
            return std::nullopt;
        }
        const auto host = urlPart(url.get(), CURLUPART_HOST, 0);
        if (!host || host->empty()) {
            *why = "invalid address " + quoted(text) + ": no host";
            return std::nullopt;
        }
        address.scheme = Scheme::http;
        return address;
    }
    if (scheme != "file") {
        *why = "invalid address " + quoted(text) + ": scheme \"" + scheme + "\" is not supported";
        return std::nullopt;
    }
    return fileAddress(url.get(), text, why);
}

// Collects the body and enforces the size cap for bodies whose length was not
// announced (an announced length over the cap is refused by libcurl itself).
// An announced length within the cap is reserved at the first bytes, so a
// release file is held once while it arrives instead of being regrown.
template <typename Container>
struct BodySink {
    Container body;
    std::size_t maxBytes = 0;
    CURL* easy = nullptr;
    bool reserved = false;
    bool overCap = false;
    bool outOfMemory = false;

    static size_t write(char* data, size_t size, size_t count, void* user) {
        auto* sink = static_cast<BodySink*>(user);
        const std::size_t length = size * count;
        if (length > sink->maxBytes - sink->body.size()) {
            sink->overCap = true;
            return 0;  // aborts the transfer
        }
        try {
            if (!sink->reserved) {
                sink->reserved = true;
                curl_off_t announced = -1;
                if (curl_easy_getinfo(sink->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) ==
                        CURLE_OK &&
                    announced > 0 && static_cast<std::uint64_t>(announced) <= sink->maxBytes) {
                    sink->body.reserve(static_cast<std::size_t>(announced));
                }
            }
            sink->body.insert(sink->body.end(), data, data + length);
        } catch (const std::bad_alloc&) {
            sink->outOfMemory = true;
            return 0;
        }
        return length;
    }
};

std::string overCapText(std::size_t maxBytes) {
    return "body larger than " + std::to_string(maxBytes) + " bytes";
}

// Hands libcurl's transfer-info calls to the caller's progress function; a
// false answer aborts the transfer (CURLE_ABORTED_BY_CALLBACK).
int transferInfo(void* user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t /*ultotal*/,
                 curl_off_t /*ulnow*/) {
    const auto* progress = static_cast<const ReadProgress*>(user);
    const auto count = [](curl_off_t n) { return n > 0 ? static_cast<std::uint64_t>(n) : 0u; };
    return (*progress)(count(dlnow), count(dltotal)) ? 0 : 1;
}

// What kind of failure a libcurl result code is. A connect that timed out
// never reached the server; any other time-out broke a transfer off.
ReadFailure failureOf(CURLcode code, CURL* easy) {
    switch (code) {
        case CURLE_ABORTED_BY_CALLBACK:
            return ReadFailure::cancelled;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
            return ReadFailure::cannotConnect;
        case CURLE_OPERATION_TIMEDOUT: {
            curl_off_t connected = 0;
            curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connected);
            return connected == 0 ? ReadFailure::cannotConnect : ReadFailure::interrupted;
        }
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
            return ReadFailure::interrupted;
        default:
            return ReadFailure::other;
    }
}

// Why a read failed and the status the server answered, for download().
struct Outcome {
    ReadFailure failure = ReadFailure::none;
    long httpStatus = 0;
};

// `maxBytes` is the cap of this read; the other limits come from `limits`.
// With `progress`, libcurl reports the transfer to it; `outcome`, when given,
// receives the kind of failure.
template <typename Container>
Result<Container> curlRead(const std::string& text, const Address& address,
                           const ReadLimits& limits, std::size_t maxBytes,
                           const ReadProgress* progress = nullptr, Outcome* outcome = nullptr) {
    Outcome ignored;
    Outcome& why = outcome != nullptr ? *outcome : ignored;
    why.failure = ReadFailure::other;
    Result<Container> result;
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) {
        result.error = "cannot create a transfer handle";
        return result;
    }
    char errorBuffer[CURL_ERROR_SIZE] = {};
    BodySink<Container> sink;
    sink.maxBytes = maxBytes;

    CURL* e = easy.get();
    sink.easy = e;
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(e, CURLOPT_URL, text.c_str());
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https,file");
    // Redirects stay on the web: a server can never point a read at a local file.
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, limits.maxRedirects);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, limits.minBytesPerSecond);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, limits.slowSeconds);
    curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBytes));
    // A proxy from the environment cannot reach this machine's own loopback.
    curl_easy_setopt(e, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &BodySink<Container>::write);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &sink);
    if (progress != nullptr && *progress) {
        curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &transferInfo);
        curl_easy_setopt(e, CURLOPT_XFERINFODATA, progress);
        curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    }

    const CURLcode code = curl_easy_perform(e);
    // An announced length over the cap is refused before the body arrives
    // (FILESIZE_EXCEEDED), an unannounced one by the sink's running count.
    if (sink.overCap || code == CURLE_FILESIZE_EXCEEDED) {
        result.error = overCapText(maxBytes);
        return result;
    }
    if (sink.outOfMemory) {
        result.error = "out of memory";
        return result;
    }
    // The connect timeout and the low-speed limit both end a read with
    // OPERATION_TIMEDOUT; libcurl words the latter "Operation too slow. ...".
    if (code == CURLE_OPERATION_TIMEDOUT &&
        std::string_view(errorBuffer).starts_with("Operation too slow")) {
        result.error = "transfer slower than " + std::to_string(limits.minBytesPerSecond) +
                       " bytes/s for " + std::to_string(limits.slowSeconds) + " s";
        why.failure = ReadFailure::interrupted;
        return result;
    }
    if (code != CURLE_OK) {
        why.failure = failureOf(code, e);
        result.error = errorBuffer[0] != '\0' ? std::string(errorBuffer)
                                              : std::string(curl_easy_strerror(code));
        return result;
    }
    if (address.scheme == Scheme::http) {
        long status = 0;
        curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
        if (status < 200 || status > 299) {
            result.error = "HTTP status " + std::to_string(status);
            why.failure = ReadFailure::httpStatus;
            why.httpStatus = status;
            return result;
        }
    }
    why.failure = ReadFailure::none;
    result.value = std::move(sink.body);
    return result;
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }

  private:
    int fd_;
};

// libcurl reads a directory as an empty body and blocks on a FIFO: only regular
// files are read.
std::optional<std::string> notARegularFile(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return "cannot open " + path + ": " + errnoText(errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return path + " is not a regular file";
    }
    return std::nullopt;
}

Result<Bytes> readMappedFile(const std::string& path, const ReadLimits& limits) {
    Result<Bytes> result;
    // O_NONBLOCK keeps a FIFO from blocking the open; it is rejected below.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        result.error = "cannot open " + path + ": " + errnoText(errno);
        return result;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        result.error = "cannot stat " + path + ": " + errnoText(errno);
        return result;
    }
    if (!S_ISREG(info.st_mode)) {
        result.error = path + " is not a regular file";
        return result;
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (size > limits.maxBytes) {
        result.error = path + " is larger than " + std::to_string(limits.maxBytes) + " bytes";
        return result;
    }
    if (size == 0) {
        result.value = Bytes{};  // nothing to map: mmap refuses a zero length
        return result;
    }
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd.get(), 0);
    if (map == MAP_FAILED) {
        result.error = "cannot map " + path + ": " + errnoText(errno);
        return result;
    }
    const auto* begin = static_cast<const std::uint8_t*>(map);
    try {
        result.value = Bytes(begin, begin + size);
    } catch (const std::bad_alloc&) {
        result.error = "out of memory";
    }
    ::munmap(map, size);
    return result;
}

}  // namespace

CurlResourceReads::CurlResourceReads(ReadLimits limits) : limits_(limits) {
    initCurlOnce();
}

bool CurlResourceReads::isValidAddress(const std::string& address) const {
    std::string why;
    return parseAddress(address, &why).has_value();
}

Result<std::string> CurlResourceReads::readText(const std::string& address) {
    return readTextUpTo(address, limits_.maxBytes);
}

Result<std::string> CurlResourceReads::readTextUpTo(const std::string& address,
                                                    std::size_t maxBytes) {
    std::string why;
    const auto parsed = parseAddress(address, &why);
    if (!parsed) {
        return {std::nullopt, why};
    }
    if (parsed->scheme == Scheme::file) {
        if (auto error = notARegularFile(parsed->filePath)) {
            return {std::nullopt, *error};
        }
    }
    return curlRead<std::string>(address, *parsed, limits_, std::min(maxBytes, limits_.maxBytes));
}

Result<Bytes> CurlResourceReads::readBytes(const std::string& address, bool mapped) {
    std::string why;
    const auto parsed = parseAddress(address, &why);
    if (!parsed) {
        return {std::nullopt, why};
    }
    if (parsed->scheme == Scheme::file) {
        if (mapped) {
            return readMappedFile(parsed->filePath, limits_);
        }
        if (auto error = notARegularFile(parsed->filePath)) {
            return {std::nullopt, *error};
        }
    }
    return curlRead<Bytes>(address, *parsed, limits_, limits_.maxBytes);
}

Download CurlResourceReads::download(const std::string& address, const ReadProgress& progress) {
    std::string why;
    const auto parsed = parseAddress(address, &why);
    if (!parsed || parsed->scheme == Scheme::file) {
        // Local files are read at once; nothing to wait for or cancel.
        Download local{parsed ? readBytes(address) : Result<Bytes>::failure(why)};
        local.failure = local.bytes.ok() ? ReadFailure::none : ReadFailure::other;
        return local;
    }
    Outcome outcome;
    Download result{
        curlRead<Bytes>(address, *parsed, limits_, limits_.maxBytes, &progress, &outcome)};
    result.failure = outcome.failure;
    result.httpStatus = outcome.httpStatus;
    return result;
}

}  // namespace tarvo
