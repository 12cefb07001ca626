// SPDX-License-Identifier: MIT
#include "app/SaveDialog.h"

#include "app/Captions.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QSaveFile>

void saveWithDialog(QWidget *parent, QString title, const QString &fileName, const QString &filter,
    const std::function<bool(QFileDevice &file, QString &reason)> &write)
{
    title.remove(QLatin1String("..."));
    const QString path = QFileDialog::getSaveFileName(parent, title, fileName, filter);
    if (path.isEmpty())
        return;
    // Each step is named, since the system's text alone misleads: a temporary file that cannot
    // be made in /proc reads as "No such file or directory".
    QSaveFile file(path);
    const char *step = Captions::kSaveStepOpen;
    QString reason;
    if (file.open(QIODevice::WriteOnly)) {
        step = Captions::kSaveStepWrite;
        if (write(file, reason)) {
            step = Captions::kSaveStepCommit;
            if (file.commit())
                return;
        }
    }
    if (reason.isEmpty())
        reason = file.errorString();
    file.cancelWriting();
    QMessageBox::warning(parent, title,
        QString::fromUtf8(Captions::kSaveFailed).arg(path, QString::fromUtf8(step), reason));
}
