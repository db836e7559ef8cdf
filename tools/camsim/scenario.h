// Scenario files: the cameras a run plays, from JSON (see README.md for the fields).
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "camera.h"

namespace camsim {

class CScenarioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Scenario {
    std::uint32_t dwSeed = 1;
    std::vector<std::unique_ptr<Camera>> cameras;
};

// Expands templates ("count") and checks the result: unique ids, serials and addresses, every
// address in the lab range (198.18.0.0/15) or on loopback. Cameras without an address take
// the next of pAddresses in order. Throws CScenarioError with a readable message.
Scenario LoadScenario(const std::string& strJson, const std::vector<std::uint32_t>& addresses = {});
Scenario LoadScenarioFile(const std::string& strPath, const std::vector<std::uint32_t>& addresses = {});

// The address after dwAddr in the lab's layout: hosts .10 to .254 of each /24, then the next /24.
std::uint32_t NextLabAddress(std::uint32_t dwAddr);
bool IsLabAddress(std::uint32_t dwAddr);
bool IsLoopback(std::uint32_t dwAddr);
// "2024-05-01T10:00:00Z" (or without the Z, always UTC) or a number of seconds.
bool ParseTime(const std::string& s, std::uint32_t& dwSeconds);
// Applies one faults object ({"in": {...}, "out": {...}} or one direction for both).
void ParseFaults(const std::string& strJson, FaultSpec& spec);

} // namespace camsim
