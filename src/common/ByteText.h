#pragma once
// Bytes as readable text, in one escape language: \r \n \t \\ \" by name,
// any other byte outside printable ASCII as \xHH, the rest as they are.
// Reasons that quote a reply, the simulator's console and the quoted values
// of definition files speak it; log lines escape only their control
// characters the same way; a capture's fields use %xx. Plain C++, so the
// simulator and the capture format use it without Qt.
#include <optional>
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

// Which characters a text escapes. Quoted: \r \n \t \\ \" by name, every
// other byte outside printable ASCII as \xHH (reasons, the simulator's
// console, definition files). Controls: \r \n \t by name, the other control
// characters as \xHH, everything else as it is (log lines, whose text may
// be any language).
enum class Escapes { Quoted, Controls };

// The escape of one character (a byte, or a UTF-16 unit of a log line);
// empty when it stands as itself.
struct CharEscape {
    char text[5] = {};
    int size = 0;
    std::string_view view() const { return {text, std::size_t(size)}; }
};

constexpr CharEscape escapeOf(char32_t c, Escapes style)
{
    CharEscape e;
    const auto named = [&e](char letter) {
        e.text[0] = '\\';
        e.text[1] = letter;
        e.size = 2;
        return e;
    };
    switch (c) {
    case '\r': return named('r');
    case '\n': return named('n');
    case '\t': return named('t');
    case '\\':
    case '"':
        if (style == Escapes::Quoted)
            return named(char(c));
        return e;
    default: break;
    }
    const bool control = c < 0x20 || c == 0x7f;
    if (control || (style == Escapes::Quoted && c > 0x7f)) {
        constexpr char digits[] = "0123456789abcdef";
        e.text[0] = '\\';
        e.text[1] = 'x';
        e.text[2] = digits[(c >> 4) & 0xf];
        e.text[3] = digits[c & 0xf];
        e.size = 4;
    }
    return e;
}

inline std::string escapedBytes(std::string_view bytes)
{
    std::string out;
    for (const char c : bytes) {
        const CharEscape e = escapeOf(static_cast<unsigned char>(c), Escapes::Quoted);
        if (e.size > 0)
            out += e.view();
        else
            out += c;
    }
    return out;
}

// The bytes of a Quoted text: \r \n \t \\ \" and \xHH replaced by what they
// stand for; nullopt on any other escape or one cut short. Other bytes
// (UTF-8 text included) are taken as they are.
inline std::optional<std::string> unescapedBytes(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i >= text.size())
            return std::nullopt;
        switch (text[i]) {
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        case 'x': {
            const int byte = i + 2 < text.size() ? hexByteValue(text[i + 1], text[i + 2]) : -1;
            if (byte < 0)
                return std::nullopt;
            out += static_cast<char>(byte);
            i += 2;
            break;
        }
        default: return std::nullopt;
        }
    }
    return out;
}

// A field of a line-based file (a capture's device path): '%', blanks and
// bytes that do not print as %xx, the rest as it is.
inline std::string percentEscaped(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7f || c == '%') {
            out += '%';
            appendHex(out, byte);
        } else {
            out += c;
        }
    }
    return out;
}

// The text of a percentEscaped field; nullopt on a '%' not followed by two
// hexadecimal digits.
inline std::optional<std::string> percentUnescaped(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const int byte = i + 2 < text.size() ? hexByteValue(text[i + 1], text[i + 2]) : -1;
        if (byte < 0)
            return std::nullopt;
        out += static_cast<char>(byte);
        i += 2;
    }
    return out;
}

} // namespace quorvex
