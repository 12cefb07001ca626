// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArrayView>

class LogPane;

// Adds text at the end of the pane, whatever the user selected or clicked into, then moves the
// caret to the end so that the pane shows its newest line.
void AppendToPane(LogPane &pane, QByteArrayView text);

// Empties the pane.
void ClearPane(LogPane &pane);
