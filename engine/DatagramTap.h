// SPDX-License-Identifier: MIT
#pragma once

#include "engine/DatagramRecord.h"
#include "engine/Settings.h"

#include <QObject>

#include <vector>

class DatagramRing;
class FileLog;
class UdpEndpoint;

// Where the engine hands every datagram sent and received whole, with its addresses and time:
// the datagram list's ring, while there is one, and the capture file of --capture. Each costs a
// copy into memory per datagram; with neither, nothing at all is done.
class DatagramTap : public QObject
{
    Q_OBJECT

public:
    DatagramTap(const UdpEndpoint &endpoint, const Settings &settings, QObject *parent = nullptr);
    ~DatagramTap() override;

    // The ring that records from now on, or null.
    void setRing(DatagramRing *ring) { m_ring = ring; }
    DatagramRing *ring() const { return m_ring; }

    // A datagram handed to the system at `at`, to the endpoint's peer.
    void sent(QByteArrayView payload, MonotonicTime at);
    // The datagram the endpoint is notifying.
    void received(QByteArrayView payload, const Arrival &arrival);
    // Writes out what the capture file still holds and closes it.
    void closeCapture();

signals:
    // The capture file was given up; the line says which and why.
    void captureStopped(const QString &line);

private:
    void record(const DatagramRecord &record);
    qint64 wallNs(MonotonicTime at);
    // The local address sends leave from: the bound one, or under a wildcard bind the one the
    // system routes to the peer by.
    const SocketAddress &sendSource();

    const UdpEndpoint &m_endpoint;
    const Settings m_settings;
    DatagramRing *m_ring = nullptr;
    FileLog *m_capture = nullptr;
    std::vector<char> m_packed;
    // The wall clock's lead over the monotonic one, taken again after a while so that a clock
    // set meanwhile is followed.
    qint64 m_clockOffset = 0;
    qint64 m_offsetTakenAt = 0;
    bool m_offsetTaken = false;
    SocketAddress m_sourcePeer;
    SocketAddress m_source;
    bool m_sourceKnown = false;
};
