#pragma once
// Bytes as readable text, in one escape language: \r \n \t \\ \" by name,
// any other byte outside printable ASCII as \xHH, the rest as they are.
// Reasons that quote a reply, the simulator's console and the quoted values
// of definition files speak it. Plain C++, so the simulator and the capture
// format use it without Qt.
#include <string>
#include <string_view>

namespace quorvex {

// The value of a hexadecimal digit (either case); -1 for any other character.
constexpr int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The byte of two hexadecimal digits; -1 when either is not one.
constexpr int hexByteValue(char high, char low)
{
    const int h = hexDigitValue(high), l = hexDigitValue(low);
    return h < 0 || l < 0 ? -1 : h * 16 + l;
}

// Appends the byte as two lower-case hexadecimal digits.
inline void appendHex(std::string &out, unsigned char byte)
{
    static constexpr char digits[] = "0123456789abcdef";
    out += digits[byte >> 4];
    out += digits[byte & 0xf];
}

inline std::string escapedBytes(std::string_view bytes)
{
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        default:
            if (byte >= 0x20 && byte < 0x7f) {
                out += c;
            } else {
                out += "\\x";
                appendHex(out, byte);
            }
        }
    }
    return out;
}

} // namespace quorvex
