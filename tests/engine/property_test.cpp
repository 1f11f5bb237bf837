// SPDX-License-Identifier: Apache-2.0
#include <filesystem>

#include "fakes/run_invariants.h"
#include "support/test_fixture.h"

namespace reburn3::testing {
namespace {

class PropertyTest : public CoreTest {};

// Thousands of seeded runs over random scripts, random device faults, failing
// writes and aborts: whatever happens, nothing but a prefix of the script reaches
// the device, a refused script sends nothing, and only a download that went through
// in full is reported as complete.
TEST_F(PropertyTest, InvariantsHoldOverRandomRuns) {
    const std::string path = (dir / "random.pf3").string();
    int completed = 0;
    constexpr std::uint32_t kRuns = 3000;
    for (std::uint32_t seed = 1; seed <= kRuns; ++seed) {
        const RandomRunResult r = runRandomDownload(seed, path);
        ASSERT_EQ(r.broken, "") << "seed " << seed;
        completed += r.completed ? 1 : 0;
    }
    // The generator must exercise both ends: most runs complete, many do not.
    EXPECT_GT(completed, static_cast<int>(kRuns) / 3);
    EXPECT_LT(completed, static_cast<int>(kRuns));
}

}  // namespace
}  // namespace reburn3::testing
