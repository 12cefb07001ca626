// SPDX-License-Identifier: MIT
#pragma once

#include "engine/EngineCaptions.h"
#include "net/Multicast.h"

#include <QHostAddress>
#include <QString>

// What one run of the tool is set to. Every member starts at the tool's fixed value, so a run
// without options is exactly the tool as it always was; only the command line changes them.
struct Settings
{
    static constexpr quint16 kDefaultLocalPort = 20320;
    static constexpr quint16 kDefaultRemotePort = 20319;
    static constexpr char kDefaultRemoteHost[] = "localhost";
    static constexpr int kDefaultPeriod = 500;
    // The slider's range, and what --period takes; 0 sends nothing.
    static constexpr int kMinPeriod = 0;
    static constexpr int kMaxPeriod = 1000;
    // The link's figures are recorded once an interval.
    static constexpr int kDefaultIntervalMs = 1000;
    static constexpr int kMinIntervalMs = 100;
    static constexpr int kMaxIntervalMs = 60000;
    // Per pane, text and index together: about ten million status lines.
    static constexpr qint64 kDefaultPaneBudget = qint64(256) * 1024 * 1024;
    // The datagram list's records: about 1.6 million 16-byte datagrams.
    static constexpr qint64 kDefaultCaptureBudget = qint64(64) * 1024 * 1024;

    // Any: every local address, IPv4 and IPv6 alike.
    QHostAddress bindAddress = QHostAddress(QHostAddress::Any);
    quint16 bindPort = kDefaultLocalPort;
    QString peerHost = QString::fromLatin1(kDefaultRemoteHost);
    quint16 peerPort = kDefaultRemotePort;
    int period = kDefaultPeriod;
    // Start sending at once, as a click on the send button would.
    bool sendAtStart = false;
    bool dumpAtStart = false;
    // Empty: no file. Every line logged to a pane is also appended there.
    QString statusLogFile;
    QString dumpLogFile;
    // Bytes per pane; 0 means no limit.
    qint64 paneBudget = kDefaultPaneBudget;
    int intervalMs = kDefaultIntervalMs;
    // Open the graph window at start, as 表示 → グラフ would.
    bool graphAtStart = false;

    // A group bound (joined) or sent to: the interface, the hop limit of what is sent, and for
    // a source-specific join its one sender.
    GroupOptions group;
    // "グループ 239.1.2.3:20320（インターフェース eth0）": how the title and messages name a
    // group, given as its endpoint text; the source is named only where the group is joined.
    QString groupText(const QString &endpoint, bool joined) const
    {
        const QString interface = group.interfaceName.isEmpty()
            ? QString::fromUtf8(EngineCaptions::kDefaultInterface)
            : QString::fromUtf8(EngineCaptions::kInterface).arg(group.interfaceName);
        if (joined && !group.source.isNull())
            return QString::fromUtf8(EngineCaptions::kSourceGroup)
                .arg(endpoint, interface, group.source.toString());
        return QString::fromUtf8(EngineCaptions::kGroup).arg(endpoint, interface);
    }

    // A run without a window, what it records, and the echo.
    // "-" as a file: standard output, which only one of them may have.
    static constexpr char kStandardOutput[] = "-";
    // A week, within what a timer takes in milliseconds.
    static constexpr int kMaxDurationMs = 7 * 24 * 3600 * 1000;
    bool headless = false;
    // 0 runs until stopped.
    int durationMs = 0;
    // One JSON object a line for the start, each interval and the end; empty: none.
    QString jsonFile;
    // Every datagram from the peer's host goes back to where it came from.
    bool echo = false;

    static bool isStandardOutput(const QString &file)
    {
        return file == QLatin1String(kStandardOutput);
    }
    // The datagram list: open at start, and the bytes its records may take.
    bool listAtStart = false;
    qint64 captureBudget = kDefaultCaptureBudget;
    // Empty: no capture. Every datagram sent and received is also written there, as pcap.
    QString captureFile;

    // "*:20320", "127.0.0.1:20320", "[::1]:20320": how titles and messages name the endpoints.
    QString localEndpointText() const
    {
        const QString address = bindAddress == QHostAddress(QHostAddress::Any)
            ? QStringLiteral("*")
            : bindAddress.toString();
        return endpointText(address, bindPort);
    }
    QString peerEndpointText() const { return endpointText(peerHost, peerPort); }
    static QString endpointText(const QString &host, quint16 port)
    {
        const QString shown
            = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
        return shown + QLatin1Char(':') + QString::number(port);
    }

    // True when both endpoints are the tool's fixed ones.
    bool endpointsAreDefault() const
    {
        return bindAddress == QHostAddress(QHostAddress::Any) && bindPort == kDefaultLocalPort
            && peerHost == QLatin1String(kDefaultRemoteHost) && peerPort == kDefaultRemotePort;
    }
};
