// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace reburn3::run {

// Opens /dev/null on each of the descriptors 0, 1 and 2 that is closed. A program
// started with them closed (`>&- 2>&-`, as daemons and some schedulers do) would
// otherwise hand them to the first files it opens, and its own output would go there.
void openClosedStandardDescriptors();

}  // namespace reburn3::run
