#include "sim/Console.h"

#include "sim/Registry.h"

#include "common/ByteText.h"

#include <charconv>
#include <ctime>

namespace sim {

namespace {

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

bool parseSwitch(std::string_view value, bool &on)
{
    on = value.empty() || value == "on" || value == "1" || value == "true";
    return on || value == "off" || value == "0" || value == "false";
}

} // namespace

std::string formatNumber(double value)
{
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return ec == std::errc() ? std::string(buf, end) : std::string("0");
}

std::string traceLine(bool sent, std::string_view bytes)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03ld", local.tm_hour, local.tm_min, local.tm_sec,
                  now.tv_nsec / 1'000'000);
    return std::string(stamp) + (sent ? " tx " : " rx ") + std::to_string(bytes.size()) + " \""
        + quorvex::escapedBytes(bytes) + "\"";
}

Console::Console(Instrument &instrument, const ModelInfo &model, double weight, double drift)
        : m_instrument(instrument), m_model(model), m_weight(weight), m_drift(drift)
{}

void Console::feed(std::string_view bytes)
{
    m_pending.append(bytes);
    for (auto eol = m_pending.find('\n'); eol != std::string::npos; eol = m_pending.find('\n')) {
        const std::string line = m_pending.substr(0, eol);
        m_pending.erase(0, eol + 1);
        run(line);
    }
}

void Console::run(std::string_view line)
{
    line = trim(line);
    if (line.empty() || line.front() == '#')
        return;
    if (line.starts_with("--"))
        line.remove_prefix(2);
    const auto end = line.find_first_of(" \t=");
    const std::string_view key = line.substr(0, end);
    const std::string_view value = end == std::string_view::npos ? std::string_view() : trim(line.substr(end + 1));
    if (key == "help" || key == "?") {
        printHelp();
        return;
    }
    if (!apply(key, value)) {
        std::fprintf(stderr, "quorvex-sim: cannot apply '%.*s' (try help)\n", static_cast<int>(line.size()),
                     line.data());
        return;
    }
    std::printf("ok\n");
    std::fflush(stdout);
}

bool Console::apply(std::string_view key, std::string_view value)
{
    bool on = false;
    if (key == "quit" || key == "exit")
        return m_quit = true;
    if (key == "verbose") {
        if (!parseSwitch(value, on))
            return false;
        setVerbose(on);
        return true;
    }
    if (key == "drift")
        return setDrift(value);
    if (!m_instrument.setOption(key, value))
        return false;
    if (key == "weight")
        parseDouble(value, m_weight); // a drift goes on from the new weight
    return true;
}

bool Console::setDrift(std::string_view value)
{
    double drift = 0;
    if (!parseDouble(value, drift) || !m_instrument.setOption("weight", formatNumber(m_weight)))
        return false;
    m_drift = drift;
    return true;
}

void Console::advanceDrift(double seconds)
{
    if (m_drift == 0.0)
        return;
    m_weight += m_drift * seconds;
    m_instrument.setOption("weight", formatNumber(m_weight));
}

void Console::setVerbose(bool on)
{
    if (!on) {
        m_instrument.setMonitor(nullptr);
        return;
    }
    m_instrument.setMonitor(
        [](bool sent, std::string_view bytes) { std::fprintf(stderr, "%s\n", traceLine(sent, bytes).c_str()); });
}

void Console::printHelp() const
{
    std::string options(m_model.options); // "--weight X  --tare X" -> "weight X  tare X"
    for (auto dashes = options.find("--"); dashes != std::string::npos; dashes = options.find("--"))
        options.erase(dashes, 2);
    std::printf("Commands (one a line; the options of the command line without \"--\"):\n"
                "  help                 this list\n"
                "  quit                 end the simulator\n"
                "  verbose on|off       trace the bytes on the line to stderr\n"
                "  silent on|off        stop or resume answering\n"
                "  delay MS             answer MS milliseconds late\n"
                "  noise N              N random bytes before every answer\n"
                "  noise-text TEXT      TEXT before every answer\n"
                "  pace BAUD | chunk N | chunk-gap MS | tick MS\n"
                "  drift X              change the weight by X per second (scales)\n"
                "Model %.*s: %.*s\n"
                "Each applied command answers \"ok\"; a refused one prints an error on stderr.\n",
                static_cast<int>(m_model.name.size()), m_model.name.data(), static_cast<int>(options.size()),
                options.data());
    std::fflush(stdout);
}

} // namespace sim
