#pragma once
// A capture of a line's traffic: every chunk of bytes written to or read
// from a port, with its time, the port, its device and line settings. The
// client's monitor writes it, the simulator replays it; its text form is
// documented in docs/capture.md. Plain C++ so the simulator can read it
// without Qt.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::capture {

inline constexpr std::string_view kMagic = "quorvex-capture";
inline constexpr int kVersion = 1;

struct Chunk {
    std::uint64_t timeUs = 0; // microseconds since 1970-01-01 00:00 UTC
    int port = -1; // the server's port number; -1 a device opened for one call
    std::string device; // the device path
    std::string settings; // "9600,N,8,1"; "-" when not known
    bool sent = false; // true: to the instrument ("tx"), false: from it ("rx")
    std::string bytes;
};

struct Capture {
    std::vector<Chunk> chunks;
};

// The header line, with its newline.
std::string header();
// One chunk as its line, with its newline.
std::string formatChunk(const Chunk &chunk);

struct ParseError {
    int line = 0; // 1-based
    std::string reason;
};

// Reads a whole capture. Fails on the first line that does not read, with
// its number and why; a capture of a later version is refused.
std::optional<Capture> parse(std::string_view text, ParseError *error = nullptr);
// The same from a file; a file that cannot be read is line 0.
std::optional<Capture> readFile(const std::string &path, ParseError *error = nullptr);

} // namespace quorvex::capture
