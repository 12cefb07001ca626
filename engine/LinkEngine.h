// SPDX-License-Identifier: MIT
#pragma once

#include "engine/DatagramTap.h"
#include "engine/LinkMeasure.h"
#include "engine/LinkOutput.h"
#include "engine/LinkStatistics.h"
#include "engine/Settings.h"
#include "engine/Tick.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

class FatalErrorReporter;
class FileLog;
class HostLookup;
class StreamMeter;
class Timer;
class UdpEndpoint;
struct Arrival;
struct SendResult;
struct SocketError;

// The link itself, whatever shows it: the socket, the send timer, the pattern counter, the
// figures and the log files. A tick and an arrival are handled here in the one fixed order;
// each line goes to the output and to its file. Front ends connect the timer's tick and the
// endpoint's arrivals to sendTick() and receive(), the window through its own handlers.
class LinkEngine : public QObject
{
    Q_OBJECT

public:
    // A null lookup means the system's resolver.
    LinkEngine(TickSource tick, FatalErrorReporter &reporter, LinkOutput &output,
        const Settings &settings, std::unique_ptr<HostLookup> lookup = {},
        QObject *parent = nullptr);
    ~LinkEngine() override;

    Timer &timer() const { return *m_timer; }
    UdpEndpoint &endpoint() const { return *m_endpoint; }
    const Settings &settings() const { return m_settings; }
    DatagramTap &tap() { return m_tap; }

    // Binds the socket and makes the peer ready; a failure is reported, and false returned.
    bool open();
    // Stops the sender and closes the socket; nothing is reported after it.
    void close();
    // Closes the interval under way as a shorter one, so that the records cover the run up to
    // now, as at its end.
    void finishIntervals();

    bool isSending() const;
    void setSending(bool sending);
    void setPeriod(int milliseconds);
    void setDumping(bool dumping) { m_dumping = dumping; }

    // One period of the sender: build the payload, advance the counter, send, log.
    void sendTick();
    // One datagram of bytesTotal bytes waits at the endpoint: log it, read it, count it.
    void receive(qint32 bytesTotal);

    void resetStatistics();
    const LinkStatistics &statistics() const { return m_statistics; }
    const LinkMeasure &measure() const { return m_measure; }
    // The stream the figures are shown for: the peer's, or else the one heard most; null
    // before any test datagram arrived.
    const StreamMeter *shownStream() const;
    qint16 patternCounter() const { return m_patternCounter; }
    quint32 now() const { return m_tick(); }

    // Silences the link, writes out the log files and hands the error to the reporter, which
    // may end the program.
    void fatal(const SocketError &error);

signals:
    // A log file was given up; the run goes on without it. The line says which and why.
    void fileLogStopped(const QString &line);
    // One or more interval records were added to measure().records().
    void intervalsClosed();
    // The figures and records start again from nothing.
    void statisticsReset();
    // The link is about to close; its figures can still be read.
    void aboutToClose();
    // The link failed for good and is silenced; the reporter is told next, and may end the
    // program, so this is the last moment to write anything down.
    void failed(const SocketError &error);

private:
    // A log and its file: every line shown goes to both, and the file may be given up alone.
    struct Channel
    {
        LinkOutput::Log log;
        const char *name;
        FileLog *file = nullptr;
    };

    void openFile(Channel &channel, const QString &path);
    void append(Channel &channel, QByteArrayView text);
    void dump(QByteArrayView payload);
    void measurePeriod();
    // A send or an arrival closes the intervals that ended before it. The interval timer is
    // there for a link gone quiet: it is due a little after the next send would be, so a
    // steady sender closes every interval itself and the program wakes for nothing else, and
    // it stops once an interval passes with nothing sent or heard.
    void linkActive();
    void armIntervalTimer();
    void closeIntervals();
    void tellNewRecords();
    // Sends a received datagram back to its sender when it may be; nothing when it may not.
    std::optional<SendResult> echo(const QByteArray &payload, const Arrival &arrival);
    void countEcho(const SendResult &echoed, qsizetype bytes);

    const Settings m_settings;
    const TickSource m_tick;
    FatalErrorReporter &m_reporter;
    LinkOutput &m_output;
    Timer *const m_timer;
    UdpEndpoint *const m_endpoint;
    DatagramTap m_tap;
    qint16 m_patternCounter = 0;
    int m_period = 0;
    bool m_dumping = false;
    bool m_closed = false;
    bool m_activeInInterval = false;
    // The start of the interval the timer was last set for.
    qint64 m_armedStartNs = -1;
    // Records that intervalsClosed() has announced.
    qint64 m_recordsTold = 0;
    LinkStatistics m_statistics;
    LinkMeasure m_measure;
    QTimer m_intervalTimer;
    Channel m_status;
    Channel m_dump;
};
