// SPDX-License-Identifier: Apache-2.0
#include "run/command_words.h"

namespace reburn3::run {

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

}  // namespace reburn3::run
