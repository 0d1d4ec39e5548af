#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tcontroller/base/bytes.h"

namespace tarvo::sim {

// What the loopback server does to the replies it sends.
enum class ServerFault {
    none,
    refuse,     // nothing listens on the port: connections are refused
    status404,  // every request answered 404 with a small HTML page
    status500,  // the same with 500
    truncate,   // the full Content-Length is announced, about half is sent, then the socket closes
    stall,      // headers are sent, then nothing more until the server stops
    slowDrip,   // the body goes out a few bytes per interval
    oversized,  // a zero-filled body of Options::oversizedBytes is streamed
};

// One published release. Files left absent are generated with makeReleaseFile.
struct PublishedRelease {
    std::string ver;
    std::string date;
    std::optional<Bytes> image;
    std::optional<Bytes> firmware;
};

// The history reply for a list of releases, in the order given:
// "\"1.3:2020-01-15\",\"1.2:2019-10-22\"".
std::string historyReplyFor(const std::vector<PublishedRelease>& releases);

// The firmware server on 127.0.0.1 with a free port, for tests and the demo. It
// answers the history query and the Img_V / FW_V files of the releases it is
// given, and can misbehave in the ways a real server or network does.
// Every method is safe to call from any thread at any time.
class FirmwareServer {
  public:
    struct Options {
        std::size_t imageSize = std::size_t{300} * 1024;
        std::size_t firmwareSize = std::size_t{64} * 1024;
        // Serve generated files for any version asked for, published or not.
        bool generateAnyVersion = false;
        // The oversized fault's body length, and whether Content-Length announces it
        // (otherwise it is sent chunked, so only the reader's running count can stop it).
        std::uint64_t oversizedBytes = 64ull * 1024 * 1024 + 1;
        bool announceOversizedLength = true;
        // The slow-drip fault: this many bytes, then a pause.
        std::size_t dripBytes = 16;
        std::chrono::milliseconds dripInterval{50};
    };
    // Called once per request with its method, target (path and query) and status.
    using RequestLog =
        std::function<void(const std::string& method, const std::string& target, int status)>;

    FirmwareServer();
    explicit FirmwareServer(Options options);
    ~FirmwareServer();
    FirmwareServer(const FirmwareServer&) = delete;
    FirmwareServer& operator=(const FirmwareServer&) = delete;

    // Binds 127.0.0.1 on a free port and serves on a thread of its own (or, under
    // the refuse fault, only holds the port). False when no port could be bound.
    bool start();
    // Stops serving and returns promptly, also with stalled or dripping replies
    // in flight. The server can be started again (on a new port).
    void stop();
    bool isRunning() const;
    // "http://127.0.0.1:PORT"; empty before the first start().
    std::string baseAddress() const;
    int port() const;

    // Replaces the published releases; the history reply lists them in this order.
    void publish(std::vector<PublishedRelease> releases);
    // A history body sent verbatim instead of the one built from the releases;
    // std::nullopt goes back to the built one.
    void setHistoryBody(std::optional<std::string> body);
    // The exact bytes served for a version's files; absent when not served.
    std::optional<Bytes> imageFile(const std::string& ver) const;
    std::optional<Bytes> firmwareFile(const std::string& ver) const;

    // Answers GET `path` with a redirect to `location`.
    void setRedirect(const std::string& path, const std::string& location, int status = 302);

    // The history query is answered this much later (zero: at once). Files are
    // never delayed, and stop() ends a wait in progress.
    void setHistoryDelay(std::chrono::milliseconds delay);

    void setFault(ServerFault fault);
    ServerFault fault() const;
    std::size_t requestCount() const;
    void setRequestLog(RequestLog log);
    // A request log printing "server: GET <path> <status>" to standard error.
    static RequestLog stderrRequestLog();

    // The request targets of the three resources, relative to baseAddress().
    static std::string historyTarget();
    static std::string imagePath(const std::string& ver);
    static std::string firmwarePath(const std::string& ver);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarvo::sim
