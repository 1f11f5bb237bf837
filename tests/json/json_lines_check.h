// SPDX-License-Identifier: Apache-2.0
// Every JSON line a test reads from `reburn3` is kept, and when the test program ends
// all of them are checked against the published schema (docs/reburn3-json.schema.json)
// by tests/json/validate_json_lines.py, with Debian's python3-jsonschema. A line that
// breaks the schema fails the test program.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace reburn3::json_check {

inline QStringList& seenLines() {
    static QStringList lines;
    return lines;
}

// Keeps every line of `output` that is a JSON object.
inline void noteJsonLines(const QString& output) {
    for (const QString& line : output.split('\n', Qt::SkipEmptyParts)) {
        if (line.startsWith('{')) {
            seenLines() << line;
        }
    }
}

class SchemaCheck : public ::testing::Environment {
public:
    void TearDown() override {
        if (seenLines().isEmpty()) {
            return;
        }
        QProcess python;
        python.start("python3", {REBURN3_JSON_VALIDATOR, REBURN3_JSON_SCHEMA});
        ASSERT_TRUE(python.waitForStarted(10000)) << "python3 is needed to check the JSON lines";
        python.write((seenLines().join('\n') + '\n').toUtf8());
        python.closeWriteChannel();
        ASSERT_TRUE(python.waitForFinished(60000));
        const QString report = QString::fromUtf8(python.readAllStandardOutput()) +
                               QString::fromUtf8(python.readAllStandardError());
        EXPECT_EQ(python.exitCode(), 0) << "JSON lines against the schema:\n"
                                        << report.toStdString();
    }
};

// Registers the check; call from main() before RUN_ALL_TESTS.
inline void checkJsonLinesAtExit() {
    ::testing::AddGlobalTestEnvironment(new SchemaCheck);
}

}  // namespace reburn3::json_check
