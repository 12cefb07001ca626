// SPDX-License-Identifier: MIT
#pragma once

#include "engine/DatagramRing.h"

#include <QAbstractTableModel>

#include <array>
#include <deque>
#include <optional>

// The datagram list's rows over a ring: nothing is copied, a row is a record's number. Rows
// come and go only in catchUp(), in one batch each way, however many datagrams arrived since:
// the loop that records them does nothing for the list.
//
// Without a filter the rows are the ring's records, oldest first; with one, the numbers of the
// records that pass are kept, eight bytes a row.
class DatagramListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Number, Time, Way, Local, Remote, Size, Counter, ColumnCount };

    struct Filter
    {
        std::optional<Direction> direction;
        // The remote's address in its mapped form, and its port.
        std::optional<std::array<quint8, 16>> address;
        std::optional<quint16> port;
        bool isEmpty() const { return !direction && !address && !port; }
    };

    explicit DatagramListModel(const DatagramRing &ring, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(
        int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    const DatagramRing &ring() const { return m_ring; }
    qint64 numberAt(int row) const;
    void setFilter(const Filter &filter);
    // Takes in the records the ring added since, and lets go of the rows it let go of.
    void catchUp();

    // "127.0.0.1", "127.0.0.1:20319", "::1", "[::1]:20319": a remote address to filter by,
    // into `filter`; false when the text is none.
    static bool readRemote(const QString &text, Filter &filter);

private:
    bool passes(const DatagramRecord &record) const;
    QVariant display(const DatagramRecord &record, int column) const;

    const DatagramRing &m_ring;
    Filter m_filter;
    // Unfiltered, the rows are the records [m_first, m_end).
    qint64 m_first = 0;
    qint64 m_end = 0;
    // Filtered, the rows are these, and the records before m_end were looked at.
    std::deque<qint64> m_passed;
};
