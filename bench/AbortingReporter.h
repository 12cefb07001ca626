// SPDX-License-Identifier: MIT
#pragma once

#include "engine/FatalErrorReporter.h"

#include <QString>

#include <cstdio>
#include <cstdlib>

// A benchmark whose window hits a fatal error measures nothing: stop at once and say why.
class AbortingReporter final : public FatalErrorReporter
{
public:
    void report(int errorNumber, const QString &description) override
    {
        std::fprintf(stderr, "fatal %d: %s\n", errorNumber, qPrintable(description));
        std::abort();
    }
};
