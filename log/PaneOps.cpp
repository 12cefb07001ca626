// SPDX-License-Identifier: MIT
#include "PaneOps.h"

#include "LogPane.h"

#include <limits>

void AppendToPane(LogPane &pane, QByteArrayView text)
{
    // Appending at the caret would write into the middle of the log, or over lines the user
    // selected to copy; a log only ever grows at its end.
    pane.append(text);
    pane.setSelectionStart(std::numeric_limits<qint32>::max());
}

void ClearPane(LogPane &pane)
{
    pane.setText({});
}
