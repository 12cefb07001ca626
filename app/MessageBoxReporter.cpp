// SPDX-License-Identifier: MIT
#include "app/MessageBoxReporter.h"

#include "app/Captions.h"

#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

void MessageBoxReporter::report(int errorNumber, const QString &description)
{
    const QString text = fatalErrorText(errorNumber, description);
    std::fprintf(stderr, "%s\n",
        qUtf8Printable(QString(text).replace(QLatin1String("\n\n"), QLatin1String(" "))));
    std::fflush(stderr);
    QMessageBox::critical(nullptr, QString::fromUtf8(Captions::kFatalErrorTitle), text);
    // End here, from inside whatever handler failed: nothing after the failure may run.
    std::_Exit(EXIT_FAILURE);
}
