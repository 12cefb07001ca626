// SPDX-License-Identifier: MIT
#include "engine/FatalErrorReporter.h"

#include "engine/EngineCaptions.h"

QString fatalErrorText(int errorNumber, const QString &description)
{
    return QString::fromUtf8(EngineCaptions::kFatalError).arg(errorNumber).arg(description);
}
