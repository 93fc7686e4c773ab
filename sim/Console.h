// The quorvex-sim program's console: commands read from standard input
// while the simulator runs ("weight 13.2", "silent on", "help"), and the
// trace of the bytes on the line printed with --verbose.
#pragma once

#include "sim/Instrument.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace sim {

struct ModelInfo;

class Console {
public:
    Console(Instrument &instrument, const ModelInfo &model, double weight, double drift);

    // Feeds bytes read from standard input; runs each complete line.
    void feed(std::string_view bytes);
    // Runs one command line. Answers "ok" on stdout, or an error on stderr.
    void run(std::string_view line);
    bool quitRequested() const { return m_quit; }

    // Moves a drifting weight on by the elapsed seconds.
    void advanceDrift(double seconds);
    bool drifting() const { return m_drift != 0.0; }

    // Turns the trace of the line (stderr) on or off.
    void setVerbose(bool on);

private:
    bool apply(std::string_view key, std::string_view value);
    bool setDrift(std::string_view value);
    void printHelp() const;

    Instrument &m_instrument;
    const ModelInfo &m_model;
    double m_weight;
    double m_drift;
    std::string m_pending; // an incomplete line
    bool m_quit = false;
};

// One traced transfer: "12:00:00.123 rx 3 "XB\r"" (rx: what the simulator
// received, tx: what it sent), bytes outside printable ASCII escaped.
std::string traceLine(bool sent, std::string_view bytes);
// Shortest text of a number that reads back as the same number.
std::string formatNumber(double value);

} // namespace sim
