// SPDX-License-Identifier: Apache-2.0
#include "serve/serve_options.h"

#include <QFile>
#include <QRegularExpression>
#include <QUrl>

#include <sys/stat.h>

#include <cstdio>
#include <optional>

#include "run/command_words.h"
#include "run/exit_codes.h"
#include "run/port_identity.h"
#include "serial/port_map.h"

namespace reburn3::serve {

namespace {

// The service's options, in the order its help lists them.
constexpr OptionSpec kServeOptions[] = {
    OptionSpec("port", 'p')
        .takes(OptionValue::Port, "[LABEL=]DEVICE|COMn")
        .says("a port of the station, its slot named LABEL (default\n"
              "\"slot N\", N its place among the ports from 1); repeat\n"
              "it or give a comma list"),
    OptionSpec("station")
        .takes(OptionValue::Text, "NAME")
        .says("the station's name on every record, in the state, the\n"
              "page and every metric (default: the host name); the\n"
              "records and counts shown are this station's"),
    OptionSpec("require-serial")
        .says("refuse a round whose boards lack a `serial` tag (the\n"
              "round's or the slot's own)"),
    OptionSpec("listen")
        .takes(OptionValue::Text, "ADDR:PORT")
        .says("where to listen (default 127.0.0.1:7160; port 0: any\n"
              "free port); the line \"reburn3: serving on\n"
              "http://ADDR:PORT/\" (https:// with TLS) on standard\n"
              "error tells where"),
    OptionSpec("token-file")
        .takes(OptionValue::File, "FILE")
        .says("the token every /api/ request must carry\n"
              "(Authorization: Bearer TOKEN); required to listen on\n"
              "any address but loopback (127.0.0.0/8 or ::1)"),
    OptionSpec("allow-host")
        .takes(OptionValue::Text, "NAME")
        .says("a name the station answers to in the Host header,\n"
              "besides its address (and localhost on loopback);\n"
              "repeat it for more names"),
    OptionSpec("tls-cert")
        .takes(OptionValue::File, "FILE")
        .says("serve HTTPS with this PEM certificate (chain) ..."),
    OptionSpec("tls-key")
        .takes(OptionValue::File, "FILE")
        .says("... and this PEM private key; without them a token\n"
              "off loopback travels in clear"),
    OptionSpec("db")
        .takes(OptionValue::Text, "URL")
        .says("the records: sqlite:PATH (default\n"
              "sqlite:reburn3-records.sqlite in the working\n"
              "directory) or\n"
              "postgresql://USER@HOST[:PORT]/DB (the password from\n"
              "PGPASSFILE or PGPASSWORD; one in the URL is warned\n"
              "about, as every user sees it in ps)"),
    OptionSpec("state-dir")
        .takes(OptionValue::File, "DIR")
        .says("the folder of the records' journal (default: the\n"
              "SQLite file's folder; with PostgreSQL the working\n"
              "directory); one service a folder"),
    OptionSpec("log")
        .takes(OptionValue::File, "FILE")
        .says("also append one JSON line per board to FILE, as flash"),
    OptionSpec("tag")
        .takes(OptionValue::Text, "KEY=VALUE")
        .says("a tag of every board (a round's own tags override it)"),
    OptionSpec("retries")
        .takes(OptionValue::Integer, "N")
        .between(0, 100)
        .refusing("--retries takes a number, 0 to 100")
        .says("as flash: start again after a failed handshake"),
    OptionSpec("handshake-limit")
        .takes(OptionValue::Decimal, "SECONDS")
        .between(1, 86'400)
        .orZero()
        .refusing("--handshake-limit takes seconds, 1 to 86400, or 0 for no limit")
        .says("as flash (default 5, 0 for no limit)"),
    OptionSpec("expect-sha256")
        .takes(OptionValue::Sha256, "HEX")
        .refusing("--expect-sha256 takes 64 hex digits")
        .says("refuse SCRIPT unless its SHA-256 is HEX"),
    OptionSpec("json").says("each board's JSON result on standard output, as flash"),
    OptionSpec("stats").says("with --json: each run measured, as flash"),
    OptionSpec("quiet", 'q').says("only the verdicts and errors on standard error"),
    OptionSpec("help", 'h').says("this help"),
};

}  // namespace

std::span<const OptionSpec> serveOptionTable() {
    return kServeOptions;
}

std::string serveHelp() {
    return "Usage: reburn3 serve --port [LABEL=]DEVICE [--port ...] [options] [--] SCRIPT\n"
           "\n"
           "The station service: serves a page and a JSON API over HTTP and runs rounds of\n"
           "SCRIPT on its ports when asked, exactly as `flash --station` runs them (the\n"
           "same engine, ticks and results). Every board's result is in a synced journal\n"
           "before it is shown, then a row in a database. See\n"
           "/usr/share/doc/reburn3/serve.md.\n"
           "\n"
           "Options:\n" +
           optionHelp(kServeOptions, run::kWideHelpColumn) +
           "\n"
           "SIGTERM, SIGINT or SIGHUP ends the service: a round running is aborted like\n"
           "\"Abort Process\" and every board's record is journaled first; what the\n"
           "database has not taken within 3 s waits in the journal for the next start.\n"
           "\n"
           "Exit codes:\n"
           "  0    ended by a signal, every record journaled (and written, or waiting in\n"
           "       the journal)\n"
           "  2    usage error (also: a listen address not on loopback without a token, a\n"
           "       certificate or key that cannot be read)\n"
           "  3    the script cannot be read\n"
           "  5    the journal, the records database's URL or the log cannot be used, or\n"
           "       a record could not be journaled\n";
}

namespace {

int usage(const QString& message) {
    std::fprintf(stderr, "reburn3: %s (see `reburn3 serve --help`)\n",
                 message.toLocal8Bit().constData());
    return run::kExitUsage;
}

bool parseListen(const QString& text, QHostAddress& address, quint16& port) {
    const qsizetype colon = text.lastIndexOf(':');
    if (colon <= 0) {
        return false;
    }
    QString host = text.left(colon);
    if (host.startsWith('[') && host.endsWith(']')) {
        host = host.mid(1, host.size() - 2);
    } else if (host.contains(':')) {
        return false;  // an IPv6 address goes in brackets
    }
    if (host == "localhost") {
        host = "127.0.0.1";
    }
    bool ok = false;
    const uint n = text.mid(colon + 1).toUInt(&ok);
    if (!ok || n > 65535 || !address.setAddress(host)) {
        return false;
    }
    port = static_cast<quint16>(n);
    return true;
}

std::optional<QByteArray> readToken(const QString& path, QString& why) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = "cannot read the token file " + path + ": " + file.errorString();
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(file.handle(), &info) == 0 && (info.st_mode & 077) != 0) {
        std::fprintf(stderr,
                     "reburn3: warning: the token file %s can be read by others (mode %03o); "
                     "chmod 600 it\n",
                     path.toLocal8Bit().constData(), static_cast<unsigned>(info.st_mode & 0777));
    }
    const QByteArray token = file.read(4097).trimmed();
    if (token.size() < 16 || token.size() > 4096) {
        why = "the token in " + path + " must be 16 to 4096 characters";
        return std::nullopt;
    }
    for (const char c : token) {
        if (c <= ' ' || c > '~') {
            why = "the token in " + path + " must be printable ASCII without spaces";
            return std::nullopt;
        }
    }
    return token;
}

}  // namespace

bool checkTag(const QString& key, const QString& value, QString& why) {
    if (key.isEmpty() || key.size() > 64) {
        why = "a tag key must have 1 to 64 characters";
        return false;
    }
    for (const QChar c : key) {
        const char16_t u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
                        (u >= '0' && u <= '9') || u == '-' || u == '_' || u == '.';
        if (!ok) {
            why = "the tag key \"" + key + "\" may have only letters, digits, '-', '_' and '.'";
            return false;
        }
    }
    if (value.size() > 256) {
        why = "the value of the tag " + key + " has more than 256 characters";
        return false;
    }
    for (const QChar c : value) {
        if (c.category() == QChar::Other_Control || c.isSurrogate() || c.unicode() == 0xFFFD) {
            why = "the value of the tag " + key + " has a control character or is not UTF-8";
            return false;
        }
    }
    return true;
}

bool checkLabel(const QString& label, QString& why, const QString& what) {
    if (label.isEmpty() || label.size() > 64) {
        why = what + " takes 1 to 64 characters";
        return false;
    }
    for (const QChar c : label) {
        if (c.category() == QChar::Other_Control || c.isSurrogate() || c.unicode() == 0xFFFD ||
            c == ',' || c == '=') {
            why = what + " \"" + label + "\" may not have a control character, ',' or '='";
            return false;
        }
    }
    return true;
}

namespace {

// A value as text: a byte that is not UTF-8 stands as U+FFFD, which the checks of tags and
// labels refuse.
QString textOf(const ParsedOptions& parsed, std::string_view name) {
    return QString::fromUtf8(parsed.value(name));
}

QStringList textsOf(const ParsedOptions& parsed, std::string_view name) {
    QStringList list;
    for (const std::string& v : parsed.values(name)) {
        list << QString::fromUtf8(v);
    }
    return list;
}

// Every --port, each also a comma list of [LABEL=]DEVICE: the ports and the slots' labels.
// What is wrong, or empty.
QString readSlots(const QStringList& values, ServeOptions& options) {
    run::FlashOptions& f = options.flash;
    for (const QString& value : values) {
        for (const QString& p : value.split(',')) {
            if (p.isEmpty()) {
                return "an empty port in --port";
            }
            // LABEL=DEVICE: the slot's name on the page, the rows and the metrics.
            QString label;
            QString given = p;
            if (const qsizetype eq = p.indexOf('='); eq >= 0) {
                label = p.left(eq).trimmed();
                given = p.mid(eq + 1);
                QString why;
                if (!checkLabel(label, why)) {
                    return why;
                }
                if (given.isEmpty()) {
                    return "no device after the slot label " + label + " in --port";
                }
            }
            std::string port = given.toStdString();
            if (!parseComName(port).has_value() && run::namesByIdentity(port)) {
                std::string problem;
                const std::optional<std::string> device = run::resolveIdentity(port, problem);
                if (!device) {
                    return QString::fromStdString(problem);
                }
                port = *device;
            }
            for (const std::string& other : f.ports) {
                if (other == port) {
                    return "the port " + p + " is given twice";
                }
            }
            f.ports.push_back(port);
            options.slotLabels.push_back(label);
        }
    }
    for (std::size_t i = 0; i < options.slotLabels.size(); ++i) {
        if (options.slotLabels[i].isEmpty()) {
            options.slotLabels[i] = QStringLiteral("slot %1").arg(i + 1);
        }
    }
    // A slot is named one way only: no two the same, none the text of another's port.
    for (std::size_t i = 0; i < options.slotLabels.size(); ++i) {
        for (std::size_t j = 0; j < options.slotLabels.size(); ++j) {
            if (i != j && options.slotLabels[i] == options.slotLabels[j]) {
                return "the slot label " + options.slotLabels[i] + " is given twice";
            }
            if (i != j && options.slotLabels[i] == QString::fromStdString(f.ports[j])) {
                return "the slot label " + options.slotLabels[i] + " is the port of another slot";
            }
        }
    }
    return f.ports.empty() ? "no port given (--port COMn or --port DEVICE)" : QString();
}

// Every --tag KEY=VALUE, each key once, at most kMaxTags. What is wrong, or empty.
QString readTags(const QStringList& tags, run::FlashOptions& f) {
    for (const QString& tag : tags) {
        const qsizetype eq = tag.indexOf('=');
        QString why;
        if (eq <= 0) {
            return "--tag takes KEY=VALUE";
        }
        if (!checkTag(tag.left(eq), tag.mid(eq + 1), why)) {
            return why;
        }
        for (const auto& [key, value] : f.tags) {
            if (QString::fromStdString(key) == tag.left(eq)) {
                return "the tag " + tag.left(eq) + " is given twice";
            }
        }
        f.tags.emplace_back(tag.left(eq).toStdString(), tag.mid(eq + 1).toStdString());
    }
    return f.tags.size() > static_cast<std::size_t>(kMaxTags) ? "at most 32 tags" : QString();
}

// Where and to whom the service answers: the address, the records' database and journal,
// the token, the host names, the station's name and TLS. What is wrong, or empty.
QString readService(const ParsedOptions& parsed, ServeOptions& options) {
    if (parsed.isSet("listen") &&
        !parseListen(textOf(parsed, "listen"), options.address, options.port)) {
        return "--listen takes ADDR:PORT, e.g. 127.0.0.1:7160 or [::1]:0";
    }
    options.db = textOf(parsed, "db").toStdString();
    if (const QUrl db(textOf(parsed, "db"));
        db.scheme().startsWith("postgres") && !db.password().isEmpty()) {
        std::fprintf(stderr,
                     "reburn3: warning: the password in --db can be read by every user of this "
                     "machine (ps); give it in a PGPASSFILE instead\n");
    }
    options.stateDir = textOf(parsed, "state-dir").toStdString();
    if (parsed.isSet("token-file")) {
        QString why;
        const std::optional<QByteArray> token = readToken(textOf(parsed, "token-file"), why);
        if (!token) {
            return why;
        }
        options.token = *token;
    }
    for (const QString& name : textsOf(parsed, "allow-host")) {
        static const QRegularExpression kName(
            R"(^([a-z0-9]([a-z0-9.-]*[a-z0-9])?|\[[0-9a-f:.]+\])$)");
        if (!kName.match(name.toLower()).hasMatch()) {
            return "--allow-host takes a host name or address, e.g. station-4.line.example or "
                   "[fd00::4]";
        }
        options.allowHosts << name.toLower();
    }
    if (parsed.isSet("station")) {
        options.station = textOf(parsed, "station").trimmed();
        QString why;
        if (!checkLabel(options.station, why, "--station")) {
            return why;
        }
    }
    options.requireSerial = parsed.isSet("require-serial");
    options.tlsCert = textOf(parsed, "tls-cert");
    options.tlsKey = textOf(parsed, "tls-key");
    if (options.tlsCert.isEmpty() != options.tlsKey.isEmpty()) {
        return "--tls-cert and --tls-key go together";
    }
    if (!options.loopback() && options.token.isEmpty()) {
        return "listening on " + options.address.toString() +
               " (not loopback) needs --token-file FILE: every /api/ request must then carry "
               "the token";
    }
    return {};
}

}  // namespace

int parseServeOptions(int argc, char** argv, ServeOptions& options, bool& help) {
    ParsedOptions parsed =
        parseOptions(kServeOptions, run::commandWords(argc, argv), run::kCommandLineRules);
    if (const std::string problem = run::wordsProblem(parsed); !problem.empty()) {
        return usage(QString::fromUtf8(problem));
    }
    help = parsed.isSet("help");
    if (help) {
        return run::kExitCompleted;
    }
    if (parsed.positional.size() != 1) {
        return usage(parsed.positional.empty() ? "no script given" : "give exactly one script");
    }
    run::FlashOptions& f = options.flash;
    f.script = QString::fromUtf8(parsed.positional.front()).toStdString();
    if (const QString problem = readSlots(textsOf(parsed, "port"), options); !problem.isEmpty()) {
        return usage(problem);
    }
    if (const std::optional<OptionProblem> bad =
            checkValues(kServeOptions, parsed, run::kCommandLineRules)) {
        return usage(QString::fromUtf8(run::valueProblem(*bad)));
    }
    f.port = f.ports.front();
    f.progress = run::ProgressMode::None;
    f.station = run::StationMode::Off;
    f.json = parsed.isSet("json");
    f.stats = parsed.isSet("stats");
    f.quiet = parsed.isSet("quiet");
    f.logPath = textOf(parsed, "log").toStdString();
    f.retries = parsed.isSet("retries") ? static_cast<int>(parsed.number("retries")) : f.retries;
    if (parsed.isSet("handshake-limit")) {
        f.handshakeLimitSeconds = parsed.number("handshake-limit");
    }
    f.expectSha256 = textOf(parsed, "expect-sha256").toLower().toStdString();
    if (const QString problem = readTags(textsOf(parsed, "tag"), f); !problem.isEmpty()) {
        return usage(problem);
    }
    if (const QString problem = readService(parsed, options); !problem.isEmpty()) {
        return usage(problem);
    }
    return run::kExitCompleted;
}

}  // namespace reburn3::serve
