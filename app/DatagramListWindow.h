// SPDX-License-Identifier: MIT
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <memory>

class DatagramListModel;
class DatagramRing;
class LinkEngine;
class LogPane;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTableView;

// The most recent datagrams, both ways, in a table within the capture budget, and every byte
// of the one selected below it, as hexdump -C shows them. While it lives the engine records
// each datagram into its ring; the table takes them in at most every kBatchInterval. Like the
// log panes, it follows the newest rows until the user scrolls or selects. Closing it only hides
// it, and the recording goes on.
class DatagramListWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kBatchInterval { 100 };

    DatagramListWindow(LinkEngine &engine, qint64 budget, QWidget *parent = nullptr);
    ~DatagramListWindow() override;

    const DatagramRing &ring() const { return *m_ring; }
    QTableView *table() const { return m_table; }
    LogPane *bytesPane() const { return m_bytes; }
    bool isFollowing() const { return m_following; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void takeBatch();
    void applyFilter();
    void selectionChanged();
    void userScrolled();
    void setFollowing(bool following);
    void showBudget();
    void saveCapture();

    const std::unique_ptr<DatagramRing> m_ring;
    // The engine goes first when the main window is torn down.
    const QPointer<LinkEngine> m_engine;
    DatagramListModel *const m_model;
    QComboBox *const m_direction;
    QLineEdit *const m_remote;
    QCheckBox *const m_follow;
    QLabel *const m_budget;
    QTableView *const m_table;
    LogPane *const m_bytes;
    QTimer m_batchTimer;
    bool m_following = true;
    // The number of the datagram whose bytes are shown, or -1.
    qint64 m_shownNumber = -1;
};
