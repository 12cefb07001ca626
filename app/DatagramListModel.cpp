// SPDX-License-Identifier: MIT
#include "app/DatagramListModel.h"

#include "app/ViewCaptions.h"
#include "engine/PatternCheck.h"

#include <QDateTime>
#include <QHostAddress>
#include <QLocale>

#include <algorithm>
#include <cstring>

namespace {

constexpr qint64 kNanosecondsPerMillisecond = 1'000'000;
constexpr qsizetype kIPv4Offset = 12;

QString caption(const char *text)
{
    return QString::fromUtf8(text);
}

QString endpointText(const SocketAddress &address)
{
    const QString host = address.address().toString();
    const QString port = QString::number(address.port);
    return address.isIPv4() ? host + QLatin1Char(':') + port
                            : QLatin1Char('[') + host + QLatin1String("]:") + port;
}

} // namespace

DatagramListModel::DatagramListModel(const DatagramRing &ring, QObject *parent)
    : QAbstractTableModel(parent)
    , m_ring(ring)
    , m_first(ring.first())
    , m_end(ring.first())
{ }

int DatagramListModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return int(m_filter.isEmpty() ? m_end - m_first : qint64(m_passed.size()));
}

int DatagramListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

qint64 DatagramListModel::numberAt(int row) const
{
    return m_filter.isEmpty() ? m_first + row : m_passed[size_t(row)];
}

QVariant DatagramListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const qint64 number = numberAt(index.row());
    // A row the ring let go of since the last batch is still drawn until the next one.
    if (number < m_ring.first())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return display(m_ring.at(number), index.column());
    case Qt::TextAlignmentRole:
        if (index.column() == Number || index.column() == Size || index.column() == Counter)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    case Qt::ToolTipRole:
        if (index.column() == Time) {
            const QDateTime time = QDateTime::fromMSecsSinceEpoch(
                m_ring.at(number).wallNs / kNanosecondsPerMillisecond);
            return caption(ViewCaptions::kTimeToolTip)
                .arg(time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz t")));
        }
        if (index.column() == Counter)
            return caption(ViewCaptions::kCounterToolTip);
        return {};
    default:
        return {};
    }
}

QVariant DatagramListModel::display(const DatagramRecord &record, int column) const
{
    switch (column) {
    case Number:
        // Counted from 1, as capture tools count.
        return QString::number(record.number + 1);
    case Time:
        return QDateTime::fromMSecsSinceEpoch(record.wallNs / kNanosecondsPerMillisecond)
            .toString(QStringLiteral("HH:mm:ss.zzz"));
    case Way:
        return caption(
            record.direction == Direction::Send ? ViewCaptions::kSent : ViewCaptions::kReceived);
    case Local:
        return endpointText(record.local);
    case Remote:
        return endpointText(record.remote);
    case Size:
        return QString::number(record.payload.size());
    case Counter: {
        const int counter = PatternCheck::counterOf(record.payload);
        return counter < 0 ? QString() : QString::number(counter);
    }
    default:
        return {};
    }
}

QVariant DatagramListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0
        || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return caption(ViewCaptions::kColumns[section]);
}

bool DatagramListModel::passes(const DatagramRecord &record) const
{
    return (!m_filter.direction || record.direction == *m_filter.direction)
        && (!m_filter.address || record.remote.bytes == *m_filter.address)
        && (!m_filter.port || record.remote.port == *m_filter.port);
}

void DatagramListModel::setFilter(const Filter &filter)
{
    beginResetModel();
    m_filter = filter;
    m_passed.clear();
    m_first = m_end = m_ring.first();
    if (!m_filter.isEmpty()) {
        for (qint64 number = m_ring.first(); number < m_ring.end(); ++number) {
            if (passes(m_ring.at(number)))
                m_passed.push_back(number);
        }
    }
    m_end = m_ring.end();
    endResetModel();
}

void DatagramListModel::catchUp()
{
    const qint64 first = m_ring.first();
    const qint64 end = m_ring.end();
    if (m_filter.isEmpty()) {
        // Rows the ring let go of leave from the top; then the new ones come at the bottom.
        const qint64 gone = std::min(first, m_end) - m_first;
        if (gone > 0) {
            beginRemoveRows({}, 0, int(gone - 1));
            m_first += gone;
            endRemoveRows();
        }
        if (m_first == m_end)
            m_first = m_end = std::max(m_end, first);
        if (end > m_end) {
            beginInsertRows({}, int(m_end - m_first), int(end - m_first - 1));
            m_end = end;
            endInsertRows();
        }
        return;
    }
    const auto kept = std::lower_bound(m_passed.begin(), m_passed.end(), first);
    if (const auto gone = kept - m_passed.begin(); gone > 0) {
        beginRemoveRows({}, 0, int(gone - 1));
        m_passed.erase(m_passed.begin(), kept);
        endRemoveRows();
    }
    std::vector<qint64> passed;
    for (qint64 number = std::max(m_end, first); number < end; ++number) {
        if (passes(m_ring.at(number)))
            passed.push_back(number);
    }
    m_end = end;
    if (!passed.empty()) {
        const int row = int(m_passed.size());
        beginInsertRows({}, row, row + int(passed.size()) - 1);
        m_passed.insert(m_passed.end(), passed.begin(), passed.end());
        endInsertRows();
    }
}

bool DatagramListModel::readRemote(const QString &text, Filter &filter)
{
    QString host = text.trimmed();
    std::optional<quint16> port;
    const qsizetype colon = host.lastIndexOf(QLatin1Char(':'));
    const bool bracketed = host.startsWith(QLatin1Char('['));
    // A colon ends the address only after a bracket or in IPv4's dotted form.
    if (colon > 0
        && (bracketed ? host.at(colon - 1) == QLatin1Char(']')
                      : host.count(QLatin1Char(':')) == 1)) {
        bool ok = false;
        const uint number = host.mid(colon + 1).toUInt(&ok);
        if (!ok || number > 0xffff)
            return false;
        port = quint16(number);
        host.truncate(colon);
    }
    if (bracketed) {
        if (!host.endsWith(QLatin1Char(']')))
            return false;
        host = host.mid(1, host.size() - 2);
    }
    QHostAddress address;
    if (!address.setAddress(host))
        return false;
    std::array<quint8, 16> bytes {};
    bool ipv4 = false;
    const quint32 v4 = address.toIPv4Address(&ipv4);
    if (ipv4) {
        bytes[10] = bytes[11] = 0xff;
        for (int i = 0; i < 4; ++i)
            bytes[size_t(kIPv4Offset + i)] = quint8(v4 >> (24 - 8 * i));
    } else {
        const Q_IPV6ADDR v6 = address.toIPv6Address();
        std::memcpy(bytes.data(), &v6, sizeof v6);
    }
    filter.address = bytes;
    filter.port = port;
    return true;
}
