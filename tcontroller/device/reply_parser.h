#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tcontroller/base/bytes.h"
#include "tcontroller/base/util.h"

namespace tarvo {

// "1.0" from "105": the first character, a point and the second character;
// characters from the third on are dropped, and a text of fewer than two
// characters gives "0.0". A character is one UTF-8 code point (a stray byte that
// starts no valid sequence counts as one character), so a multi-byte character
// is never cut in half.
std::string formatVersion(std::string_view text);

// What a received report means for the identification exchange. The caller owns
// the exchange's state and carries the decision out.
struct ReplyDecision {
    enum class Kind {
        ignore,         // not a reply awaited now: change nothing
        modelReply,     // `model` holds the model code (empty if its byte is not UTF-8)
        firmwareReply,  // `firmware` holds the version text, e.g. "1.0"
    };
    Kind kind = Kind::ignore;
    std::string model;
    std::string firmware;
};

// Reads one received report against the exchange's progress and whether a reply
// is awaited (`flag`). A model reply (A9 05 .. .. .. model .. 5C) counts only in
// step MODEL, a firmware version reply (A9 07 .. .. .. v1 v2 v3 .. 5C) only in step
// FW; everything else, every report while `flag` is false, every report in step
// DONE and any report too short to hold the bytes read is ignored. The checksum
// of a reply is not checked, and no byte past `length` is ever read.
class ReplyParser {
  public:
    static ReplyDecision parse(Util::ReadSta readSta, bool flag, const std::uint8_t* report,
                               std::size_t length);
    static ReplyDecision parse(Util::ReadSta readSta, bool flag, const Bytes& report);
};

}  // namespace tarvo
