#include "cards/cardlimits.h"

#include <cstring>

namespace {

struct Row {
    CardLimits::Owner owner;
    const char *parameter;
    qint64 low;
    qint64 high;
};

// clang-format off
const Row Rows[] = {
    // The JQ protocol, for both JQ models: frequency in kHz, attenuators in
    // their own steps, switches 0 or 1.
    {CardLimits::JqProtocol, "freq", 95000, 2150000},
    {CardLimits::JqProtocol, "workmode", 0, 1},
    {CardLimits::JqProtocol, "rfatt", 0, 60},
    {CardLimits::JqProtocol, "ifatt", 0, 60},
    {CardLimits::JqProtocol, "ifadjust", 0, 50},
    {CardLimits::JqProtocol, "ref", 0, 1},
    {CardLimits::JqProtocol, "outfreq", 0, 1},
    {CardLimits::JqProtocol, "band", 0, 1},
    // The input power comes as hundredths of a dB in a signed 16-bit field,
    // which the module hands over as 0 to 65535: anything else is the code
    // of a failed exchange, not a power.
    {CardLimits::JqProtocol, "power", 0, 0xFFFF},
    // The VN protocol.
    {CardLimits::VnProtocol, "freq", 20000, 3600000},
    {CardLimits::VnProtocol, "outfreq", 0, 1},
    // The card type: one byte, whose values the host does not interpret.
    {CardLimits::VnProtocol, "hardch", 0, 255},
    // The KLR protocol: band 2 is 175 MHz, 3 is 400 MHz.
    {CardLimits::KlrProtocol, "freq", 20000, 6000000},
    {CardLimits::KlrProtocol, "workmode", 0, 1},
    {CardLimits::KlrProtocol, "band", 2, 3},
    // The cards: their own frequency ranges, gains in half-dB steps (JQ, VN)
    // or whole dB (KLR620).
    {CardLimits::Jq5140, "freq", 950000, 2150000},
    {CardLimits::Jq5140, "gain", 0, 100},
    {CardLimits::Jq5140, "rfgain", 0, 60}, // through the RF attenuator alone (work mode 0)
    {CardLimits::Jq5120, "freq", 950000, 2150000},
    {CardLimits::Jq5120, "gain", 0, 100},
    {CardLimits::Jq5120, "splitgain", 0, 80}, // what its two attenuators give together
    {CardLimits::Vn2810, "freq", 20000, 3000000},
    {CardLimits::Vn2810, "gain", 0, 80},
    {CardLimits::Klr620, "rfatt", 0, 30},
    {CardLimits::Klr620, "ifatt", 0, 20},
    {CardLimits::Klr620, "warning", 0, 255}, // an 8-bit status
    // Temperatures, in tenths of a degree: -55 to 125 degrees C, the widest
    // range electronic parts are made to work in. A card that reports more
    // is not reporting its temperature.
    {CardLimits::Jq5140, "temp", -550, 1250},
    {CardLimits::Vn2810, "temp", -550, 1250},
};
// clang-format on

} // namespace

CardLimits::Range CardLimits::of(Owner owner, const char *parameter)
{
    for (const Row &row : Rows) {
        if (row.owner == owner && std::strcmp(row.parameter, parameter) == 0)
            return {row.low, row.high};
    }
    Q_ASSERT_X(false, "CardLimits::of", parameter);
    return {0, -1}; // holds nothing
}
