// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <span>
#include <string>
#include <vector>

#include "base/option_table.h"
#include "run/run_options.h"

namespace reburn3::serve {

// The port the service listens on unless --listen says otherwise.
inline constexpr quint16 kDefaultPort = 7160;

struct ServeOptions {
    run::FlashOptions flash;  // ports, script, log, tags, retries, ... as `flash` takes them
    QHostAddress address = QHostAddress(QHostAddress::LocalHost);
    quint16 port = kDefaultPort;  // 0: any free port
    std::string db;               // --db URL; empty: reburn3-records.sqlite here
    std::string stateDir;         // --state-dir; empty: the SQLite file's folder, or here
    QByteArray token;             // from --token-file; empty: none
    QStringList allowHosts;       // --allow-host names, lower case
    QString tlsCert;              // --tls-cert and --tls-key: HTTPS
    QString tlsKey;
    QString station;                  // --station NAME; empty: the host name
    std::vector<QString> slotLabels;  // a label per port of flash.ports ("slot N" unless given)
    bool requireSerial = false;       // --require-serial
    bool loopback() const { return address.isLoopback(); }
};

// `reburn3 serve`'s options: the one table its parse, help and completion read.
std::span<const OptionSpec> serveOptionTable();

// The help of `reburn3 serve`.
std::string serveHelp();

// Parses `reburn3 serve`'s words (argv[2] on). 0: go on; else the exit code (the help
// shown: 0 with `help` set, a usage error told: 2).
int parseServeOptions(int argc, char** argv, ServeOptions& options, bool& help);

// The rules of a tag, the same for --tag and for a round's tags: a key of 1 to 64
// letters, digits, '-', '_' or '.', a value of at most 256 characters and no control
// characters. False with the reason in `why`.
bool checkTag(const QString& key, const QString& value, QString& why);
inline constexpr int kMaxTags = 32;

// The rules of a slot label and a station name: 1 to 64 characters, no control
// characters, ',' or '='. False with the reason in `why`, `what` naming the value.
bool checkLabel(const QString& label, QString& why, const QString& what = "a slot label");

}  // namespace reburn3::serve
