#include "faults.h"

namespace camsim {

namespace {

bool Draw(std::mt19937& rng, double p)
{
    if (p <= 0)
        return false;
    if (p >= 1)
        return true;
    return std::uniform_real_distribution<double>(0.0, 1.0)(rng) < p;
}

} // namespace

std::vector<Delivery> ApplyFaults(const FaultDirection& f, std::mt19937& rng,
                                  const std::vector<std::uint8_t>& data, bool& bChanged)
{
    bChanged = false;
    if (!f.Any())
        return {Delivery{0, data}};
    if (Draw(rng, f.dLoss)) {
        bChanged = true;
        return {};
    }
    Delivery d{f.dwDelayMs, data};
    if (f.dwJitterMs)
        d.dwDelayMs += std::uniform_int_distribution<std::uint32_t>(0, f.dwJitterMs)(rng);
    if (Draw(rng, f.dReorder)) {
        // Long enough for a burst of later datagrams to pass it.
        d.dwDelayMs += 30 + std::uniform_int_distribution<std::uint32_t>(0, 120)(rng);
        bChanged = true;
    }
    if (d.data.size() > 1 && Draw(rng, f.dTruncate)) {
        d.data.resize(std::uniform_int_distribution<std::size_t>(1, d.data.size() - 1)(rng));
        bChanged = true;
    }
    if (!d.data.empty() && Draw(rng, f.dGarble)) {
        const std::size_t i = std::uniform_int_distribution<std::size_t>(0, d.data.size() - 1)(rng);
        d.data[i] ^= static_cast<std::uint8_t>(1u << std::uniform_int_distribution<int>(0, 7)(rng));
        bChanged = true;
    }
    std::vector<Delivery> out{d};
    if (Draw(rng, f.dDuplicate)) {
        out.push_back(d);
        out.back().dwDelayMs += 1;
        bChanged = true;
    }
    if (d.dwDelayMs)
        bChanged = true;
    return out;
}

} // namespace camsim
