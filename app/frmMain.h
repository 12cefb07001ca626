// SPDX-License-Identifier: MIT
#pragma once

#include "engine/LinkOutput.h"
#include "engine/LinkStatistics.h"
#include "engine/Settings.h"
#include "engine/Tick.h"
#include "log/Throttle.h"
#include "net/HostLookup.h"

#include <QMainWindow>
#include <QPointer>

#include <chrono>
#include <memory>

class FatalErrorReporter;
class GraphWindow;
class LinkEngine;
class LogPane;
class QAction;
class QCheckBox;
class QLabel;
class QMenu;
class QPushButton;
class NoticeView;
class QSlider;
class StatisticsView;
class Timer;
class UdpEndpoint;
class ViewMenu;

// The one window. It owns every control and the link's engine, which owns the send timer,
// the socket and the pattern counter; its handlers hand each event to the engine, and the
// engine hands each line back to a pane.
class frmMain : public QMainWindow, private LinkOutput
{
    Q_OBJECT

public:
    static constexpr quint16 kRemotePort = Settings::kDefaultRemotePort;
    static constexpr quint16 kLocalPort = Settings::kDefaultLocalPort;

    // A null lookup means the system's resolver.
    frmMain(TickSource tick, FatalErrorReporter &reporter, const Settings &settings = {},
        std::unique_ptr<HostLookup> lookup = {}, QWidget *parent = nullptr);
    ~frmMain() override;

    // The status bar refreshes at most this often, so that a flood costs it nothing, and not
    // at all while the figures keep still.
    static constexpr std::chrono::milliseconds kStatisticsRefresh { 250 };

    qint16 patternCounter() const;
    const LinkStatistics &statistics() const;
    const LinkEngine &engine() const;
    ViewMenu &viewMenu() const { return *m_viewMenu; }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();
    void Form_Unload();
    void mnuExit_Click();
    void cmdSend_Click();
    void sldPeriod_Change();
    void tmr1_Timer();
    void cmdMonitorInit_Click();
    void wskClient_DataArrival(qint32 bytesTotal);
    void wskClient_SendProgress(qint32 bytesSent, qint32 bytesRemaining);
    void wskClient_SendComplete();
    void mnuSaveStatus_Click();
    void mnuSaveDump_Click();
    void mnuCopyStatistics_Click();
    void mnuGraph_Click();

    void setUpClientArea();
    void setUpMenus();
    void setUpStatusBar();
    void setUpViewMenu();
    void connectControls();
    void append(Log log, QByteArrayView text) override;
    void appendDump(QByteArrayView payload) override;
    void figuresChanged() override;
    void AppendToPane(LogPane &pane, QByteArrayView text);
    void ClearPane(LogPane &pane);
    void savePane(const LogPane &pane, const char *title, const char *fileName);
    void fitClientArea();
    void showFileLogNotice(const QString &line);
    void refreshStatistics();
    void showPeriod();

    bool m_unloaded = false;
    bool m_fitted = false;
    // What the status bar shows now, so that it is redrawn only when that changes: the totals,
    // and the intervals recorded, after which the measured figures move.
    struct Revision
    {
        LinkStatistics::Revision totals;
        qint64 intervals = -1;
        friend bool operator==(const Revision &, const Revision &) = default;
    };
    Revision m_shownRevision;
    int m_shownPeriod = -1;
    // Started by a change of the figures, and idle once they keep still.
    Throttle m_statisticsRefresh { kStatisticsRefresh, [this] { refreshStatistics(); } };

    LinkEngine *const m_engine;
    QWidget *const m_client;
    LogPane *const txtDump;
    QPushButton *const cmdSend;
    LogPane *const txtStat;
    QSlider *const sldPeriod;
    QCheckBox *const chkDump;
    QPushButton *const cmdMonitorInit;
    Timer *const tmr1;
    UdpEndpoint *const wskClient;
    QMenu *mnuFile = nullptr;
    QAction *mnuSaveStatus = nullptr;
    QAction *mnuSaveDump = nullptr;
    QAction *mnuCopyStatistics = nullptr;
    QAction *mnuExit = nullptr;
    StatisticsView *const m_statisticsView;
    // Says that a log file was given up; hidden until one is.
    NoticeView *const m_fileLogNotice;
    ViewMenu *m_viewMenu = nullptr;
    QMenu *mnuView = nullptr;
    QAction *mnuGraph = nullptr;
    // Made when opened and gone when closed, so that a closed graph costs nothing.
    QPointer<GraphWindow> m_graph;
};
