// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QIcon>
#include <QPixmap>

namespace reburn3 {

// The application icon: a device chip with a flame burning firmware into it. The
// drawing is the one in resources/reburn3.svg, painted here at the sizes the windows
// use (16 and 32 pixels, and 64 for scaled screens), so that no image plug-in is needed.
QPixmap appIconPixmap(int size);
QIcon appIcon();

}  // namespace reburn3
