// Minimal blocking client for the server end of a simulated line: opens the
// slave path as a plain descriptor. Meant for tests of simulators themselves
// and for tests that need to play the server's part without Qt.
#pragma once

#include <chrono>
#include <string>

namespace sim {

class LineClient {
public:
    LineClient() = default;
    explicit LineClient(const std::string &path) { open(path); }
    ~LineClient() { close(); }
    LineClient(const LineClient &) = delete;
    LineClient &operator=(const LineClient &) = delete;

    bool open(const std::string &path);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

    // Writes all bytes; false on error.
    bool write(const std::string &bytes);
    // Reads until count bytes have arrived or timeout passed; returns what came.
    std::string read(std::size_t count, std::chrono::milliseconds timeout);
    // Reads whatever arrives until the line stayed quiet for `quiet`
    // (or `limit` passed in total).
    std::string readUntilQuiet(std::chrono::milliseconds quiet,
                               std::chrono::milliseconds limit = std::chrono::seconds(5));

private:
    int m_fd = -1;
};

} // namespace sim
