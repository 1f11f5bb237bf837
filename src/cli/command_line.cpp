// SPDX-License-Identifier: Apache-2.0
#include "cli/command_line.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cstdio>

#include "run/exit_codes.h"

namespace reburn3::cli {

int usageError(const std::string& message, std::string_view command) {
    std::fprintf(stderr, "reburn3: %s (see `reburn3 %.*s--help`)\n", message.c_str(),
                 static_cast<int>(command.size()), command.data());
    return kExitUsage;
}

int infoUsageError(const std::string& message, const char* command,
                   const std::vector<std::string>& words) {
    usageError(message, std::string(command) + " ");
    if (jsonAsked(words)) {
        QJsonObject o;
        o.insert("type", QString::fromLatin1(command));
        o.insert("result", "usage-error");
        o.insert("error", QString::fromLocal8Bit(message.c_str()));
        o.insert("exitCode", kExitUsage);
        std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
    }
    return kExitUsage;
}

void printHelp(const std::string& usage, std::string_view exitCodes) {
    std::fputs(usage.c_str(), stdout);
    if (!exitCodes.empty()) {
        std::fwrite(exitCodes.data(), 1, exitCodes.size(), stdout);
    }
}

}  // namespace reburn3::cli
