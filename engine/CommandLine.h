// SPDX-License-Identifier: MIT
#pragma once

#include "engine/Settings.h"

#include <QString>
#include <QStringList>

// Reads the command line into the run's settings, before anything touches the display.
namespace CommandLine {

// A command line the tool cannot make sense of ends the program with this status.
inline constexpr int kBadUsageStatus = 2;

enum class Action {
    Run,
    PrintHelp,
    PrintVersion,
    Fail,
};

struct Outcome
{
    Action action = Action::Run;
    // Meaningful only for Run.
    Settings settings;
    // PrintHelp and PrintVersion: what goes to stdout. Fail: the one line for stderr, which
    // names the bad option or value and ends with "(try --help)". Both end in a newline.
    QString text;
};

// The name the program was started by, for its messages; the arguments as for parse().
QString programName(const QStringList &arguments);

// The arguments start with the program's name, as QCoreApplication::arguments() does. Needs no
// application object. When an option is given more than once, the last one counts.
Outcome parse(const QStringList &arguments);

} // namespace CommandLine
