#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "sim/firmware_server.h"
#include "tcontroller/base/bytes.h"

namespace httplib {
struct Response;
}

namespace tarvo::sim {

// A reply the firmware server routed, before any fault shapes it.
struct RoutedReply {
    int status = 404;
    std::shared_ptr<const Bytes> body;  // every routed reply has one, possibly empty
    std::string contentType = "text/html";
    std::string location;  // set for redirects
};

// The small HTML page of an error status.
std::string errorPage(int status);

// Streams the firmware server's reply bodies the way its fault says (whole,
// truncated, stalled, dripping, oversized), and ends every stream that waits
// or runs as soon as serving ends. Safe to use from any thread.
class ReplyStreams {
  public:
    explicit ReplyStreams(const FirmwareServer::Options& options) : options_(options) {}

    // Serving begins: streams may run.
    void open();
    // Serving ends: every stream waiting or running ends promptly.
    void close();
    // Sleeps for `interval` or until serving ends; false when it ends.
    bool pause(std::chrono::milliseconds interval);

    // Answers with `reply`, its body streamed as `fault` says.
    void serve(RoutedReply reply, ServerFault fault, httplib::Response& response);
    // Answers 200 with a zero-filled body of Options::oversizedBytes, streamed
    // from one static block: the body is never held in memory.
    void serveOversized(httplib::Response& response);

  private:
    bool isClosing();
    void waitUntilClosing();

    const FirmwareServer::Options options_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool closing_ = false;
};

}  // namespace tarvo::sim
