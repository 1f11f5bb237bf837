// SPDX-License-Identifier: Apache-2.0
#include "run/option_table.h"

#include "app/command_options.h"

namespace reburn3::run {

void addOptions(QCommandLineParser& parser, std::string_view command) {
    for (const OptionSpec& o : commandOptions(command)) {
        QStringList names;
        if (o.shortName != 0) {
            names << QString(QChar::fromLatin1(o.shortName));
        }
        names << QString::fromLatin1(o.name.data(), static_cast<qsizetype>(o.name.size()));
        parser.addOption(o.valueName.empty()
                             ? QCommandLineOption(names)
                             : QCommandLineOption(names, QString(),
                                                  QString::fromLatin1(
                                                      o.valueName.data(),
                                                      static_cast<qsizetype>(o.valueName.size()))));
    }
}

}  // namespace reburn3::run
