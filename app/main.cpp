// SPDX-License-Identifier: MIT
#include "AppIcon.h"
#include "FatalErrorReporter.h"
#include "TerminationSignals.h"
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
    // Being told to stop closes the window as its close box would, so the socket is released
    // and the exit status is 0.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &window, &QWidget::close);
    window.show();
    return app.exec();
}
