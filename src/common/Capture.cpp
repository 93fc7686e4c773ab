#include "common/Capture.h"

#include "common/ByteText.h"

#include <charconv>
#include <fstream>

namespace quorvex::capture {

namespace {

// A capture larger than this is not a line's traffic but a mistake.
constexpr std::size_t kMaxFileBytes = 256u << 20;

bool readHex(std::string_view text, std::string &out)
{
    if (text.empty() || text.size() % 2 != 0)
        return false;
    out.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int byte = hexByteValue(text[i], text[i + 1]);
        if (byte < 0)
            return false;
        out += static_cast<char>(byte);
    }
    return true;
}

template<class Number> bool readNumber(std::string_view text, Number &value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

// The fields of a line split at single blanks.
std::vector<std::string_view> fields(std::string_view line)
{
    std::vector<std::string_view> out;
    std::size_t start = 0;
    while (start <= line.size()) {
        const std::size_t blank = line.find(' ', start);
        const std::size_t end = blank == std::string_view::npos ? line.size() : blank;
        out.push_back(line.substr(start, end - start));
        if (blank == std::string_view::npos)
            break;
        start = blank + 1;
    }
    return out;
}

bool fail(ParseError *error, int line, std::string reason)
{
    if (error)
        *error = {line, std::move(reason)};
    return false;
}

bool readHeader(std::string_view line, ParseError *error)
{
    const auto parts = fields(line);
    int version = 0;
    if (parts.size() != 2 || parts[0] != kMagic || !readNumber(parts[1], version))
        return fail(error, 1, "not a capture: the first line is not \"quorvex-capture VERSION\"");
    if (version < 1 || version > kVersion)
        return fail(error, 1,
                    "capture version " + std::string(parts[1]) + " is not known (this reads " + std::to_string(kVersion)
                        + ")");
    return true;
}

bool readChunk(std::string_view line, int number, Chunk &chunk, ParseError *error)
{
    const auto parts = fields(line);
    if (parts.size() != 6)
        return fail(error, number,
                    "expected 6 fields (time port device settings direction bytes), found "
                        + std::to_string(parts.size()));
    if (!readNumber(parts[0], chunk.timeUs))
        return fail(error, number, "the time is not a number of microseconds");
    if (!readNumber(parts[1], chunk.port) || chunk.port < -1)
        return fail(error, number, "the port is not a number");
    std::optional<std::string> device = percentUnescaped(parts[2]);
    if (!device || device->empty())
        return fail(error, number, "the device is not a path");
    chunk.device = std::move(*device);
    std::optional<std::string> settings = percentUnescaped(parts[3]);
    if (!settings || settings->empty())
        return fail(error, number, "no line settings");
    chunk.settings = std::move(*settings);
    if (parts[4] != "tx" && parts[4] != "rx")
        return fail(error, number, "the direction is neither tx nor rx");
    chunk.sent = parts[4] == "tx";
    if (!readHex(parts[5], chunk.bytes))
        return fail(error, number, "the bytes are not pairs of hexadecimal digits");
    return true;
}

} // namespace

std::string header()
{
    return std::string(kMagic) + ' ' + std::to_string(kVersion) + '\n';
}

std::string formatChunk(const Chunk &chunk)
{
    std::string out = std::to_string(chunk.timeUs) + ' ' + std::to_string(chunk.port) + ' '
        + percentEscaped(chunk.device) + ' '
        + (chunk.settings.empty() ? std::string("-") : percentEscaped(chunk.settings)) + ' '
        + (chunk.sent ? "tx " : "rx ");
    for (const char c : chunk.bytes)
        appendHex(out, static_cast<unsigned char>(c));
    return out + '\n';
}

std::optional<Capture> parse(std::string_view text, ParseError *error)
{
    Capture capture;
    int number = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (number == 1) {
            if (!readHeader(line, error))
                return std::nullopt;
            continue;
        }
        if (line.empty() || line.front() == '#')
            continue;
        Chunk chunk;
        if (!readChunk(line, number, chunk, error))
            return std::nullopt;
        capture.chunks.push_back(std::move(chunk));
    }
    if (number == 0) {
        fail(error, 1, "the capture is empty (no header line)");
        return std::nullopt;
    }
    return capture;
}

std::optional<Capture> readFile(const std::string &path, ParseError *error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        fail(error, 0, "cannot open " + path);
        return std::nullopt;
    }
    std::string text;
    char buffer[65536];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(file.gcount()));
        if (text.size() > kMaxFileBytes) {
            fail(error, 0, path + " is larger than a capture can be");
            return std::nullopt;
        }
    }
    return parse(text, error);
}

} // namespace quorvex::capture
