// SPDX-License-Identifier: MIT
#include "engine/HeadlessRun.h"

#include "engine/JsonRecords.h"
#include "engine/LinkEngine.h"
#include "engine/Timer.h"
#include "net/HostLookup.h"
#include "net/UdpEndpoint.h"

#include <QCoreApplication>
#include <QDateTime>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr char kVersion[] = QUILLON_VERSION;
constexpr double kNsPerMs = 1e6;
constexpr double kNsPerSecond = 1e9;
constexpr char kColumns[] = "%-17s %9s %9s %7s %12s %10s %10s %10s %10s %10s\n";
constexpr char kRule[] = "- - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - "
                         "- - - - - - - - - - - - - - - -\n";

template <typename... Values> QByteArray format(const char *pattern, Values... values)
{
    QByteArray text(std::snprintf(nullptr, 0, pattern, values...), Qt::Uninitialized);
    std::snprintf(text.data(), size_t(text.size()) + 1, pattern, values...);
    return text;
}

QByteArray milliseconds(qint64 ns)
{
    return ns == IntervalRecord::kNone ? QByteArray("-") : format("%.3f", double(ns) / kNsPerMs);
}

// The stream the round-trip time and jitter are shown for: the one with the most round trips,
// else the one heard most.
const IntervalRecord *mainStream(const RunFigures &figures)
{
    const IntervalRecord *main = nullptr;
    for (const IntervalRecord &stream : figures.streams) {
        if (!main
            || std::pair(stream.rttSamples, stream.datagrams)
                > std::pair(main->rttSamples, main->datagrams))
            main = &stream;
    }
    return main;
}

QByteArray row(const RunFigures &figures)
{
    qint64 received = 0;
    qint64 lost = 0;
    qint64 outOfOrder = 0;
    qint64 duplicates = 0;
    for (const IntervalRecord &stream : figures.streams) {
        received += stream.datagrams;
        lost += stream.lost;
        outOfOrder += stream.outOfOrder;
        duplicates += stream.duplicates;
    }
    const IntervalRecord *const main = mainStream(figures);
    const double startS = double(figures.elapsedNs - figures.lengthNs) / kNsPerSecond;
    const double endS = double(figures.elapsedNs) / kNsPerSecond;
    const double rate
        = figures.lengthNs > 0 ? double(received) * kNsPerSecond / double(figures.lengthNs) : 0;
    return format(kColumns, format("%.2f-%.2f", startS, endS).constData(),
        QByteArray::number(figures.sent).constData(), QByteArray::number(received).constData(),
        QByteArray::number(lost).constData(), QByteArray::number(outOfOrder).constData(),
        QByteArray::number(duplicates).constData(), format("%.1f", rate).constData(),
        milliseconds(main ? main->rttMedianNs : IntervalRecord::kNone).constData(),
        milliseconds(main ? main->rttP99Ns : IntervalRecord::kNone).constData(),
        milliseconds(main ? main->jitterNs : IntervalRecord::kNone).constData());
}

QByteArray streamSummary(const IntervalRecord &s)
{
    QByteArray line = format("%s: received %lld (%lld B), in order %lld, lost %lld, out of order "
                             "%lld, duplicates %lld",
        qPrintable(s.stream.toString()), qlonglong(s.datagrams), qlonglong(s.bytes),
        qlonglong(s.inOrder), qlonglong(s.lost), qlonglong(s.outOfOrder), qlonglong(s.duplicates));
    if (s.rttSamples > 0)
        line += format(", rtt min/median/p99/max %s/%s/%s/%s ms (%lld)",
            milliseconds(s.rttMinNs).constData(), milliseconds(s.rttMedianNs).constData(),
            milliseconds(s.rttP99Ns).constData(), milliseconds(s.rttMaxNs).constData(),
            qlonglong(s.rttSamples));
    if (s.jitterNs != IntervalRecord::kNone)
        line += format(", jitter %s ms", milliseconds(s.jitterNs).constData());
    if (s.outages > 0)
        line += format(", outages %u, longest %s ms, down %s ms", s.outages,
            milliseconds(s.longestOutageNs).constData(), milliseconds(s.downNs).constData());
    return line + '\n';
}

bool claimsStandardOutput(const Settings &settings)
{
    return Settings::isStandardOutput(settings.statusLogFile)
        || Settings::isStandardOutput(settings.dumpLogFile)
        || Settings::isStandardOutput(settings.jsonFile);
}

} // namespace

HeadlessRun::HeadlessRun(TickSource tick, const Settings &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_engine(new LinkEngine(std::move(tick), *this, *this, settings, {}, this))
    , m_reader(m_engine->measure())
    , m_report(claimsStandardOutput(settings) ? nullptr : stdout)
{
    // Before the link opens, so that a failure to bind has a start record to end.
    if (!settings.jsonFile.isEmpty())
        m_json = std::make_unique<JsonRecords>(*m_engine, settings.jsonFile);
    connect(&m_engine->timer(), &Timer::tick, m_engine, &LinkEngine::sendTick);
    connect(&m_engine->endpoint(), &UdpEndpoint::dataArrival, m_engine, &LinkEngine::receive);
    connect(m_engine, &LinkEngine::intervalsClosed, this, &HeadlessRun::printIntervals);
    connect(&m_signals, &TerminationSignals::received, this, [this] { finish(RunEnd::Signal); });
    m_duration.setSingleShot(true);
    m_duration.setTimerType(Qt::PreciseTimer);
    connect(&m_duration, &QTimer::timeout, this, [this] { finish(RunEnd::Duration); });
}

HeadlessRun::~HeadlessRun() = default;

int HeadlessRun::exec()
{
    const QByteArray sending = m_settings.sendAtStart
        ? format("sending every %d ms", m_settings.period)
        : QByteArray("not sending");
    print(format("quillon %s  %s -> %s  %s  interval %s s  echo %s\n", kVersion,
        qPrintable(m_settings.localEndpointText()), qPrintable(m_settings.peerEndpointText()),
        sending.constData(),
        QByteArray::number(double(m_settings.intervalMs) / 1000, 'g', 6).constData(),
        m_settings.echo ? "on" : "off"));
    print(format(kColumns, "seconds", "sent", "received", "lost", "out of order", "duplicates",
        "received/s", "rtt med ms", "rtt p99 ms", "jitter ms"));
    if (m_engine->open()) {
        // No box to check here: asking for the dump's file asks for the dump.
        m_engine->setDumping(m_settings.dumpAtStart || !m_settings.dumpLogFile.isEmpty());
        m_engine->setPeriod(m_settings.period);
        m_engine->setSending(m_settings.sendAtStart);
        if (m_settings.durationMs > 0)
            m_duration.start(m_settings.durationMs);
    }
    return QCoreApplication::exec();
}

void HeadlessRun::report(int errorNumber, const QString &description)
{
    QString line = fatalErrorText(errorNumber, description);
    line.replace(QLatin1String("\n\n"), QLatin1String(" "))
        .replace(QLatin1Char('\n'), QLatin1Char(' '));
    std::fprintf(stderr, "%s: %s\n", qUtf8Printable(QCoreApplication::applicationName()),
        qUtf8Printable(line));
    std::fflush(stderr);
    QMetaObject::invokeMethod(
        this, [this] { finish(RunEnd::Error); }, Qt::QueuedConnection);
}

void HeadlessRun::printIntervals()
{
    for (const RunFigures &interval : m_reader.take())
        print(row(interval));
}

void HeadlessRun::finish(RunEnd end)
{
    if (m_finished)
        return;
    m_finished = true;
    m_duration.stop();
    if (m_json)
        m_json->finish(end);
    else
        m_engine->finishIntervals();
    const RunFigures run = m_reader.total(QDateTime::currentMSecsSinceEpoch());
    print(kRule);
    print(row(run).trimmed() + "  whole run\n");
    print(format("sent %lld (echoed %lld), dropped %lld (echoes %lld)\n", qlonglong(run.sent),
        qlonglong(run.echoed), qlonglong(run.dropped), qlonglong(run.echoDropped)));
    for (const IntervalRecord &stream : run.streams)
        print(streamSummary(stream));
    print(format("end: %s\n", runEndName(end)));
    m_engine->close();
    QCoreApplication::exit(end == RunEnd::Error ? EXIT_FAILURE : EXIT_SUCCESS);
}

void HeadlessRun::print(const QByteArray &text) const
{
    if (!m_report)
        return;
    // Flushed at once, so that a pipe shows each interval as it closes.
    std::fwrite(text.constData(), 1, size_t(text.size()), m_report);
    std::fflush(m_report);
}
