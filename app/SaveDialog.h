// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <functional>

class QFileDevice;
class QWidget;

// Asks where to save, then writes the file so that a save failing on the way leaves it as it
// was, never half written; a failure is shown with the step that failed. `write` returns false
// when it could not write, with `reason` set or left empty for the file's own error.
void saveWithDialog(QWidget *parent, QString title, const QString &fileName, const QString &filter,
    const std::function<bool(QFileDevice &file, QString &reason)> &write);
