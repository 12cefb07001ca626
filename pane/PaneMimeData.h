// SPDX-License-Identifier: MIT
#pragma once

#include <QMimeData>
#include <QPointer>

class LogPane;

// A pane's selection offered as plain text that is read from the pane only when a program
// asks for it, so that offering a large selection costs nothing until someone pastes it.
class PaneMimeData : public QMimeData
{
    Q_OBJECT

public:
    PaneMimeData(const LogPane &pane, qint64 from, qint64 to);

    QStringList formats() const override;
    bool hasFormat(const QString &mimeType) const override;

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override;

private:
    const QPointer<const LogPane> m_pane;
    const qint64 m_from;
    const qint64 m_to;
    // The text the positions belong to; after the pane is cleared they name other text.
    const quint64 m_generation;
};
