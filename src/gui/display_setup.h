// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace reburn3 {

// Settings of the connection to the display, made before the application object is
// created (Qt reads them once, when it connects).
//
// On an X server the window sends its pixels through the connection itself rather than
// through memory shared with the server. During a download the window paints a few small
// pieces (the counters, the log's new row) hundreds of times a second; through shared
// memory each paint first waits for the server to have finished reading the previous one
// (a round trip per paint, costing both processes a wake-up), while the pieces are small
// enough to travel the socket for less. Setting QT_XCB_NO_MITSHM beforehand keeps
// whatever the environment asks for; every other platform ignores it.
void prepareDisplayConnection();

}  // namespace reburn3
