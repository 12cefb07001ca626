// SPDX-License-Identifier: MIT
#include "app/LogWindow.h"

#include "app/Captions.h"
#include "app/SaveDialog.h"
#include "app/ViewCaptions.h"
#include "pane/LogPane.h"

#include <QFileDevice>
#include <QMenuBar>

namespace {

// Room for a status line of a long run and a screenful of lines.
constexpr QSize kStartSize(640, 480);

QString caption(const char *text)
{
    return QString::fromUtf8(text);
}

} // namespace

LogWindow::LogWindow(std::shared_ptr<LogStore> store, const QString &name, const char *saveTitle,
    const char *fileName, QWidget *parent)
    : QMainWindow(parent, Qt::Window)
    , m_pane(new LogPane(std::move(store), this))
    , m_saveTitle(saveTitle)
    , m_fileName(fileName)
{
    setWindowTitle(caption(ViewCaptions::kWindowTitle).arg(name, caption(Captions::kWindow)));
    m_pane->setAccessibleName(name);
    setCentralWidget(m_pane);
    QMenu *const file = menuBar()->addMenu(caption(Captions::kFileMenu));
    QAction *const saveAction = file->addAction(caption(ViewCaptions::kSaveLog));
    saveAction->setShortcut(QKeySequence::Save);
    connect(saveAction, &QAction::triggered, this, &LogWindow::save);
    QAction *const closeAction = file->addAction(caption(ViewCaptions::kClose));
    closeAction->setShortcut(QKeySequence::Close);
    connect(closeAction, &QAction::triggered, this, &QWidget::close);
    resize(kStartSize);
}

void LogWindow::save()
{
    saveWithDialog(this, caption(m_saveTitle), caption(m_fileName), caption(Captions::kSaveFilter),
        [this](QFileDevice &file, QString &) { return m_pane->save(file); });
}
