// SPDX-License-Identifier: MIT
#include "FatalErrorReporter.h"
#include "Tick.h"
#include "frmMain.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    MessageBoxReporter reporter;
    frmMain window(systemUptimeMilliseconds, reporter);
    window.show();
    return app.exec();
}
