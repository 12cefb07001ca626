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

// "実行時エラー '98':" and the description, as a box or a line shows it.
QString fatalErrorText(int errorNumber, const QString &description);
