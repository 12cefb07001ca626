// SPDX-License-Identifier: MIT
#pragma once

#include "HostLookup.h"
#include "Settings.h"
#include "Tick.h"

#include <QMainWindow>

#include <memory>

class FatalErrorReporter;
class LogPane;
class QAction;
class QCheckBox;
class QMenu;
class QPushButton;
class QSlider;
class Timer;
class UdpEndpoint;
struct SocketError;

// The one window. It owns every control, the send timer, the socket and the pattern counter;
// its handlers only wire the pieces in net/ and log/ together.
class frmMain : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr quint16 kRemotePort = Settings::kDefaultRemotePort;
    static constexpr quint16 kLocalPort = Settings::kDefaultLocalPort;

    // A null lookup means the system's resolver.
    frmMain(TickSource tick, FatalErrorReporter &reporter, const Settings &settings = {},
        std::unique_ptr<HostLookup> lookup = {}, QWidget *parent = nullptr);
    ~frmMain() override;

    qint16 patternCounter() const { return m_patternCounter; }
    // Datagrams a full link would not take; each still advanced the counter.
    quint64 sendsDropped() const { return m_sendsDropped; }

protected:
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

    void fatal(const SocketError &error);
    void AppendToPane(LogPane &pane, QByteArrayView text);
    void ClearPane(LogPane &pane);

    const Settings m_settings;
    const TickSource m_tick;
    FatalErrorReporter &m_reporter;
    qint16 m_patternCounter = 0;
    quint64 m_sendsDropped = 0;
    bool m_unloaded = false;

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
    QAction *mnuExit = nullptr;
};
