// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProgramStart.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <iostream>

namespace tavrin {

namespace {

// Qt's options that its QApplication takes out of the line; -session is how a session manager
// restarts a program.
const QStringList qtOptionsWithValue = {
    QStringLiteral("platform"),    QStringLiteral("platformtheme"), QStringLiteral("platformpluginpath"),
    QStringLiteral("plugin"),      QStringLiteral("display"),       QStringLiteral("style"),
    QStringLiteral("stylesheet"),  QStringLiteral("session"),       QStringLiteral("qwindowgeometry"),
    QStringLiteral("qwindowtitle")};
const QStringList qtFlags = {QStringLiteral("reverse"), QStringLiteral("sync")};

int refuse(const QString& name, const QString& reason) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", qPrintable(name),
                 qPrintable(reason), qPrintable(name));
    return 2;
}

}  // namespace

ProgramStart::ProgramStart(int argc, char** argv, const QString& name, const QString& description,
                           const QList<QCommandLineOption>& options) {
    QCoreApplication::setApplicationName(name);

    QCommandLineParser parser;
    // "-platform xcb" as Qt writes its options, not -p -l -a ...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(description);
    // Qt's own help option would offer a --help-all listing Qt's options, which only an application
    // object knows.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows these options and exits."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Shows the version and exits."));
    parser.addOptions({help, version});
    parser.addOptions(options);
    for (const QString& option : qtOptionsWithValue) {
        QCommandLineOption qtOption(option, QString(), QStringLiteral("value"));
        qtOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtOption);
    }
    for (const QString& flag : qtFlags) {
        QCommandLineOption qtFlag(flag);
        qtFlag.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtFlag);
    }
    QStringList line;
    for (int i = 0; i < argc; ++i) {
        line.append(QString::fromLocal8Bit(argv[i]));
        arguments_.emplace_back(argv[i]);
    }
    if (!parser.parse(line)) {
        exitStatus_ = refuse(name, parser.errorText());
        return;
    }
    if (parser.isSet(help)) {
        // Without a QCoreApplication Qt cannot name the program in the usage line.
        std::fputs(qPrintable(parser.helpText().replace(QStringLiteral("<executable_name>"), name)), stdout);
        exitStatus_ = 0;
        return;
    }
    if (parser.isSet(version)) {
        std::printf("%s %s\n", qPrintable(name), TAVRIN_VERSION);
        exitStatus_ = 0;
        return;
    }
    if (!parser.positionalArguments().isEmpty()) {
        exitStatus_ = refuse(
            name, QStringLiteral("unexpected argument '%1'.").arg(parser.positionalArguments().front()));
        return;
    }

    for (const QCommandLineOption& option : options) {
        if (parser.isSet(option)) {
            given_.insert(option.names().constLast(),
                          option.valueName().isEmpty() ? QString() : parser.value(option));
        }
    }

    if (!qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        !parser.isSet(QStringLiteral("platform"))) {
        // On the line rather than in the environment, so that what this program opens (a browser, a
        // file manager) chooses for itself.
        arguments_.emplace_back("-platform");
        arguments_.emplace_back("xcb");
    }
    for (QByteArray& argument : arguments_) {
        pointers_.push_back(argument.data());
    }
    argc_ = static_cast<int>(arguments_.size());
    pointers_.push_back(nullptr);
}

void logQtMessages() {
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
        std::cerr << qFormatLogMessage(type, context, message).toStdString() << std::endl;
    });
}

}  // namespace tavrin
