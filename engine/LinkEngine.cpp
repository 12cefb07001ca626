// SPDX-License-Identifier: MIT
#include "engine/LinkEngine.h"

#include "engine/EngineCaptions.h"
#include "engine/FatalErrorReporter.h"
#include "engine/OutputFile.h"
#include "engine/Timer.h"
#include "log/Common.h"
#include "log/FileLog.h"
#include "log/StatusLine.h"
#include "net/TestPattern.h"
#include "net/UdpEndpoint.h"

#include <QDateTime>

#include <cerrno>
#include <chrono>
#include <utility>

namespace {

constexpr char kLineEnd[] = "\r\n";

QString caption(const char *text)
{
    return QString::fromUtf8(text);
}

// The message names the host and says whose number it shows, since a resolver's code would
// read as an unrelated errno.
SocketError peerLookupError(const QString &host, SocketError error)
{
    const char *const text = error.kind == SocketError::Kind::Resolver
        ? EngineCaptions::kPeerLookupFailed
        : EngineCaptions::kPeerUnreachable;
    error.description = caption(text).arg(host, error.description);
    return error;
}

qint64 nanoseconds(MonotonicTime time)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

qint64 monotonicNow()
{
    return nanoseconds(std::chrono::steady_clock::now());
}

qint64 wallNow()
{
    return QDateTime::currentMSecsSinceEpoch();
}

StreamKey streamOf(const SocketAddress &address)
{
    if (address.isIPv4()) {
        const auto &b = address.bytes;
        return StreamKey::ipv4(
            quint32(b[12]) << 24 | quint32(b[13]) << 16 | quint32(b[14]) << 8 | b[15],
            address.port);
    }
    return StreamKey::ipv6(address.bytes, address.port);
}

constexpr qint64 kNanosecondsPerMillisecond = 1'000'000;
// How late a send may be and still close an interval before the timer would.
constexpr qint64 kIntervalGraceMs = 50;

} // namespace

LinkEngine::LinkEngine(TickSource tick, FatalErrorReporter &reporter, LinkOutput &output,
    const Settings &settings, std::unique_ptr<HostLookup> lookup, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_tick(std::move(tick))
    , m_reporter(reporter)
    , m_output(output)
    , m_timer(new Timer(this))
    , m_endpoint(new UdpEndpoint(std::move(lookup), this))
    , m_tap(*m_endpoint, m_settings)
    , m_measure(monotonicNow(), wallNow())
    , m_status { LinkOutput::Log::Status, EngineCaptions::kStatusLogName }
    , m_dump { LinkOutput::Log::Dump, EngineCaptions::kDumpLogName }
{
    m_measure.setInterval(qint64(m_settings.intervalMs) * kNanosecondsPerMillisecond);
    // A length set takes effect from the next interval: the run starts again so that its first
    // one has it too.
    m_measure.restart(monotonicNow(), wallNow());
    m_intervalTimer.setSingleShot(true);
    connect(&m_intervalTimer, &QTimer::timeout, this, &LinkEngine::closeIntervals);
    m_timer->setObjectName(QStringLiteral("tmr1"));
    m_endpoint->setObjectName(QStringLiteral("wskClient"));
    connect(m_endpoint, &UdpEndpoint::receiveFailed, this, &LinkEngine::fatal);
    connect(m_endpoint, &UdpEndpoint::peerLookupFailed, this,
        [this](const SocketError &error) { fatal(peerLookupError(m_settings.peerHost, error)); });
    openFile(m_status, m_settings.statusLogFile);
    openFile(m_dump, m_settings.dumpLogFile);
    connect(&m_tap, &DatagramTap::captureStopped, this, &LinkEngine::fileLogStopped);
}

LinkEngine::~LinkEngine()
{
    close();
}

bool LinkEngine::open()
{
    m_endpoint->setRemoteHost(m_settings.peerHost);
    m_endpoint->setRemotePort(m_settings.peerPort);
    m_endpoint->setGroupOptions(m_settings.group);
    SocketResult bound = m_endpoint->bind(m_settings.bindAddress, m_settings.bindPort);
    if (bound)
        return true;
    // The system's text never says which address it refused; most often it is held by a
    // second copy.
    SocketError &error = bound.error();
    const QHostAddress &group = m_endpoint->refusedGroup();
    const bool joined = group == m_settings.bindAddress;
    const QString refused = group.isNull()
        ? caption(EngineCaptions::kBindFailed).arg(m_settings.localEndpointText())
        : caption(EngineCaptions::kGroupRefused)
              .arg(m_settings.groupText(
                  joined ? m_settings.localEndpointText() : m_settings.peerEndpointText(), joined));
    error.description += QLatin1String("\n\n") + refused;
    if (error.code == EADDRINUSE)
        error.description += caption(EngineCaptions::kAddressInUse);
    fatal(error);
    return false;
}

void LinkEngine::close()
{
    if (m_closed)
        return;
    emit aboutToClose();
    m_closed = true;
    m_timer->setEnabled(false);
    m_endpoint->close();
}

bool LinkEngine::isSending() const
{
    return m_timer->enabled();
}

void LinkEngine::setSending(bool sending)
{
    m_timer->setEnabled(sending);
    measurePeriod();
}

void LinkEngine::setPeriod(int milliseconds)
{
    m_period = milliseconds;
    m_timer->setInterval(milliseconds);
    measurePeriod();
}

void LinkEngine::measurePeriod()
{
    // Echoes are told from strays by the period. It stays after 停止, so that the echoes still
    // on their way are measured; echo matching ends by itself 128 periods after a send.
    m_measure.setPeriod(qint64(m_period) * kNanosecondsPerMillisecond);
    if (isSending())
        linkActive();
}

void LinkEngine::resetStatistics()
{
    m_statistics.reset();
    m_measure.restart(monotonicNow(), wallNow());
    m_recordsTold = 0;
    emit statisticsReset();
}

void LinkEngine::finishIntervals()
{
    m_measure.closeNow(monotonicNow(), wallNow());
    tellNewRecords();
}

const StreamMeter *LinkEngine::shownStream() const
{
    const StreamTable &streams = m_measure.streams();
    if (m_endpoint->isPeerReady()) {
        if (const StreamMeter *peer = streams.stream(streamOf(m_endpoint->peer())))
            return peer;
    }
    const StreamMeter *busiest = nullptr;
    for (int i = 0; i < streams.size(); ++i) {
        const StreamMeter &stream = streams.at(i);
        if (!busiest || stream.run().received > busiest->run().received)
            busiest = &stream;
    }
    return busiest;
}

void LinkEngine::linkActive()
{
    m_activeInInterval = true;
    if (m_intervalTimer.isActive() && m_measure.intervalStartNs() == m_armedStartNs)
        return;
    // This event closed an interval: the wall clock is read anew for the records to come.
    m_measure.advance(monotonicNow(), wallNow());
    tellNewRecords();
    armIntervalTimer();
}

void LinkEngine::armIntervalTimer()
{
    m_armedStartNs = m_measure.intervalStartNs();
    const qint64 leftMs
        = (m_measure.intervalEndNs() - monotonicNow() + kNanosecondsPerMillisecond - 1)
        / kNanosecondsPerMillisecond;
    const qint64 nextSendMs = isSending() ? std::min(m_period, m_settings.intervalMs) : 0;
    m_intervalTimer.start(int(std::max<qint64>(0, leftMs) + nextSendMs + kIntervalGraceMs));
}

void LinkEngine::closeIntervals()
{
    m_measure.advance(monotonicNow(), wallNow());
    tellNewRecords();
    const bool active = m_activeInInterval || isSending();
    m_activeInInterval = false;
    if (active)
        armIntervalTimer();
}

void LinkEngine::tellNewRecords()
{
    // A send or an arrival past an interval's end closes it too, often just before the timer
    // would: its records are told here all the same.
    const qint64 appended = m_measure.records().appended();
    if (appended == m_recordsTold)
        return;
    m_recordsTold = appended;
    emit intervalsClosed();
}

void LinkEngine::sendTick()
{
    // Until the peer's name is looked up there is nowhere to send: the first tick after the
    // answer sends the datagram that would have been first.
    if (!m_endpoint->isPeerReady())
        return;
    const qint16 counter = m_patternCounter;
    const QByteArray payload = TestPattern::payload(counter);
    m_patternCounter = TestPattern::advance(m_patternCounter);
    const SendResult sent = m_endpoint->send(payload);
    if (sent.outcome == SendResult::Outcome::Failed) {
        fatal(sent.error);
        return;
    }
    // A full link lost the datagram: the peer sees the gap in the counter, and no Send line
    // claims it left.
    if (sent.outcome == SendResult::Outcome::Dropped) {
        m_statistics.dropped();
        m_measure.dropped(counter, nanoseconds(sent.sentAt));
        linkActive();
        m_output.figuresChanged();
        return;
    }
    m_statistics.sent(payload.size());
    m_measure.sent(counter, payload.size(), nanoseconds(sent.sentAt));
    m_tap.sent(payload, sent.sentAt);
    linkActive();
    m_output.figuresChanged();
    const qint32 tick = tickValue(m_tick());
    append(m_status, statusLine(Direction::Send, payload.size(), tick));
    if (m_dumping)
        dump(payload);
}

void LinkEngine::receive(qint32 bytesTotal)
{
    const quint32 rawTick = m_tick();
    const QByteArray payload = m_endpoint->read();
    const Arrival &arrival = m_endpoint->arrival();
    // Answered before anything else is done with it, so that its turnaround is the echo's own.
    const std::optional<SendResult> echoed
        = m_settings.echo ? echo(payload, arrival) : std::nullopt;
    if (echoed && echoed->outcome == SendResult::Outcome::Failed) {
        fatal(echoed->error);
        return;
    }
    append(m_status, statusLine(Direction::Receive, bytesTotal, tickValue(rawTick)));
    m_statistics.received(payload, rawTick);
    m_measure.received(streamOf(arrival.source), payload, nanoseconds(arrival.receivedAt));
    if (echoed)
        countEcho(*echoed, payload.size());
    m_tap.received(payload, arrival);
    linkActive();
    m_output.figuresChanged();
    if (m_dumping)
        dump(payload);
}

std::optional<SendResult> LinkEngine::echo(const QByteArray &payload, const Arrival &arrival)
{
    // Only the peer's host is answered, so that nobody else can bounce traffic off this one;
    // and never this socket itself, which would answer its own answers for ever.
    if (!m_endpoint->isPeerReady() || arrival.source == arrival.destination)
        return std::nullopt;
    const SocketAddress peer = m_endpoint->peer();
    if (arrival.source.bytes != peer.bytes || arrival.source.scopeId != peer.scopeId)
        return std::nullopt;
    return m_endpoint->sendTo(payload, arrival.source);
}

void LinkEngine::countEcho(const SendResult &echoed, qsizetype bytes)
{
    // The full-link rule of the sender: the answer is lost, counted, and claimed by no line.
    if (echoed.outcome == SendResult::Outcome::Dropped) {
        m_statistics.dropped();
        m_measure.echoDropped(nanoseconds(echoed.sentAt));
        return;
    }
    m_statistics.sent(bytes);
    m_measure.echoed(bytes, nanoseconds(echoed.sentAt));
    append(m_status, statusLine(Direction::Send, qint32(bytes), tickValue(m_tick())));
}

void LinkEngine::append(Channel &channel, QByteArrayView text)
{
    // The output decides what it shows (a pane may hold its view); the file gets every line.
    m_output.append(channel.log, text);
    if (channel.file)
        channel.file->write(text);
}

void LinkEngine::dump(QByteArrayView payload)
{
    // The output formats straight into its store; the file, when there is one, gets the same
    // text formatted once more.
    m_output.appendDump(payload);
    if (m_dump.file)
        m_dump.file->write(Common::HexDump(payload) + kLineEnd);
}

void LinkEngine::openFile(Channel &channel, const QString &path)
{
    if (path.isEmpty())
        return;
    auto *const file = new FileLog(OutputFile::path(path), this);
    channel.file = file;
    connect(file, &FileLog::failed, this,
        [this, &channel, file](const QString &name, const QString &reason) {
            // The run goes on without the file; the front end says so once.
            if (channel.file == file)
                channel.file = nullptr;
            file->deleteLater();
            emit fileLogStopped(
                caption(EngineCaptions::kFileLogStopped).arg(caption(channel.name), name, reason));
        });
}

void LinkEngine::fatal(const SocketError &error)
{
    // Silence everything that could fail again while the report is shown, so one failure is
    // reported once.
    m_timer->setEnabled(false);
    m_endpoint->setNotificationsEnabled(false);
    emit failed(error);
    // The program may end inside the report, past every destructor: what the files have not
    // written yet goes to disk first, since a failed run is when the log matters most.
    for (Channel *channel : { &m_status, &m_dump }) {
        delete channel->file;
        channel->file = nullptr;
    }
    m_tap.closeCapture();
    m_reporter.report(error.code, error.description);
}
