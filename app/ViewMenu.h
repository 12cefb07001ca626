// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

class DatagramListWindow;
class LinkEngine;
class LogPane;
class LogWindow;
class QMainWindow;

// The 表示 menu's windows: a resizable window on each log the main window's panes show, and the
// datagram list. Each is made the first time it is asked for and kept, hidden, when closed.
class ViewMenu : public QObject
{
    Q_OBJECT

public:
    ViewMenu(QMainWindow &window, LinkEngine &engine, const LogPane &status, const LogPane &dump);

    void openStatusLog();
    void openDumpLog();
    void openList();
    // Null until first opened.
    DatagramListWindow *list() const { return m_list; }

private:
    QMainWindow &m_window;
    LinkEngine &m_engine;
    const LogPane &m_status;
    const LogPane &m_dump;
    LogWindow *m_statusLog = nullptr;
    LogWindow *m_dumpLog = nullptr;
    DatagramListWindow *m_list = nullptr;
};
