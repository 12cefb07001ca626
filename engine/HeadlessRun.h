// SPDX-License-Identifier: MIT
#pragma once

#include "engine/FatalErrorReporter.h"
#include "engine/LinkOutput.h"
#include "engine/RunFigures.h"
#include "engine/Settings.h"
#include "engine/TerminationSignals.h"
#include "engine/Tick.h"

#include <QObject>
#include <QTimer>

#include <cstdio>
#include <memory>

class JsonRecords;
class LinkEngine;

// A run without a window, for a far end or a CI job: the same engine sends, receives, echoes,
// measures and writes its files. Standard output, unless a file option took it, gets one line
// of figures per interval and a summary at the end, in ASCII columns.
//
// It ends after the duration, at SIGINT or SIGTERM, or when the link fails; each way writes the
// last intervals, the end record and the summary. A failure also gives one line on stderr and
// exit status 1.
class HeadlessRun : public QObject, private LinkOutput, private FatalErrorReporter
{
    Q_OBJECT

public:
    // Needs a QCoreApplication, and no display.
    HeadlessRun(TickSource tick, const Settings &settings, QObject *parent = nullptr);
    ~HeadlessRun() override;

    // Opens the link and runs the event loop until the run ends; returns the exit status.
    int exec();

private:
    // The lines go to the log files alone.
    void append(Log, QByteArrayView) override { }
    // Called from deep inside the failing handler: the run ends once that has returned.
    void report(int errorNumber, const QString &description) override;

    void printIntervals();
    void finish(RunEnd end);
    void print(const QByteArray &text) const;

    const Settings m_settings;
    // First, so that a signal during the start already ends the run the ordinary way.
    TerminationSignals m_signals;
    LinkEngine *const m_engine;
    RunReader m_reader;
    std::unique_ptr<JsonRecords> m_json;
    QTimer m_duration;
    // Null when a file option took standard output.
    std::FILE *const m_report;
    bool m_finished = false;
};
