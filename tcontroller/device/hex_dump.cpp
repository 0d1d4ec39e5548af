#include "tcontroller/device/hex_dump.h"

namespace tarvo {

std::string hexDump(const std::uint8_t* bytes, std::size_t length) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    static constexpr char kIndent[] = "    ";
    std::string line;
    if (bytes == nullptr) {
        length = 0;
    }
    line.reserve(sizeof kIndent - 1 + 3 * length);
    line += kIndent;
    for (std::size_t i = 0; i < length; ++i) {
        line += kDigits[bytes[i] >> 4];
        line += kDigits[bytes[i] & 0x0F];
        line += ' ';
    }
    return line;
}

std::string hexDump(const Bytes& bytes) {
    return hexDump(bytes.data(), bytes.size());
}

}  // namespace tarvo
