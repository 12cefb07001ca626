// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// Where a handler's failure goes. The program's reporter ends the program; tests record.
class FatalErrorReporter
{
public:
    virtual ~FatalErrorReporter() = default;
    virtual void report(int errorNumber, const QString &description) = 0;
};
