// Seeded fault injection on datagrams, per camera and per direction.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace camsim {

struct FaultDirection {
    double dLoss = 0, dDuplicate = 0, dReorder = 0, dTruncate = 0, dGarble = 0;
    std::uint32_t dwDelayMs = 0, dwJitterMs = 0;
    bool Any() const
    {
        return dLoss > 0 || dDuplicate > 0 || dReorder > 0 || dTruncate > 0 || dGarble > 0 || dwDelayMs ||
               dwJitterMs;
    }
};

struct FaultSpec {
    FaultDirection in, out;
};

// One delivery of a (possibly altered) datagram after a delay.
struct Delivery {
    std::uint32_t dwDelayMs = 0;
    std::vector<std::uint8_t> data;
};

// What becomes of one datagram: nothing (lost), one copy, or two (duplicated), each possibly
// delayed, cut short or with one byte flipped. Reordering is a longer delay, so that the
// datagrams behind overtake it. Draws from rng only for the faults that are switched on, so
// a scenario's outcome stays the same when unrelated faults change.
std::vector<Delivery> ApplyFaults(const FaultDirection& f, std::mt19937& rng,
                                  const std::vector<std::uint8_t>& data, bool& bChanged);

} // namespace camsim
