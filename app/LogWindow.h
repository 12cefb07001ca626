// SPDX-License-Identifier: MIT
#pragma once

#include <QMainWindow>

#include <memory>

class LogPane;
class LogStore;

// A resizable window on a log the main window shows in a pane: another view of the same store,
// with its own view position, caret and selection, and everything the pane does (follow or
// hold, select, keys, find, copy), and a save of its own. Closing it only hides it.
class LogWindow : public QMainWindow
{
    Q_OBJECT

public:
    // name: what the log is called, in the title; saveTitle and fileName: the save dialog's.
    LogWindow(std::shared_ptr<LogStore> store, const QString &name, const char *saveTitle,
        const char *fileName, QWidget *parent = nullptr);

    LogPane *pane() const { return m_pane; }

private:
    void save();

    LogPane *const m_pane;
    const char *const m_saveTitle;
    const char *const m_fileName;
};
