#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "tcontroller/base/bytes.h"
#include "tcontroller/base/result.h"

namespace tarvo {

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
