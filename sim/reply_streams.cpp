#include "sim/reply_streams.h"

#include <httplib.h>

#include <algorithm>
#include <array>

namespace tarvo::sim {
namespace {

constexpr std::size_t kChunk = std::size_t{64} * 1024;

const std::array<char, kChunk>& zeros() {
    static const std::array<char, kChunk> block{};
    return block;
}

}  // namespace

std::string errorPage(int status) {
    const std::string code = std::to_string(status);
    return "<html><head><title>" + code + "</title></head><body><h1>" + code +
           "</h1></body></html>\n";
}

void ReplyStreams::open() {
    std::lock_guard<std::mutex> hold(mutex_);
    closing_ = false;
}

void ReplyStreams::close() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        closing_ = true;
    }
    wake_.notify_all();
}

bool ReplyStreams::isClosing() {
    std::lock_guard<std::mutex> hold(mutex_);
    return closing_;
}

bool ReplyStreams::pause(std::chrono::milliseconds interval) {
    std::unique_lock<std::mutex> hold(mutex_);
    return !wake_.wait_for(hold, interval, [this] { return closing_; });
}

void ReplyStreams::waitUntilClosing() {
    std::unique_lock<std::mutex> hold(mutex_);
    wake_.wait(hold, [this] { return closing_; });
}

void ReplyStreams::serve(RoutedReply reply, ServerFault fault, httplib::Response& response) {
    response.status = reply.status;
    if (!reply.location.empty()) {
        response.set_redirect(reply.location, reply.status);
        return;
    }
    const std::shared_ptr<const Bytes> body = std::move(reply.body);
    const std::size_t size = body->size();
    const auto* data = reinterpret_cast<const char*>(body->data());
    if (fault == ServerFault::stall) {
        // Announce the length (at least one byte, so the reader waits for it) and
        // send nothing until serving ends.
        response.set_content_provider(std::max<std::size_t>(size, 1), reply.contentType,
                                      [this](std::size_t, std::size_t, httplib::DataSink&) {
                                          waitUntilClosing();
                                          return false;
                                      });
        return;
    }
    if (size == 0) {
        response.set_content("", reply.contentType);
        return;
    }
    if (fault == ServerFault::truncate) {
        const std::size_t half = size / 2;
        response.set_content_provider(
            size, reply.contentType,
            [body, data, half](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                if (offset >= half) {
                    return false;  // closes the connection short of Content-Length
                }
                return sink.write(data + offset, std::min({length, half - offset, kChunk}));
            });
    } else if (fault == ServerFault::slowDrip) {
        const std::size_t drip = std::max<std::size_t>(options_.dripBytes, 1);
        response.set_content_provider(
            size, reply.contentType,
            [this, body, data, drip](std::size_t offset, std::size_t length,
                                     httplib::DataSink& sink) {
                return sink.write(data + offset, std::min(length, drip)) &&
                       pause(options_.dripInterval);
            });
    } else {
        response.set_content_provider(
            size, reply.contentType,
            [this, body, data](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                return !isClosing() && sink.write(data + offset, std::min(length, kChunk));
            });
    }
}

void ReplyStreams::serveOversized(httplib::Response& response) {
    response.status = 200;
    const std::uint64_t total = options_.oversizedBytes;
    if (options_.announceOversizedLength) {
        response.set_content_provider(
            static_cast<std::size_t>(total), "application/octet-stream",
            [this](std::size_t, std::size_t length, httplib::DataSink& sink) {
                return !isClosing() && sink.write(zeros().data(), std::min(length, kChunk));
            });
    } else {
        response.set_chunked_content_provider(
            "application/octet-stream", [this, total](std::size_t offset, httplib::DataSink& sink) {
                if (offset >= total) {
                    sink.done();
                    return true;
                }
                const auto left = static_cast<std::size_t>(total - offset);
                return !isClosing() && sink.write(zeros().data(), std::min(left, kChunk));
            });
    }
}

}  // namespace tarvo::sim
