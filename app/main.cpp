// SPDX-License-Identifier: MIT
#include "AppIcon.h"
#include "FatalErrorReporter.h"
#include "Tick.h"
#include "frmMain.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Lets a desktop match the window to its installed entry and icon.
    QGuiApplication::setDesktopFileName(QLatin1StringView(kApplicationId));
    MessageBoxReporter reporter;
    frmMain window(systemUptimeMilliseconds, reporter);
    window.show();
    return app.exec();
}
