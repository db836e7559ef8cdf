// Which segments go when a recording folder passes its limits: the oldest first, never one
// being written.
#pragma once

#include "pcrec/pcrecindex.h"

#include <cstdint>
#include <vector>

struct RetentionRule {
    int nKeepDays = 0;           // 0: no age limit
    std::int64_t llMaxBytes = 0; // 0: no size limit
    bool HasLimit() const { return nKeepDays > 0 || llMaxBytes > 0; }
};

// vecSegments: every segment of the folder. llNeedBytes: room to make beyond the rule (a full
// disk), allowed only when the folder has a rule at all. The ids to delete, oldest first.
std::vector<std::int64_t> ChooseForDeletion(std::vector<PcSegment> vecSegments, const RetentionRule& rule,
                                            std::int64_t llNowMs, std::int64_t llNeedBytes);
