// SPDX-License-Identifier: MIT
#include "engine/PcapFile.h"

#include <QFileDevice>

#include <pcap/pcap.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// libpcap's own largest snapshot: room for the largest IPv6 UDP datagram with its headers.
constexpr int kSnapshotLength = 262144;
constexpr quint8 kUdp = 17;
constexpr quint8 kTimeToLive = 64;
constexpr int kIPv4HeaderSize = 20;
constexpr int kIPv6HeaderSize = 40;
constexpr int kUdpHeaderSize = 8;
constexpr qint64 kNanosecondsPerSecond = 1'000'000'000;
constexpr qsizetype kIPv4Offset = 12; // of the address in its mapped IPv6 form

void put16(char *out, quint32 value)
{
    out[0] = char(value >> 8);
    out[1] = char(value);
}

// The Internet checksum's running sum (RFC 1071) over big-endian 16-bit words.
quint32 sum(quint32 total, const char *bytes, qsizetype size)
{
    const auto *b = reinterpret_cast<const quint8 *>(bytes);
    for (; size > 1; b += 2, size -= 2)
        total += quint32(b[0]) << 8 | b[1];
    if (size == 1)
        total += quint32(b[0]) << 8;
    return total;
}

quint16 fold(quint32 total)
{
    while (total >> 16)
        total = (total & 0xffff) + (total >> 16);
    return quint16(~total);
}

// Where a record's addresses go in its packet: from the sender to the receiver.
struct Ends
{
    const SocketAddress *source;
    const SocketAddress *destination;
};

Ends endsOf(const DatagramRecord &record)
{
    return record.direction == Direction::Send ? Ends { &record.local, &record.remote }
                                               : Ends { &record.remote, &record.local };
}

pcap_t *openDead()
{
    return pcap_open_dead_with_tstamp_precision(
        DLT_RAW, kSnapshotLength, PCAP_TSTAMP_PRECISION_NANO);
}

// A stream whose writes gather in a byte array, so that libpcap writes a capture chunk into
// memory and the file log's thread hands it to the file by its own rules.
ssize_t gather(void *cookie, const char *bytes, size_t size)
{
    static_cast<QByteArray *>(cookie)->append(bytes, qsizetype(size));
    return ssize_t(size);
}

class CaptureEncoder final : public FileLog::Encoder
{
public:
    QByteArray start() override
    {
        std::FILE *const stream = ::fopencookie(
            &m_gathered, "w", cookie_io_functions_t { nullptr, &gather, nullptr, nullptr });
        if (stream == nullptr)
            return {};
        m_writer = std::make_unique<PcapFile::Writer>(stream);
        m_writer->flush();
        return std::exchange(m_gathered, QByteArray());
    }

    void encode(const QByteArray &chunk, QByteArray &out) override
    {
        out.clear();
        if (!m_writer || !m_writer->isOpen())
            return;
        m_gathered.swap(out);
        for (qsizetype at = 0; at < chunk.size();) {
            qsizetype size = 0;
            const DatagramRecord record
                = DatagramCoding::decode(chunk.constData() + at, nullptr, &size);
            m_writer->write(record);
            at += size;
        }
        m_writer->flush();
        m_gathered.swap(out);
    }

private:
    QByteArray m_gathered;
    std::unique_ptr<PcapFile::Writer> m_writer;
};

} // namespace

namespace PcapFile {

void buildPacket(const DatagramRecord &record, QByteArray &packet)
{
    const Ends ends = endsOf(record);
    // The family is the remote's; a local address of the other family (one not known, say)
    // becomes the unspecified address.
    const bool ipv4 = record.remote.isIPv4();
    const int ipSize = ipv4 ? kIPv4HeaderSize : kIPv6HeaderSize;
    const size_t addressSize = ipv4 ? 4 : 16;
    const qsizetype udpSize = kUdpHeaderSize + record.payload.size();
    packet.resize(ipSize + udpSize);
    packet.fill('\0');
    char *const ip = packet.data();
    char *const udp = ip + ipSize;
    const auto address = [&](const SocketAddress &a) {
        std::array<char, 16> bytes {};
        if (ipv4 == a.isIPv4())
            std::memcpy(bytes.data(), a.bytes.data() + (ipv4 ? kIPv4Offset : 0), addressSize);
        return bytes;
    };
    const std::array<char, 16> source = address(*ends.source);
    const std::array<char, 16> destination = address(*ends.destination);

    if (ipv4) {
        ip[0] = 0x45; // version 4, five words of header
        put16(ip + 2, quint32(ipSize + udpSize));
        ip[8] = char(kTimeToLive);
        ip[9] = char(kUdp);
        std::memcpy(ip + 12, source.data(), 4);
        std::memcpy(ip + 16, destination.data(), 4);
        put16(ip + 10, fold(sum(0, ip, kIPv4HeaderSize)));
    } else {
        ip[0] = 0x60; // version 6
        put16(ip + 4, quint32(udpSize));
        ip[6] = char(kUdp);
        ip[7] = char(kTimeToLive);
        std::memcpy(ip + 8, source.data(), 16);
        std::memcpy(ip + 24, destination.data(), 16);
    }
    put16(udp, ends.source->port);
    put16(udp + 2, ends.destination->port);
    put16(udp + 4, quint32(udpSize));
    std::memcpy(udp + kUdpHeaderSize, record.payload.data(), size_t(record.payload.size()));

    // The pseudo-header: both addresses, the protocol and the UDP length.
    quint32 total = sum(0, source.data(), qsizetype(addressSize));
    total = sum(total, destination.data(), qsizetype(addressSize));
    total += kUdp + quint32(udpSize);
    total = sum(total, udp, udpSize);
    const quint16 checksum = fold(total);
    // Zero means "no checksum" in UDP; its one's complement twin stands for it.
    put16(udp + 6, checksum == 0 ? 0xffff : checksum);
}

Writer::Writer(std::FILE *stream)
    : m_stream(stream)
    , m_dead(openDead())
{
    if (m_dead == nullptr) {
        m_error = QStringLiteral("pcap_open_dead failed");
        return;
    }
    m_dumper = pcap_dump_fopen(m_dead, m_stream);
    if (m_dumper == nullptr)
        m_error = QString::fromLocal8Bit(pcap_geterr(m_dead));
}

Writer::~Writer()
{
    // Closing the dumper closes the stream; without one the stream is still ours to close.
    if (m_dumper != nullptr)
        pcap_dump_close(m_dumper);
    else if (m_stream != nullptr)
        std::fclose(m_stream);
    if (m_dead != nullptr)
        pcap_close(m_dead);
}

void Writer::write(const DatagramRecord &record)
{
    buildPacket(record, m_packet);
    pcap_pkthdr header {};
    header.ts.tv_sec = time_t(record.wallNs / kNanosecondsPerSecond);
    // Nanoseconds, as the file says it holds.
    header.ts.tv_usec = suseconds_t(record.wallNs % kNanosecondsPerSecond);
    header.caplen = header.len = bpf_u_int32(m_packet.size());
    pcap_dump(reinterpret_cast<u_char *>(m_dumper), &header,
        reinterpret_cast<const u_char *>(m_packet.constData()));
}

bool Writer::flush()
{
    return m_dumper != nullptr && pcap_dump_flush(m_dumper) == 0
        && !std::ferror(pcap_dump_file(m_dumper));
}

bool save(QFileDevice &file, qint64 count, const std::function<DatagramRecord(qint64)> &record,
    QString &error)
{
    // A stream of its own over the same file, which libpcap closes.
    const int fd = ::dup(file.handle());
    std::FILE *const stream = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (stream == nullptr) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    Writer writer(stream);
    if (!writer.isOpen()) {
        error = writer.error();
        return false;
    }
    for (qint64 i = 0; i < count; ++i)
        writer.write(record(i));
    if (!writer.flush()) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

std::unique_ptr<FileLog::Encoder> captureEncoder()
{
    return std::make_unique<CaptureEncoder>();
}

} // namespace PcapFile
