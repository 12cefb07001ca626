// SPDX-License-Identifier: MIT
#pragma once

#include "engine/RunFigures.h"
#include "net/SocketError.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class FileLog;
class LinkEngine;

// A run's records as newline-delimited JSON, one object a line, for jq and the like: a start
// record, one for each interval that saw anything, and an end record with the whole run's
// figures. Each line reaches the file within FileLog's hand-over delay, so that `tail -f` can
// follow the run. Times are UTC in RFC 3339 with milliseconds; a figure with no samples is null.
//
// It follows the engine by itself: an interval is written when it closes, a reset of the
// figures starts the records anew with a start record, and a failure or the close of the link
// ends them. A front end that knows better why the run ends says so with finish() first.
class JsonRecords : public QObject
{
    Q_OBJECT

public:
    // "-" is standard output; a file is emptied first, as it holds one run.
    JsonRecords(LinkEngine &engine, const QString &file, QObject *parent = nullptr);
    ~JsonRecords() override;

    // Writes the intervals up to now and the end record, and closes the file; once.
    void finish(RunEnd end);

private:
    void start();
    void writeIntervals();
    void write(const QByteArray &line);

    LinkEngine &m_engine;
    RunReader m_reader;
    std::unique_ptr<FileLog> m_file;
    std::optional<SocketError> m_error;
    bool m_finished = false;
};
