#pragma once

#include <optional>
#include <string>
#include <utility>

// One error convention for the calls that can fail (reads, file operations,
// starting a service, mounting a volume): a Result holds the value, or an
// error text that says what failed and why, e.g. "cannot create
// /media/u/CRP DISABLE/FW.bin: File exists". A caller that adds context puts
// it in front ("context: error"), so the text reads from the outside in.
namespace tarvo {

template <typename T>
struct Result {
    std::optional<T> value;
    std::string error;  // set when value is absent

    bool ok() const { return value.has_value(); }
    static Result success(T v) { return Result{std::move(v), {}}; }
    static Result failure(std::string why) { return Result{std::nullopt, std::move(why)}; }
};

template <>
struct Result<void> {
    bool succeeded = false;
    std::string error;  // set when not succeeded

    bool ok() const { return succeeded; }
    static Result success() { return Result{true, {}}; }
    static Result failure(std::string why) { return Result{false, std::move(why)}; }
};

// The system's description of an errno value, without strerror's shared buffer.
std::string errnoText(int err);

}  // namespace tarvo
