// SPDX-License-Identifier: MIT
#pragma once

#include "engine/FatalErrorReporter.h"

// Shows the error number and description in a message box, writes the same to stderr, then
// ends the program with a non-zero exit status.
class MessageBoxReporter final : public FatalErrorReporter
{
public:
    void report(int errorNumber, const QString &description) override;
};
