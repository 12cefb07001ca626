// SPDX-License-Identifier: MIT
#pragma once

#include "engine/LinkOutput.h"
#include "engine/LinkStatistics.h"
#include "engine/Settings.h"
#include "engine/Tick.h"

#include <QObject>

#include <memory>

class FatalErrorReporter;
class FileLog;
class HostLookup;
class Timer;
class UdpEndpoint;
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

    // Binds the socket and makes the peer ready; a failure is reported, and false returned.
    bool open();
    // Stops the sender and closes the socket; nothing is reported after it.
    void close();

    bool isSending() const;
    void setSending(bool sending);
    void setPeriod(int milliseconds);
    void setDumping(bool dumping) { m_dumping = dumping; }

    // One period of the sender: build the payload, advance the counter, send, log.
    void sendTick();
    // One datagram of bytesTotal bytes waits at the endpoint: log it, read it, count it.
    void receive(qint32 bytesTotal);

    void resetStatistics() { m_statistics.reset(); }
    const LinkStatistics &statistics() const { return m_statistics; }
    qint16 patternCounter() const { return m_patternCounter; }
    quint32 now() const { return m_tick(); }

    // Silences the link, writes out the log files and hands the error to the reporter, which
    // may end the program.
    void fatal(const SocketError &error);

signals:
    // A log file was given up; the run goes on without it. The line says which and why.
    void fileLogStopped(const QString &line);

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

    const Settings m_settings;
    const TickSource m_tick;
    FatalErrorReporter &m_reporter;
    LinkOutput &m_output;
    Timer *const m_timer;
    UdpEndpoint *const m_endpoint;
    qint16 m_patternCounter = 0;
    bool m_dumping = false;
    bool m_closed = false;
    LinkStatistics m_statistics;
    Channel m_status;
    Channel m_dump;
};
