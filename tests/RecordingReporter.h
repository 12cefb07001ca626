// SPDX-License-Identifier: MIT
#pragma once

#include "engine/FatalErrorReporter.h"

#include <QList>
#include <QPair>

// Keeps every report instead of ending the test.
class RecordingReporter final : public FatalErrorReporter
{
public:
    void report(int errorNumber, const QString &description) override
    {
        reports.append({ errorNumber, description });
    }
    QList<QPair<int, QString>> reports;
};
