// SPDX-License-Identifier: MIT
#include "engine/JsonRecords.h"

#include "engine/LinkEngine.h"
#include "engine/OutputFile.h"
#include "engine/Settings.h"
#include "log/FileLog.h"
#include "net/SocketError.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>

#include <chrono>
#include <unistd.h>

namespace {

constexpr char kVersion[] = QUILLON_VERSION;
constexpr char kNull[] = "null";
constexpr double kNsPerMs = 1e6;
constexpr double kNsPerSecond = 1e9;
// Microseconds: finer than the histograms' 0.4 % for anything above a quarter millisecond.
constexpr int kMsDecimals = 3;
constexpr int kSecondDecimals = 3;

QByteArray quoted(const QString &text)
{
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20)
                out += "\\u00"
                    + QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0');
            else
                out += c;
        }
    }
    return out + '"';
}

QByteArray integer(qint64 n)
{
    return QByteArray::number(n);
}

// kNone, the mark of a figure that had no samples, is null.
QByteArray milliseconds(qint64 ns)
{
    return ns == IntervalRecord::kNone
        ? QByteArray(kNull)
        : QByteArray::number(double(ns) / kNsPerMs, 'f', kMsDecimals);
}

QByteArray seconds(qint64 ns)
{
    return QByteArray::number(double(ns) / kNsPerSecond, 'f', kSecondDecimals);
}

QByteArray utcTime(qint64 wallMs)
{
    // Qt's ISO form writes UTC as +00:00; Z is what RFC 3339 readers expect most.
    return quoted(QDateTime::fromMSecsSinceEpoch(wallMs, QTimeZone::utc())
                      .toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz'Z'")));
}

// One JSON object, its fields in the order they are added.
class Object
{
public:
    Object &field(const char *name, const QByteArray &json)
    {
        if (m_text.size() > 1)
            m_text += ',';
        m_text += '"';
        m_text += name;
        m_text += "\":";
        m_text += json;
        return *this;
    }
    QByteArray text() const { return m_text + '}'; }

private:
    QByteArray m_text = "{";
};

QByteArray stream(const IntervalRecord &r)
{
    const QByteArray rtt = Object()
                               .field("min", milliseconds(r.rttMinNs))
                               .field("median", milliseconds(r.rttMedianNs))
                               .field("p99", milliseconds(r.rttP99Ns))
                               .field("max", milliseconds(r.rttMaxNs))
                               .field("samples", integer(r.rttSamples))
                               .text();
    const QByteArray ipdv = Object()
                                .field("median", milliseconds(r.ipdvMedianNs))
                                .field("p99", milliseconds(r.ipdvP99Ns))
                                .field("max", milliseconds(r.ipdvMaxNs))
                                .text();
    // No outage, no longest one; the time down is then truly 0.
    const QByteArray outages
        = Object()
              .field("count", integer(r.outages))
              .field("longest_ms",
                  milliseconds(r.outages > 0 ? r.longestOutageNs : IntervalRecord::kNone))
              .field("down_ms", milliseconds(r.downNs))
              .text();
    return Object()
        .field("source", quoted(r.stream.toString()))
        .field("received", integer(r.datagrams))
        .field("bytes", integer(r.bytes))
        .field("in_order", integer(r.inOrder))
        .field("lost", integer(r.lost))
        .field("out_of_order", integer(r.outOfOrder))
        .field("duplicates", integer(r.duplicates))
        .field("rtt_ms", rtt)
        .field("jitter_ms", milliseconds(r.jitterNs))
        .field("ipdv_ms", ipdv)
        .field("outages", outages)
        .text();
}

// The fields an interval and the end have in common, after their own.
Object &figures(Object &object, const RunFigures &f)
{
    QByteArray streams = "[";
    for (const IntervalRecord &r : f.streams) {
        if (streams.size() > 1)
            streams += ',';
        streams += stream(r);
    }
    streams += ']';
    return object.field("sent", integer(f.sent))
        .field("echoed", integer(f.echoed))
        .field("dropped", integer(f.dropped))
        .field("echo_dropped", integer(f.echoDropped))
        .field("streams", streams);
}

QByteArray startLine(const Settings &settings, qint64 wallMs)
{
    return Object()
        .field("event", "\"start\"")
        .field("time", utcTime(wallMs))
        .field("version", quoted(QLatin1String(kVersion)))
        .field("bind", quoted(settings.localEndpointText()))
        .field("peer", quoted(settings.peerEndpointText()))
        .field("period_ms", integer(settings.period))
        .field("interval_s", QByteArray::number(double(settings.intervalMs) / 1000, 'g', 6))
        .field("echo", settings.echo ? "true" : "false")
        .text();
}

QByteArray intervalLine(const RunFigures &interval)
{
    Object line;
    line.field("event", "\"interval\"")
        .field("time", utcTime(interval.endWallMs))
        .field("elapsed_s", seconds(interval.elapsedNs));
    return figures(line, interval).text();
}

QByteArray endLine(const RunFigures &run, RunEnd end, const std::optional<SocketError> &error)
{
    Object line;
    line.field("event", "\"end\"")
        .field("time", utcTime(run.endWallMs))
        .field("elapsed_s", seconds(run.elapsedNs))
        .field("reason", quoted(QLatin1String(runEndName(end))));
    if (error) {
        QString message = error->description;
        message.replace(QLatin1String("\n\n"), QLatin1String(" "));
        line.field("error",
            Object()
                .field("code", integer(error->code))
                .field("kind",
                    error->kind == SocketError::Kind::Resolver ? "\"resolver\"" : "\"system\"")
                .field("message", quoted(message))
                .text());
    }
    return figures(line, run).text();
}

} // namespace

JsonRecords::JsonRecords(LinkEngine &engine, const QString &file, QObject *parent)
    : QObject(parent)
    , m_engine(engine)
    , m_reader(engine.measure())
{
    // Standard output is the shell's to empty or append to.
    if (!Settings::isStandardOutput(file)) {
        // Nothing there yet, or not a plain file (a FIFO for tail): FileLog says what fails.
        [[maybe_unused]] const int emptied = ::truncate(QFile::encodeName(file).constData(), 0);
    }
    m_file = std::make_unique<FileLog>(OutputFile::path(file));
    connect(&engine, &LinkEngine::intervalsClosed, this, &JsonRecords::writeIntervals);
    connect(&engine, &LinkEngine::statisticsReset, this, [this] {
        m_reader.restart();
        start();
    });
    connect(&engine, &LinkEngine::aboutToClose, this, [this] { finish(RunEnd::Closed); });
    connect(&engine, &LinkEngine::failed, this, [this](const SocketError &error) {
        m_error = error;
        finish(RunEnd::Error);
    });
    start();
}

JsonRecords::~JsonRecords() = default;

void JsonRecords::start()
{
    // When the measure started, on the clock its intervals are cut by, so that the first
    // interval ends one interval after the start.
    const std::chrono::nanoseconds now = std::chrono::steady_clock::now().time_since_epoch();
    const qint64 sinceStartNs = now.count() - m_engine.measure().intervalStartNs();
    write(startLine(m_engine.settings(),
        QDateTime::currentMSecsSinceEpoch() - qint64(double(sinceStartNs) / kNsPerMs)));
}

void JsonRecords::writeIntervals()
{
    for (const RunFigures &interval : m_reader.take())
        write(intervalLine(interval));
}

void JsonRecords::finish(RunEnd end)
{
    if (m_finished)
        return;
    m_engine.finishIntervals();
    writeIntervals();
    m_finished = true;
    write(endLine(m_reader.total(QDateTime::currentMSecsSinceEpoch()), end, m_error));
    // Written out and synced now: a failing window ends the program inside its report.
    m_file.reset();
}

void JsonRecords::write(const QByteArray &line)
{
    if (m_file)
        m_file->write(line + '\n');
}
