// SPDX-License-Identifier: Apache-2.0
#include "cli/command_line.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cstdio>

#include "cli/exit_codes.h"

namespace reburn3::cli {

std::vector<std::string> commandWords(int argc, char** argv) {
    return argc > 2 ? std::vector<std::string>(argv + 2, argv + argc) : std::vector<std::string>();
}

std::string wordsProblem(const ParsedOptions& parsed) {
    // A value missing or given to a flag is told before unknown names, the last one met.
    std::vector<std::string> unknown;
    std::string problem;
    for (const OptionProblem& p : parsed.problems) {
        switch (p.kind) {
            case OptionProblem::Kind::Unknown:
                unknown.push_back(p.name);
                break;
            case OptionProblem::Kind::MissingValue:
                problem = "Missing value after '" + p.word + "'.";
                break;
            case OptionProblem::Kind::UnexpectedValue:
                problem = "Unexpected value after '" + p.word + "'.";
                break;
            case OptionProblem::Kind::BadValue:
                problem = valueProblem(p);
                break;
        }
    }
    if (!problem.empty() || unknown.empty()) {
        return problem;
    }
    if (unknown.size() == 1) {
        return "Unknown option '" + unknown.front() + "'.";
    }
    std::string names;
    for (const std::string& name : unknown) {
        names += (names.empty() ? "" : ", ") + name;
    }
    return "Unknown options: " + names + ".";
}

std::string valueProblem(const OptionProblem& problem) {
    return problemText(problem);
}

int usageError(const std::string& message, std::string_view command) {
    std::fprintf(stderr, "reburn3: %s (see `reburn3 %.*s--help`)\n", message.c_str(),
                 static_cast<int>(command.size()), command.data());
    return kExitUsage;
}

bool jsonAsked(const std::vector<std::string>& words) {
    for (const std::string& word : words) {
        if (word == "--") {
            return false;
        }
        if (word == "--json") {
            return true;
        }
    }
    return false;
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
