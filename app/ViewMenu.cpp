// SPDX-License-Identifier: MIT
#include "app/ViewMenu.h"

#include "app/Captions.h"
#include "app/DatagramListWindow.h"
#include "app/LogWindow.h"
#include "app/ViewCaptions.h"
#include "engine/LinkEngine.h"
#include "pane/LogPane.h"

#include <QMainWindow>
#include <QMenuBar>

namespace {

QString caption(const char *text)
{
    return QString::fromUtf8(text);
}

void raise(QWidget &window)
{
    window.show();
    window.raise();
    window.activateWindow();
}

} // namespace

ViewMenu::ViewMenu(
    QMainWindow &window, LinkEngine &engine, const LogPane &status, const LogPane &dump)
    : QObject(&window)
    , m_window(window)
    , m_engine(engine)
    , m_status(status)
    , m_dump(dump)
{
    // Other entries of the menu may be there already.
    QMenu *menu = window.menuBar()->findChild<QMenu *>(QStringLiteral("mnuView"));
    if (menu == nullptr) {
        menu = window.menuBar()->addMenu(caption(Captions::kViewMenu));
        menu->setObjectName(QStringLiteral("mnuView"));
    }
    const auto add = [&](const char *name, const char *text, void (ViewMenu::*open)()) {
        QAction *const action = menu->addAction(caption(text));
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, open);
    };
    add("mnuStatusLogWindow", ViewCaptions::kStatusLogWindow, &ViewMenu::openStatusLog);
    add("mnuDumpLogWindow", ViewCaptions::kDumpLogWindow, &ViewMenu::openDumpLog);
    add("mnuDatagramList", ViewCaptions::kDatagramList, &ViewMenu::openList);
    if (engine.settings().listAtStart) {
        // Once the main window is up, so that the list opens over it.
        QMetaObject::invokeMethod(this, &ViewMenu::openList, Qt::QueuedConnection);
    }
}

void ViewMenu::openStatusLog()
{
    if (m_statusLog == nullptr) {
        m_statusLog = new LogWindow(m_status.store(), caption(ViewCaptions::kStatusLogWindow),
            Captions::kSaveStatusLog, Captions::kStatusLogFileName, &m_window);
        m_statusLog->setObjectName(QStringLiteral("frmStatusLog"));
    }
    raise(*m_statusLog);
}

void ViewMenu::openDumpLog()
{
    if (m_dumpLog == nullptr) {
        m_dumpLog = new LogWindow(m_dump.store(), caption(ViewCaptions::kDumpLogWindow),
            Captions::kSaveDumpLog, Captions::kDumpLogFileName, &m_window);
        m_dumpLog->setObjectName(QStringLiteral("frmDumpLog"));
    }
    raise(*m_dumpLog);
}

void ViewMenu::openList()
{
    if (m_list == nullptr)
        m_list = new DatagramListWindow(m_engine, m_engine.settings().captureBudget, &m_window);
    raise(*m_list);
}
