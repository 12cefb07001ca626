// SPDX-License-Identifier: MIT
#pragma once

#include "engine/DatagramRecord.h"
#include "log/FileLog.h"

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <functional>
#include <memory>

class QFileDevice;
struct pcap;
struct pcap_dumper;

// Datagrams as a capture that Wireshark and tshark open: a pcap file of raw IP packets
// (LINKTYPE_RAW) with nanosecond times, written by libpcap. Each datagram becomes the packet
// that carried it: an IPv4 or IPv6 header after the remote address's family, a UDP header, and
// valid checksums, so that a reader shows the addresses, ports, times and payloads as recorded.
namespace PcapFile {

// The IP packet of a record, replacing `packet`.
void buildPacket(const DatagramRecord &record, QByteArray &packet);

// libpcap writing to a stream it takes over.
class Writer
{
public:
    explicit Writer(std::FILE *stream);
    ~Writer();
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;

    // False when libpcap could not start the file; then error() says why.
    bool isOpen() const { return m_dumper != nullptr; }
    QString error() const { return m_error; }
    void write(const DatagramRecord &record);
    // Hands everything to the stream's file; false when that failed, with errno set.
    bool flush();

private:
    std::FILE *m_stream;
    pcap *m_dead = nullptr;
    pcap_dumper *m_dumper = nullptr;
    QByteArray m_packet;
    QString m_error;
};

// Writes `count` records, record(i) giving the i-th, to an open file; false with the system's
// reason when it could not.
bool save(QFileDevice &file, qint64 count, const std::function<DatagramRecord(qint64)> &record,
    QString &error);

// What a file log writes for a capture: the records as the engine packs them
// (DatagramCoding, the local address in full) become pcap records.
std::unique_ptr<FileLog::Encoder> captureEncoder();

} // namespace PcapFile
