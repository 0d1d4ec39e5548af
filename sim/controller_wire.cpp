#include "sim/controller_wire.h"

#include <algorithm>
#include <iterator>

namespace tarvo::sim::wire {

std::uint8_t checksum(const std::uint8_t* bytes, std::size_t count) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += bytes[i];
    }
    return static_cast<std::uint8_t>((256u - sum % 256u) % 256u);
}

Bytes modelReply(char model) {
    Bytes reply(kReportSize, 0);
    const std::uint8_t head[] = {kStart, 0x05,   0x01,
                                 0x00,   kModel, static_cast<std::uint8_t>(model)};
    std::copy(std::begin(head), std::end(head), reply.begin());
    reply[6] = checksum(reply.data() + 1, 5);
    reply[7] = kEnd;
    return reply;
}

Bytes versionReply(const std::string& versionChars) {
    Bytes reply(kReportSize, 0);
    const std::uint8_t head[] = {kStart, 0x07, 0x01, 0x00, kVersion};
    std::copy(std::begin(head), std::end(head), reply.begin());
    for (std::size_t i = 0; i < 3; ++i) {
        reply[5 + i] = static_cast<std::uint8_t>(i < versionChars.size() ? versionChars[i] : '0');
    }
    reply[8] = checksum(reply.data() + 1, 7);
    reply[9] = kEnd;
    return reply;
}

}  // namespace tarvo::sim::wire
