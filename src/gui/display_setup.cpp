// SPDX-License-Identifier: Apache-2.0
#include "gui/display_setup.h"

#include <QByteArray>
#include <QtGlobal>

namespace reburn3 {

void prepareDisplayConnection() {
    // Qt's X platform looks only at whether the variable is set: any value turns shared
    // memory off.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) {
        qputenv("QT_XCB_NO_MITSHM", QByteArrayLiteral("1"));
    }
}

}  // namespace reburn3
