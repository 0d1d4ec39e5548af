#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "tcontroller/platform/bytes.h"

namespace tarvo {

// Outcome of a whole-resource read: the complete body, or an error text; never
// part of a body.
template <typename T>
struct ReadResult {
    std::optional<T> value;
    std::string error;  // the platform's description when value is absent
    bool ok() const { return value.has_value(); }
};

// Blocking reads of a whole resource at an address (http, https or file).
// Safe to call from any thread; each call blocks only its caller.
class ResourceReads {
  public:
    virtual ~ResourceReads() = default;
    // True when the text is an address these reads accept (scheme http, https
    // or file, and a well-formed rest). A text that is not fails every read.
    virtual bool isValidAddress(const std::string& address) const = 0;
    virtual ReadResult<std::string> readText(const std::string& address) = 0;
    // `mapped`: read a local file through a memory map (the built-in files).
    virtual ReadResult<Bytes> readBytes(const std::string& address, bool mapped = false) = 0;
};

// Limits that keep a read from hanging or exhausting memory.
struct ReadLimits {
    long connectTimeoutSeconds = 30;
    // A transfer that moves fewer than minBytesPerSecond for slowSeconds in a
    // row fails, so a server that drips a few bytes now and then cannot keep
    // a read alive for days.
    long minBytesPerSecond = 1024;
    long slowSeconds = 30;
    std::size_t maxBytes = 64u * 1024u * 1024u;
    long maxRedirects = 5;
};

}  // namespace tarvo
