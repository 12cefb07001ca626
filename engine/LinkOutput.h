// SPDX-License-Identifier: MIT
#pragma once

#include "log/Common.h"

#include <QByteArrayView>

// Where a run's lines are shown: the window's panes, or a window-less run's files and
// standard output. The engine writes the same lines to the log files itself.
class LinkOutput
{
public:
    enum class Log { Status, Dump };

    virtual ~LinkOutput() = default;
    // One or more whole lines, each ending in CR LF.
    virtual void append(Log log, QByteArrayView text) = 0;
    // The payload's hex dump and a blank line, as append(Log::Dump, ...) would add them; an
    // output that can format straight into its store does so.
    virtual void appendDump(QByteArrayView payload)
    {
        append(Log::Dump, Common::HexDump(payload) + "\r\n");
    }
    // The figures moved (a datagram sent, dropped or received). Called for every datagram of a
    // flood, so it must cost next to nothing.
    virtual void figuresChanged() { }
};
