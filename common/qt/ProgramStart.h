// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QCommandLineOption>
#include <QList>
#include <QMap>
#include <QString>
#include <optional>
#include <vector>

namespace tavrin {

// What a desktop program does with its command line before its QApplication exists, so that --help
// and --version need no display and start nothing.
//
// Names the application and reads the line: --help and --version are answered on standard output,
// an unknown option or any argument is refused on standard error.
// Qt's own options (-platform, -display, -style, -session and a few more) pass on to the QApplication.
// Whenever an X display is there and the person chose no platform (QT_QPA_PLATFORM, -platform), the
// windows go to it, through Xwayland on a Wayland desktop: the capture, the window lists and the game
// all live on X11 there. Main thread, before the QApplication.
class ProgramStart {
public:
    // `options` are the program's own, shown in the help.
    ProgramStart(int argc, char** argv, const QString& name, const QString& description,
                 const QList<QCommandLineOption>& options = {});

    // Whether the program's option `name` was given, and its value (empty for a flag).
    bool isSet(const QString& name) const { return given_.contains(name); }
    QString value(const QString& name) const { return given_.value(name); }

    // Set once the line is answered (0) or refused (2): the program stops with it.
    std::optional<int> exitStatus() const { return exitStatus_; }

    // The command line for the QApplication, which keeps both for its life: this object must outlive it.
    int& argc() { return argc_; }
    char** argv() { return pointers_.data(); }

private:
    std::optional<int> exitStatus_;
    QMap<QString, QString> given_;
    std::vector<QByteArray> arguments_;
    std::vector<char*> pointers_;
    int argc_ = 0;
};

// Qt's own messages (a platform plugin that fails, a D-Bus error) go to std::cerr, formatted as Qt
// formats them (QT_MESSAGE_PATTERN), so they reach the program's log file (StandardErrorLog) with its
// other lines; Qt's own handler writes past it. At the start of main.
void logQtMessages();

}  // namespace tavrin
