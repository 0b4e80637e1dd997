// The test-only allocation-failure switch of the DYX_ALLOC_FAULTS build of
// the allocation wrappers, and a walker over every failure point of an
// operation.
#pragma once

#include <gtest/gtest.h>
#include <stdint.h>

#include <functional>
#include <string>

extern "C" {
/* From now on the nth dyx_malloc/dyx_realloc that allocates fails (once);
 * 0 switches injection off. Also resets the counters below. */
void dyx_alloc_faults_arm(int64_t nth);
/* Allocations since the last arm. */
int64_t dyx_alloc_faults_seen(void);
/* 1 when the armed failure has happened. */
int dyx_alloc_faults_fired(void);
/* Blocks from dyx_malloc/dyx_realloc not yet released. */
int64_t dyx_alloc_faults_live(void);
}

namespace alloc_faults {

// Runs `operation` once for each of its allocations with that allocation
// failing, then once more with none failing. `operation` returns a status
// (0 for success); after a failure it must return `failure` (or 0 when
// `may_recover`: it works around a failed allocation). The object under test
// must still work afterwards, which the final clean run checks. Returns the
// number of failure points.
inline int walk(const std::string &name, const std::function<int()> &operation, int failure,
                bool may_recover = false) {
    int points = 0;
    for (int64_t nth = 1; nth < 10000; ++nth) {
        dyx_alloc_faults_arm(nth);
        const int status = operation();
        const bool fired = dyx_alloc_faults_fired() != 0;
        dyx_alloc_faults_arm(0);
        if (!fired) {
            EXPECT_EQ(0, status) << name << ": fails with no allocation failing";
            break;
        }
        ++points;
        if (status != 0 || !may_recover) {
            EXPECT_EQ(failure, status) << name << ": wrong status after allocation " << nth << " failed";
        }
    }
    EXPECT_EQ(0, operation()) << name << ": does not work after the failures";
    EXPECT_GT(points, 0) << name << ": allocates nothing";
    return points;
}

}  // namespace alloc_faults
