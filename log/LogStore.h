// SPDX-License-Identifier: MIT
#pragma once

#include "log/LogText.h"
#include "log/Throttle.h"

#include <QObject>

// A log's text as its views share it: one store, any number of views, each with its own view
// position, caret and selection. An append costs the same however many views there are: it
// adds the text and, at most once a frame, tells the views, which catch up with whatever
// arrived since. A clear is told at once, since every position a view holds names other text
// after it.
class LogStore : public QObject
{
    Q_OBJECT

public:
    explicit LogStore(qint64 budget = LogText::kNoLimit, QObject *parent = nullptr);

    const LogText &text() const { return m_text; }
    void append(QByteArrayView text);
    // The same as append(Common::HexDump(payload)), formatted straight into the text.
    void appendHexDump(QByteArrayView payload);
    void clear();

signals:
    // Text arrived since the last time, and perhaps older text was let go.
    void appended();
    void cleared();

private:
    LogText m_text;
    void added();

    // Turns a burst of appends into one notice a frame.
    Throttle m_notice;
};
