// SPDX-License-Identifier: Apache-2.0
#include "serve/serve_options.h"

#include <QCommandLineParser>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QUrl>

#include <sys/stat.h>

#include <cstdio>
#include <optional>

#include "run/exit_codes.h"
#include "run/option_table.h"
#include "run/port_identity.h"
#include "serial/port_map.h"

namespace reburn3::serve {

const char* const kServeUsage =
    "Usage: reburn3 serve --port [LABEL=]DEVICE [--port ...] [options] [--] SCRIPT\n"
    "\n"
    "The station service: serves a page and a JSON API over HTTP and runs rounds of\n"
    "SCRIPT on its ports when asked, exactly as `flash --station` runs them (the\n"
    "same engine, ticks and results). Every board's result is in a synced journal\n"
    "before it is shown, then a row in a database. See\n"
    "/usr/share/doc/reburn3/serve.md.\n"
    "\n"
    "Options:\n"
    "  -p, --port [LABEL=]DEVICE|COMn\n"
    "                          a port of the station, its slot named LABEL (default\n"
    "                          \"slot N\", N its place among the ports from 1); repeat\n"
    "                          it or give a comma list\n"
    "  --station NAME          the station's name on every record, in the state, the\n"
    "                          page and every metric (default: the host name); the\n"
    "                          records and counts shown are this station's\n"
    "  --require-serial        refuse a round whose boards lack a `serial` tag (the\n"
    "                          round's or the slot's own)\n"
    "  --listen ADDR:PORT      where to listen (default 127.0.0.1:7160; port 0: any\n"
    "                          free port); the line \"reburn3: serving on\n"
    "                          http://ADDR:PORT/\" (https:// with TLS) on standard\n"
    "                          error tells where\n"
    "  --token-file FILE       the token every /api/ request must carry\n"
    "                          (Authorization: Bearer TOKEN); required to listen on\n"
    "                          any address but loopback (127.0.0.0/8 or ::1)\n"
    "  --allow-host NAME       a name the station answers to in the Host header,\n"
    "                          besides its address (and localhost on loopback);\n"
    "                          repeat it for more names\n"
    "  --tls-cert FILE         serve HTTPS with this PEM certificate (chain) ...\n"
    "  --tls-key FILE          ... and this PEM private key; without them a token\n"
    "                          off loopback travels in clear\n"
    "  --db URL                the records: sqlite:PATH (default\n"
    "                          sqlite:reburn3-records.sqlite in the working\n"
    "                          directory) or\n"
    "                          postgresql://USER@HOST[:PORT]/DB (the password from\n"
    "                          PGPASSFILE or PGPASSWORD; one in the URL is warned\n"
    "                          about, as every user sees it in ps)\n"
    "  --state-dir DIR         the folder of the records' journal (default: the\n"
    "                          SQLite file's folder; with PostgreSQL the working\n"
    "                          directory); one service a folder\n"
    "  --log FILE              also append one JSON line per board to FILE, as flash\n"
    "  --tag KEY=VALUE         a tag of every board (a round's own tags override it)\n"
    "  --retries N             as flash: start again after a failed handshake\n"
    "  --handshake-limit SECONDS\n"
    "                          as flash (default 5, 0 for no limit)\n"
    "  --expect-sha256 HEX     refuse SCRIPT unless its SHA-256 is HEX\n"
    "  --json                  each board's JSON result on standard output, as flash\n"
    "  --stats                 with --json: each run measured, as flash\n"
    "  -q, --quiet             only the verdicts and errors on standard error\n"
    "  -h, --help              this help\n"
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

int parseServeOptions(int argc, char** argv, ServeOptions& options, bool& help) {
    QCommandLineParser parser;
    run::addOptions(parser, "serve");
    QStringList words{QStringLiteral("reburn3 serve")};
    for (int i = 2; i < argc; ++i) {
        QStringDecoder decoder(QStringDecoder::Utf8);
        words << decoder.decode(QByteArrayView(argv[i]));
    }
    if (!parser.parse(words)) {
        return usage(parser.errorText());
    }
    help = parser.isSet("help");
    if (help) {
        return run::kExitCompleted;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) {
        return usage(positional.isEmpty() ? "no script given" : "give exactly one script");
    }
    run::FlashOptions& f = options.flash;
    f.script = positional.front().toStdString();
    for (const QString& value : parser.values("port")) {
        for (const QString& p : value.split(',')) {
            if (p.isEmpty()) {
                return usage("an empty port in --port");
            }
            // LABEL=DEVICE: the slot's name on the page, the rows and the metrics.
            QString label;
            QString given = p;
            if (const qsizetype eq = p.indexOf('='); eq >= 0) {
                label = p.left(eq).trimmed();
                given = p.mid(eq + 1);
                QString why;
                if (!checkLabel(label, why)) {
                    return usage(why);
                }
                if (given.isEmpty()) {
                    return usage("no device after the slot label " + label + " in --port");
                }
            }
            std::string port = given.toStdString();
            if (!parseComName(port).has_value() && run::namesByIdentity(port)) {
                std::string problem;
                const std::optional<std::string> device = run::resolveIdentity(port, problem);
                if (!device) {
                    return usage(QString::fromStdString(problem));
                }
                port = *device;
            }
            for (const std::string& other : f.ports) {
                if (other == port) {
                    return usage("the port " + p + " is given twice");
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
                return usage("the slot label " + options.slotLabels[i] + " is given twice");
            }
            if (i != j && options.slotLabels[i] == QString::fromStdString(f.ports[j])) {
                return usage("the slot label " + options.slotLabels[i] +
                             " is the port of another slot");
            }
        }
    }
    if (f.ports.empty()) {
        return usage("no port given (--port COMn or --port DEVICE)");
    }
    f.port = f.ports.front();
    f.progress = run::ProgressMode::None;
    f.station = run::StationMode::Off;
    f.json = parser.isSet("json");
    f.stats = parser.isSet("stats");
    f.quiet = parser.isSet("quiet");
    f.logPath = parser.value("log").toStdString();
    for (const QString& tag : parser.values("tag")) {
        const qsizetype eq = tag.indexOf('=');
        QString why;
        if (eq <= 0) {
            return usage("--tag takes KEY=VALUE");
        }
        if (!checkTag(tag.left(eq), tag.mid(eq + 1), why)) {
            return usage(why);
        }
        for (const auto& [key, value] : f.tags) {
            if (QString::fromStdString(key) == tag.left(eq)) {
                return usage("the tag " + tag.left(eq) + " is given twice");
            }
        }
        f.tags.emplace_back(tag.left(eq).toStdString(), tag.mid(eq + 1).toStdString());
    }
    if (f.tags.size() > static_cast<std::size_t>(kMaxTags)) {
        return usage("at most 32 tags");
    }
    if (parser.isSet("retries")) {
        bool ok = false;
        f.retries = parser.value("retries").toInt(&ok);
        if (!ok || f.retries < 0 || f.retries > 100) {
            return usage("--retries takes a number, 0 to 100");
        }
    }
    if (parser.isSet("handshake-limit")) {
        bool ok = false;
        f.handshakeLimitSeconds = parser.value("handshake-limit").toDouble(&ok);
        if (!ok || !(f.handshakeLimitSeconds == 0.0 ||
                     (f.handshakeLimitSeconds >= 1.0 && f.handshakeLimitSeconds <= 86400.0))) {
            return usage("--handshake-limit takes seconds, 1 to 86400, or 0 for no limit");
        }
    }
    if (parser.isSet("expect-sha256")) {
        const QString hex = parser.value("expect-sha256").toLower();
        static const QRegularExpression kHex("^[0-9a-f]{64}$");
        if (!kHex.match(hex).hasMatch()) {
            return usage("--expect-sha256 takes 64 hex digits");
        }
        f.expectSha256 = hex.toStdString();
    }
    if (parser.isSet("listen") &&
        !parseListen(parser.value("listen"), options.address, options.port)) {
        return usage("--listen takes ADDR:PORT, e.g. 127.0.0.1:7160 or [::1]:0");
    }
    options.db = parser.value("db").toStdString();
    if (const QUrl db(parser.value("db"));
        db.scheme().startsWith("postgres") && !db.password().isEmpty()) {
        std::fprintf(stderr,
                     "reburn3: warning: the password in --db can be read by every user of this "
                     "machine (ps); give it in a PGPASSFILE instead\n");
    }
    options.stateDir = parser.value("state-dir").toStdString();
    if (parser.isSet("token-file")) {
        QString why;
        const std::optional<QByteArray> token = readToken(parser.value("token-file"), why);
        if (!token) {
            return usage(why);
        }
        options.token = *token;
    }
    for (const QString& name : parser.values("allow-host")) {
        static const QRegularExpression kName(
            R"(^([a-z0-9]([a-z0-9.-]*[a-z0-9])?|\[[0-9a-f:.]+\])$)");
        if (!kName.match(name.toLower()).hasMatch()) {
            return usage(
                "--allow-host takes a host name or address, e.g. station-4.line.example "
                "or [fd00::4]");
        }
        options.allowHosts << name.toLower();
    }
    if (parser.isSet("station")) {
        options.station = parser.value("station").trimmed();
        QString why;
        if (!checkLabel(options.station, why, "--station")) {
            return usage(why);
        }
    }
    options.requireSerial = parser.isSet("require-serial");
    options.tlsCert = parser.value("tls-cert");
    options.tlsKey = parser.value("tls-key");
    if (options.tlsCert.isEmpty() != options.tlsKey.isEmpty()) {
        return usage("--tls-cert and --tls-key go together");
    }
    if (!options.loopback() && options.token.isEmpty()) {
        return usage("listening on " + options.address.toString() +
                     " (not loopback) needs --token-file FILE: every /api/ request must then "
                     "carry the token");
    }
    return run::kExitCompleted;
}

}  // namespace reburn3::serve
