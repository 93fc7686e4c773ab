#include "sim/PolledScale.h"

#include <algorithm>
#include <cstdio>

namespace sim {

PolledScale::PolledScale(std::string model, Layout layout)
        : Instrument(std::move(model)), m_layout(std::move(layout)), m_decimals(m_layout.decimals)
{}

void PolledScale::setWeight(double weight)
{
    std::lock_guard lock(m_mutex);
    m_weight = weight;
}

double PolledScale::weight() const
{
    std::lock_guard lock(m_mutex);
    return m_weight;
}

void PolledScale::setTare(double tare)
{
    std::lock_guard lock(m_mutex);
    m_tare = tare;
}

void PolledScale::setDecimals(int decimals)
{
    std::lock_guard lock(m_mutex);
    m_decimals = std::clamp(decimals, 0, 9);
}

void PolledScale::setWeightField(std::optional<std::string> raw)
{
    std::lock_guard lock(m_mutex);
    m_weightField = std::move(raw);
}

void PolledScale::setTareField(std::optional<std::string> raw)
{
    std::lock_guard lock(m_mutex);
    m_tareField = std::move(raw);
}

void PolledScale::setReplyLength(std::size_t length)
{
    std::lock_guard lock(m_mutex);
    m_length = length;
}

std::string PolledScale::weightFrame() const
{
    std::lock_guard lock(m_mutex);
    return frame(m_weightField, m_weight, m_layout.weightTrailer);
}

std::string PolledScale::tareFrame() const
{
    std::lock_guard lock(m_mutex);
    return frame(m_tareField, m_tare, m_layout.tareTrailer);
}

std::string PolledScale::formatField(double value, int decimals) const
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%*.*f", static_cast<int>(m_layout.fieldWidth), decimals, value);
    std::string field(buf);
    std::replace(field.begin(), field.end(), '.', m_layout.decimalMark);
    return field;
}

std::string PolledScale::frame(const std::optional<std::string> &raw, double value, const std::string &trailer) const
{
    std::string out = raw ? *raw : formatField(value, m_decimals);
    out += trailer;
    if (m_length && m_length < out.size())
        out.resize(m_length);
    else if (m_length > out.size())
        out.insert(out.empty() ? 0 : out.size() - 1, m_length - out.size(), ' ');
    return out;
}

bool PolledScale::setOption(std::string_view key, std::string_view value)
{
    double number = 0;
    long long integer = 0;
    if (key == "weight" && parseDouble(value, number))
        setWeight(number);
    else if (key == "tare" && !m_layout.tareTrailer.empty() && parseDouble(value, number))
        setTare(number);
    else if (key == "decimals" && parseInt(value, integer) && integer >= 0 && integer <= 9)
        setDecimals(static_cast<int>(integer));
    else if (key == "field")
        setWeightField(std::string(value));
    else if (key == "tare-field" && !m_layout.tareTrailer.empty())
        setTareField(std::string(value));
    else if (key == "length" && parseInt(value, integer) && integer >= 0)
        setReplyLength(static_cast<std::size_t>(integer));
    else if (key == "weight" || key == "tare" || key == "decimals" || key == "tare-field" || key == "length")
        return false;
    else
        return Instrument::setOption(key, value);
    return true;
}

} // namespace sim
