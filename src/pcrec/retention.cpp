#include "pcrec/retention.h"

#include <algorithm>

std::vector<std::int64_t> ChooseForDeletion(std::vector<PcSegment> vecSegments, const RetentionRule& rule,
                                            std::int64_t llNowMs, std::int64_t llNeedBytes)
{
    std::vector<std::int64_t> vecIDs;
    if (!rule.HasLimit())
        return vecIDs;
    std::stable_sort(vecSegments.begin(), vecSegments.end(),
                     [](const PcSegment& a, const PcSegment& b) { return a.llStartMs < b.llStartMs; });
    std::int64_t llTotal = 0;
    for (const PcSegment& s : vecSegments)
        llTotal += s.llBytes;
    const std::int64_t llOldest =
        rule.nKeepDays > 0 ? llNowMs - std::int64_t{rule.nKeepDays} * 86400000 : INT64_MIN;
    std::int64_t llFreed = 0;
    for (const PcSegment& s : vecSegments) {
        if (s.bWriting)
            continue;
        const bool bTooOld = s.llEndMs < llOldest;
        const bool bTooBig = rule.llMaxBytes > 0 && llTotal > rule.llMaxBytes;
        if (!bTooOld && !bTooBig && llFreed >= llNeedBytes)
            break;
        vecIDs.push_back(s.llID);
        llTotal -= s.llBytes;
        llFreed += s.llBytes;
    }
    return vecIDs;
}
