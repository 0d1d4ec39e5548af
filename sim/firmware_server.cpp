#include "sim/firmware_server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>

#include "sim/firmware_format.h"
#include "sim/reply_streams.h"
#include "tcontroller/base/result.h"

namespace tarvo::sim {
namespace {

constexpr std::string_view kHistoryPath = "/check_fota.php";
constexpr std::string_view kImagePrefix = "/FOTA/firmware/Controller/T/Img_V";
constexpr std::string_view kFirmwarePrefix = "/FOTA/firmware/Controller/T/FW_V";
constexpr std::string_view kBinSuffix = ".bin";
constexpr char kLoopback[] = "127.0.0.1";

using SharedBytes = std::shared_ptr<const Bytes>;

// The version in "/FOTA/firmware/Controller/T/Img_V<ver>.bin", if the path is one.
std::optional<std::string> versionIn(std::string_view path, std::string_view prefix) {
    if (path.size() <= prefix.size() + kBinSuffix.size() || !path.starts_with(prefix) ||
        !path.ends_with(kBinSuffix)) {
        return std::nullopt;
    }
    path.remove_prefix(prefix.size());
    path.remove_suffix(kBinSuffix.size());
    return std::string(path);
}

}  // namespace

std::string historyReplyFor(const std::vector<PublishedRelease>& releases) {
    std::string reply;
    for (const auto& release : releases) {
        if (!reply.empty()) {
            reply += ',';
        }
        reply += '"' + release.ver + ':' + release.date + '"';
    }
    return reply;
}

struct FirmwareServer::Impl {
    explicit Impl(Options o) : options(o), streams(options) {}

    struct Stored {
        std::string ver;
        std::string date;
        SharedBytes image;
        SharedBytes firmware;
    };

    const Options options;

    // What is served; everything below contentMutex.
    mutable std::mutex contentMutex;
    std::vector<PublishedRelease> published;  // ver and date only, for the history reply
    std::vector<Stored> releases;
    std::optional<std::string> historyOverride;
    std::map<std::string, std::pair<std::string, int>> redirects;
    mutable std::map<std::string, SharedBytes> generatedImages;
    mutable std::map<std::string, SharedBytes> generatedFirmware;
    RequestLog requestLog;

    std::atomic<ServerFault> fault{ServerFault::none};
    std::atomic<std::chrono::milliseconds::rep> historyDelayMs{0};
    std::atomic<std::size_t> requests{0};
    std::atomic<int> port{0};
    std::atomic<bool> running{false};

    // Starting, stopping and the refuse fault's switch; everything below lifecycleMutex.
    std::mutex lifecycleMutex;
    bool started = false;
    std::unique_ptr<httplib::Server> server;
    std::thread listener;
    int heldPortFd = -1;

    // Streams reply bodies, and ends them when serving ends.
    ReplyStreams streams;

    SharedBytes generate(FileKind kind, const std::string& ver) const {
        const std::size_t size = kind == FileKind::image ? options.imageSize : options.firmwareSize;
        return std::make_shared<const Bytes>(makeReleaseFile(kind, ver, size));
    }

    SharedBytes file(FileKind kind, const std::string& ver) const {
        std::lock_guard<std::mutex> hold(contentMutex);
        for (const auto& release : releases) {
            if (release.ver == ver) {
                return kind == FileKind::image ? release.image : release.firmware;
            }
        }
        if (!options.generateAnyVersion) {
            return nullptr;
        }
        auto& cache = kind == FileKind::image ? generatedImages : generatedFirmware;
        auto& slot = cache[ver];
        if (!slot) {
            slot = generate(kind, ver);
        }
        return slot;
    }

    std::string history() const {
        std::lock_guard<std::mutex> hold(contentMutex);
        return historyOverride ? *historyOverride : historyReplyFor(published);
    }

    RoutedReply route(const httplib::Request& request) const {
        RoutedReply reply;
        {
            std::lock_guard<std::mutex> hold(contentMutex);
            const auto redirect = redirects.find(request.path);
            if (redirect != redirects.end()) {
                reply.status = redirect->second.second;
                reply.location = redirect->second.first;
                reply.body = std::make_shared<const Bytes>();
                return reply;
            }
        }
        if (request.path == kHistoryPath) {
            if (request.get_param_value("action") == "history" &&
                request.get_param_value("production") == "controller" &&
                request.get_param_value("p_type") == "T") {
                reply.status = 200;
                reply.contentType = "text/plain";
                reply.body = std::make_shared<const Bytes>(bytesFromString(history()));
                return reply;
            }
        } else if (auto ver = versionIn(request.path, kImagePrefix)) {
            reply.body = file(FileKind::image, *ver);
        } else if (auto ver = versionIn(request.path, kFirmwarePrefix)) {
            reply.body = file(FileKind::firmware, *ver);
        }
        if (reply.body) {
            reply.status = 200;
            reply.contentType = "application/octet-stream";
        } else {
            reply.body = std::make_shared<const Bytes>(bytesFromString(errorPage(404)));
        }
        return reply;
    }

    void handle(const httplib::Request& request, httplib::Response& response) {
        requests.fetch_add(1);
        const auto delay = std::chrono::milliseconds(historyDelayMs.load());
        if (request.path == kHistoryPath && delay.count() > 0 && !streams.pause(delay)) {
            // The server stops: the reply that was held back is not sent.
            response.status = 503;
            response.set_content(errorPage(503), "text/html");
            logRequest(request, response);
            return;
        }
        const ServerFault now = fault.load();
        if (now == ServerFault::status404 || now == ServerFault::status500) {
            response.status = now == ServerFault::status404 ? 404 : 500;
            response.set_content(errorPage(response.status), "text/html");
        } else if (now == ServerFault::oversized) {
            streams.serveOversized(response);
        } else {
            streams.serve(route(request), now, response);
        }
        logRequest(request, response);
    }

    void logRequest(const httplib::Request& request, const httplib::Response& response) {
        RequestLog log;
        {
            std::lock_guard<std::mutex> hold(contentMutex);
            log = requestLog;
        }
        if (log) {
            log(request.method, request.target, response.status);
        }
    }

    // --- lifecycle; lifecycleMutex is held by the callers ---

    // Serves on `wanted` (0: any free port). False when the port cannot be bound.
    bool beginServing(int wanted) {
        auto candidate = std::make_unique<httplib::Server>();
        // Short timeouts keep stop() prompt when a client lingers on a connection.
        candidate->set_keep_alive_timeout(1);
        candidate->set_read_timeout(2, 0);
        candidate->set_write_timeout(2, 0);
        candidate->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
            handle(request, response);
        });
        int bound = -1;
        if (wanted == 0) {
            bound = candidate->bind_to_any_port(kLoopback);
        } else if (candidate->bind_to_port(kLoopback, wanted)) {
            bound = wanted;
        }
        if (bound <= 0) {
            return false;
        }
        streams.open();
        auto returned = std::make_shared<std::atomic<bool>>(false);
        httplib::Server* raw = candidate.get();
        listener = std::thread([raw, returned] {
            raw->listen_after_bind();
            returned->store(true);
        });
        // httplib's stop() is lost if it comes before the accept loop runs, so wait for it.
        while (!raw->is_running() && !returned->load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        server = std::move(candidate);
        port.store(bound);
        running.store(true);
        return true;
    }

    void endServing() {
        if (!server) {
            return;
        }
        streams.close();
        server->stop();
        listener.join();  // returns once every in-flight reply has ended
        server.reset();
        running.store(false);
    }

    // Keeps the port bound without listening, so connections to it are refused and
    // nobody else takes it. `wanted` 0 picks a free port.
    bool holdPort(int wanted) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return false;
        }
        // The closed listener's connections may still be closing on this port; they
        // were accepted with both options set, so the same options let the bind through.
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(wanted));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ::close(fd);
            return false;
        }
        heldPortFd = fd;
        port.store(ntohs(address.sin_port));
        return true;
    }

    void releasePort() {
        if (heldPortFd >= 0) {
            ::close(heldPortFd);
            heldPortFd = -1;
        }
    }
};

FirmwareServer::FirmwareServer() : FirmwareServer(Options{}) {}

FirmwareServer::FirmwareServer(Options options) : impl_(std::make_unique<Impl>(options)) {}

FirmwareServer::~FirmwareServer() {
    stop();
}

bool FirmwareServer::start() {
    std::lock_guard<std::mutex> hold(impl_->lifecycleMutex);
    if (impl_->started) {
        return true;
    }
    impl_->started =
        impl_->fault.load() == ServerFault::refuse ? impl_->holdPort(0) : impl_->beginServing(0);
    return impl_->started;
}

void FirmwareServer::stop() {
    std::lock_guard<std::mutex> hold(impl_->lifecycleMutex);
    if (!impl_->started) {
        return;
    }
    impl_->endServing();
    impl_->releasePort();
    impl_->started = false;
}

bool FirmwareServer::isRunning() const {
    return impl_->running.load();
}

int FirmwareServer::port() const {
    return impl_->port.load();
}

std::string FirmwareServer::baseAddress() const {
    const int p = impl_->port.load();
    return p > 0 ? "http://" + std::string(kLoopback) + ":" + std::to_string(p) : std::string();
}

void FirmwareServer::publish(std::vector<PublishedRelease> releases) {
    // Files are generated outside the lock; a few hundred KiB each.
    std::vector<Impl::Stored> stored;
    for (auto& release : releases) {
        Impl::Stored s{release.ver, release.date, nullptr, nullptr};
        s.image = release.image ? std::make_shared<const Bytes>(std::move(*release.image))
                                : impl_->generate(FileKind::image, release.ver);
        s.firmware = release.firmware ? std::make_shared<const Bytes>(std::move(*release.firmware))
                                      : impl_->generate(FileKind::firmware, release.ver);
        release.image.reset();
        release.firmware.reset();
        stored.push_back(std::move(s));
    }
    std::lock_guard<std::mutex> hold(impl_->contentMutex);
    impl_->published = std::move(releases);
    impl_->releases = std::move(stored);
}

void FirmwareServer::setHistoryBody(std::optional<std::string> body) {
    std::lock_guard<std::mutex> hold(impl_->contentMutex);
    impl_->historyOverride = std::move(body);
}

std::optional<Bytes> FirmwareServer::imageFile(const std::string& ver) const {
    const SharedBytes file = impl_->file(FileKind::image, ver);
    return file ? std::optional<Bytes>(*file) : std::nullopt;
}

std::optional<Bytes> FirmwareServer::firmwareFile(const std::string& ver) const {
    const SharedBytes file = impl_->file(FileKind::firmware, ver);
    return file ? std::optional<Bytes>(*file) : std::nullopt;
}

void FirmwareServer::setRedirect(const std::string& path, const std::string& location, int status) {
    std::lock_guard<std::mutex> hold(impl_->contentMutex);
    impl_->redirects[path] = {location, status};
}

void FirmwareServer::setFault(ServerFault fault) {
    std::lock_guard<std::mutex> hold(impl_->lifecycleMutex);
    const ServerFault previous = impl_->fault.exchange(fault);
    const bool wasRefusing = previous == ServerFault::refuse;
    const bool refusing = fault == ServerFault::refuse;
    if (!impl_->started || wasRefusing == refusing) {
        return;
    }
    const int port = impl_->port.load();
    if (refusing) {
        impl_->endServing();
        if (!impl_->holdPort(port)) {
            std::fprintf(stderr, "server: cannot hold port %d: %s\n", port,
                         tarvo::errnoText(errno).c_str());
        }
    } else {
        impl_->releasePort();
        if (!impl_->beginServing(port)) {
            std::fprintf(stderr, "server: cannot listen on port %d again\n", port);
        }
    }
}

void FirmwareServer::setHistoryDelay(std::chrono::milliseconds delay) {
    impl_->historyDelayMs.store(std::max<std::chrono::milliseconds::rep>(delay.count(), 0));
}

ServerFault FirmwareServer::fault() const {
    return impl_->fault.load();
}

std::size_t FirmwareServer::requestCount() const {
    return impl_->requests.load();
}

void FirmwareServer::setRequestLog(RequestLog log) {
    std::lock_guard<std::mutex> hold(impl_->contentMutex);
    impl_->requestLog = std::move(log);
}

FirmwareServer::RequestLog FirmwareServer::stderrRequestLog() {
    return [](const std::string& method, const std::string& target, int status) {
        const std::string line =
            "server: " + method + " " + target + " " + std::to_string(status) + "\n";
        std::fwrite(line.data(), 1, line.size(), stderr);
    };
}

std::string FirmwareServer::historyTarget() {
    return std::string(kHistoryPath) + "?action=history&production=controller&p_type=T";
}

std::string FirmwareServer::imagePath(const std::string& ver) {
    return std::string(kImagePrefix) + ver + std::string(kBinSuffix);
}

std::string FirmwareServer::firmwarePath(const std::string& ver) {
    return std::string(kFirmwarePrefix) + ver + std::string(kBinSuffix);
}

}  // namespace tarvo::sim
