#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "tcontroller/base/bytes.h"
#include "tcontroller/base/result.h"

namespace tarvo {

// What ended a read that failed, in the terms a user is told: nothing answered
// at the address (no route, no name, no listener), the server answered with an
// error status, the transfer broke off or crawled, the caller cancelled it, or
// anything else (an invalid address, a body over the cap, a local file error).
enum class ReadFailure { none, cannotConnect, httpStatus, interrupted, cancelled, other };

// Called on the reading thread while a body arrives, with the bytes received
// so far and the length the server announced (0 while unknown); also called
// about once a second while nothing arrives. Returning false cancels the read.
using ReadProgress = std::function<bool(std::uint64_t received, std::uint64_t total)>;

// A read with progress: the bytes or the error text, and the kind of failure.
struct Download {
    Result<Bytes> bytes;
    ReadFailure failure = ReadFailure::none;
    long httpStatus = 0;  // the answer's status when failure is httpStatus
};

// Blocking reads of a whole resource at an address (http, https or file). A
// result holds the complete body or an error text, never part of a body.
// Safe to call from any thread; each call blocks only its caller.
class ResourceReads {
  public:
    virtual ~ResourceReads() = default;
    // True when the text is an address these reads accept (scheme http, https
    // or file, and a well-formed rest). A text that is not fails every read.
    virtual bool isValidAddress(const std::string& address) const = 0;
    virtual Result<std::string> readText(const std::string& address) = 0;
    // The same read with a tighter size cap for this one call: a body larger
    // than `maxBytes` fails with "body larger than N bytes". The reads' own cap
    // still applies when it is the smaller one.
    Result<std::string> readText(const std::string& address, std::size_t maxBytes) {
        return readTextUpTo(address, maxBytes);
    }
    // `mapped`: read a local file through a memory map (the built-in files).
    virtual Result<Bytes> readBytes(const std::string& address, bool mapped = false) = 0;
    // readBytes for a download a person waits for: reports its progress and
    // can be cancelled through `progress`, and says what kind of failure ended
    // it. Reads that cannot report progress read the whole body at once.
    virtual Download download(const std::string& address, const ReadProgress& progress) {
        (void)progress;
        Download result{readBytes(address), ReadFailure::none, 0};
        if (!result.bytes.ok()) {
            result.failure = ReadFailure::other;
        }
        return result;
    }

  protected:
    // Reads that can stop a transfer at the cap override this. By default the
    // body is read whole (under the reads' own cap) and refused afterwards.
    virtual Result<std::string> readTextUpTo(const std::string& address, std::size_t maxBytes) {
        Result<std::string> result = readText(address);
        if (result.ok() && result.value->size() > maxBytes) {
            return {std::nullopt, "body larger than " + std::to_string(maxBytes) + " bytes"};
        }
        return result;
    }
};

// The cap on the history query's reply: a list of releases is a few hundred
// bytes, and a hostile server must not make the tool hold megabytes of text.
inline constexpr std::size_t kHistoryMaxBytes = 1u << 20;

// Limits that keep a read from hanging or exhausting memory.
struct ReadLimits {
    long connectTimeoutSeconds = 30;
    // A transfer that moves fewer than minBytesPerSecond for slowSeconds in a
    // row fails, so a server that drips a few bytes now and then cannot keep
    // a read alive for days.
    long minBytesPerSecond = 1024;
    long slowSeconds = 30;
    std::size_t maxBytes = std::size_t{64} << 20;  // firmware files and anything not capped lower
    long maxRedirects = 5;
};

}  // namespace tarvo
