// Common part of scales that answer a request with one fixed-layout frame:
// a right-aligned weight field followed by a fixed trailer.
//
// Tests can make the frame misbehave: a raw field text instead of the
// formatted number, a shorter or longer frame, plus everything Instrument
// offers (silence, delay, noise, pacing, chunking).
#pragma once

#include "sim/Instrument.h"

#include <optional>

namespace sim {

class PolledScale : public Instrument {
public:
    struct Layout {
        std::size_t fieldWidth; // characters of the weight field
        char decimalMark; // ',' or '.'
        int decimals; // default number of decimals
        std::string weightTrailer; // bytes after the field in a weight frame
        std::string tareTrailer; // same for a tare frame; empty = no tare
    };

    PolledScale(std::string model, Layout layout);

    void setWeight(double weight);
    double weight() const;
    void setTare(double tare);
    void setDecimals(int decimals);
    // Sends these exact characters in place of the formatted number (any
    // length: "   12,340", "  ab,cde", all blanks ...). nullopt = use number.
    void setWeightField(std::optional<std::string> raw);
    void setTareField(std::optional<std::string> raw);
    // Total frame length: shorter truncates the frame, longer inserts blanks
    // before its last character. 0 = natural length (default).
    void setReplyLength(std::size_t length);

    std::string weightFrame() const;
    std::string tareFrame() const;

    // Keys: weight, tare (if the model has one), decimals, field, tare-field,
    // length; then the Instrument keys.
    bool setOption(std::string_view key, std::string_view value) override;

protected:
    std::string formatField(double value, int decimals) const;

private:
    std::string frame(const std::optional<std::string> &raw, double value, const std::string &trailer) const;

    const Layout m_layout;
    mutable std::mutex m_mutex;
    double m_weight = 0.0;
    double m_tare = 0.0;
    int m_decimals;
    std::optional<std::string> m_weightField;
    std::optional<std::string> m_tareField;
    std::size_t m_length = 0;
};

} // namespace sim
