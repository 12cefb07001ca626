// SPDX-License-Identifier: MIT
#include "frmMain.h"

#include "AppIcon.h"
#include "Captions.h"
#include "Common.h"
#include "Controls.h"
#include "FatalErrorReporter.h"
#include "HostLookup.h"
#include "LogPane.h"
#include "StatusLine.h"
#include "TestPattern.h"
#include "Timer.h"
#include "UdpEndpoint.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>

namespace {

// The layout is given in twips, 15 to a device-independent pixel.
constexpr int kTwipsPerPixel = 15;

constexpr QRect fromTwips(int left, int top, int width, int height)
{
    return QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
        height / kTwipsPerPixel);
}

constexpr QSize kClientSize(6510 / kTwipsPerPixel, 5745 / kTwipsPerPixel);
constexpr QRect kDumpPaneRect = fromTwips(0, 0, 3495, 2655);
constexpr QRect kSendRect = fromTwips(4080, 240, 1935, 975);
constexpr QRect kStatusPaneRect = fromTwips(0, 3240, 3495, 2415);
constexpr QRect kPeriodRect = fromTwips(4080, 1560, 1935, 495);
constexpr QRect kDumpBoxRect = fromTwips(4320, 3360, 1215, 375);
constexpr QRect kClearRect = fromTwips(4080, 2520, 1935, 495);

constexpr char kLineEnd[] = "\r\n";

QString caption(const char *text)
{
    return QString::fromUtf8(text);
}

// The box names the host and says whose number it shows, since a resolver's code would read
// as an unrelated errno.
SocketError peerLookupError(const QString &host, SocketError error)
{
    const char *const text = error.kind == SocketError::Kind::Resolver ? Captions::kPeerLookupFailed
                                                                       : Captions::kPeerUnreachable;
    error.description = caption(text).arg(host, error.description);
    return error;
}

template <typename Control> Control *place(Control *control, const char *name, const QRect &rect)
{
    control->setObjectName(QLatin1String(name));
    control->setGeometry(rect);
    return control;
}

} // namespace

frmMain::frmMain(TickSource tick, FatalErrorReporter &reporter, const Settings &settings,
    std::unique_ptr<HostLookup> lookup, QWidget *parent)
    : QMainWindow(parent)
    , m_settings(settings)
    , m_tick(std::move(tick))
    , m_reporter(reporter)
    , m_client(new QWidget(this))
    , txtDump(place(new LogPane(m_client), "txtDump", kDumpPaneRect))
    , cmdSend(place(new QPushButton(caption(Captions::kSend), m_client), "cmdSend", kSendRect))
    , txtStat(place(new LogPane(m_client), "txtStat", kStatusPaneRect))
    , sldPeriod(place(new QSlider(m_client), "sldPeriod", kPeriodRect))
    , chkDump(place(new QCheckBox(caption(Captions::kDump), m_client), "chkDump", kDumpBoxRect))
    , cmdMonitorInit(
          place(new QPushButton(caption(Captions::kClear), m_client), "cmdMonitorInit", kClearRect))
    , tmr1(new Timer(this))
    , wskClient(new UdpEndpoint(std::move(lookup), this))
{
    setWindowTitle(caption(Captions::kWindow));
    setWindowIcon(appIcon());
    // No layout manager inside the client area: the controls keep their places at any size.
    setCentralWidget(m_client);
    txtDump->setAccessibleName(caption(Captions::kDumpPaneName));
    txtStat->setAccessibleName(caption(Captions::kStatusPaneName));
    Controls::setUpPeriodSlider(*sldPeriod);
    tmr1->setObjectName(QStringLiteral("tmr1"));
    wskClient->setObjectName(QStringLiteral("wskClient"));

    mnuFile = menuBar()->addMenu(caption(Captions::kFileMenu));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuExit = mnuFile->addAction(caption(Captions::kExit));
    mnuExit->setObjectName(QStringLiteral("mnuExit"));

    setTabOrder(txtDump, cmdSend);
    setTabOrder(cmdSend, txtStat);
    setTabOrder(txtStat, sldPeriod);
    setTabOrder(sldPeriod, chkDump);
    setTabOrder(chkDump, cmdMonitorInit);

    resize(kClientSize.width(), kClientSize.height() + menuBar()->sizeHint().height());

    connect(mnuExit, &QAction::triggered, this, &frmMain::mnuExit_Click);
    connect(cmdSend, &QPushButton::clicked, this, &frmMain::cmdSend_Click);
    connect(sldPeriod, &QSlider::valueChanged, this, &frmMain::sldPeriod_Change);
    connect(cmdMonitorInit, &QPushButton::clicked, this, &frmMain::cmdMonitorInit_Click);
    connect(tmr1, &Timer::tick, this, &frmMain::tmr1_Timer);
    connect(wskClient, &UdpEndpoint::dataArrival, this, &frmMain::wskClient_DataArrival);
    connect(wskClient, &UdpEndpoint::sendProgress, this, &frmMain::wskClient_SendProgress);
    connect(wskClient, &UdpEndpoint::sendComplete, this, &frmMain::wskClient_SendComplete);
    connect(wskClient, &UdpEndpoint::receiveFailed, this, &frmMain::fatal);
    connect(wskClient, &UdpEndpoint::peerLookupFailed, this,
        [this](const SocketError &error) { fatal(peerLookupError(m_settings.peerHost, error)); });

    Form_Load();
}

frmMain::~frmMain()
{
    // Also covers an end of the program that never sent this window a close event.
    Form_Unload();
}

void frmMain::Form_Load()
{
    wskClient->setRemoteHost(m_settings.peerHost);
    wskClient->setRemotePort(m_settings.peerPort);
    if (const SocketResult error = wskClient->bind(m_settings.bindAddress, m_settings.bindPort)) {
        fatal(*error);
        return;
    }
    sldPeriod->setValue(m_settings.period);
}

void frmMain::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

void frmMain::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    tmr1->setEnabled(false);
    wskClient->close();
}

void frmMain::mnuExit_Click()
{
    close();
}

void frmMain::cmdSend_Click()
{
    if (!tmr1->enabled()) {
        tmr1->setEnabled(true);
        cmdSend->setText(caption(Captions::kStop));
    } else {
        tmr1->setEnabled(false);
        cmdSend->setText(caption(Captions::kSend));
    }
}

void frmMain::sldPeriod_Change()
{
    tmr1->setInterval(sldPeriod->value());
}

void frmMain::tmr1_Timer()
{
    // Until the peer's name is looked up there is nowhere to send: the first tick after the
    // answer sends the datagram that would have been first.
    if (!wskClient->isPeerReady())
        return;
    const QByteArray payload = TestPattern::payload(m_patternCounter);
    m_patternCounter = TestPattern::advance(m_patternCounter);
    const SendResult sent = wskClient->send(payload);
    if (sent.outcome == SendResult::Outcome::Failed) {
        fatal(sent.error);
        return;
    }
    // A full link lost the datagram: the peer sees the gap in the counter, and no Send line
    // claims it left.
    if (sent.outcome == SendResult::Outcome::Dropped) {
        ++m_sendsDropped;
        return;
    }
    const qint32 tick = tickValue(m_tick());
    AppendToPane(*txtStat, statusLine(Direction::Send, payload.size(), tick));
    if (Controls::checkValue(*chkDump) == 1)
        AppendToPane(*txtDump, Common::HexDump(payload) + kLineEnd);
}

void frmMain::cmdMonitorInit_Click()
{
    ClearPane(*txtDump);
    ClearPane(*txtStat);
}

void frmMain::wskClient_DataArrival(qint32 bytesTotal)
{
    const qint32 tick = tickValue(m_tick());
    AppendToPane(*txtStat, statusLine(Direction::Receive, bytesTotal, tick));
    const QByteArray payload = wskClient->read();
    if (Controls::checkValue(*chkDump) == 1)
        AppendToPane(*txtDump, Common::HexDump(payload) + kLineEnd);
}

void frmMain::wskClient_SendProgress(qint32, qint32) { }

void frmMain::wskClient_SendComplete() { }

void frmMain::AppendToPane(LogPane &pane, QByteArrayView text)
{
    // The pane decides whether it shows the new line: it follows its end unless the user
    // reads or selects elsewhere.
    pane.append(text);
}

void frmMain::ClearPane(LogPane &pane)
{
    pane.clear();
}

void frmMain::fatal(const SocketError &error)
{
    // Silence everything that could fail again while the box is open, so one failure opens
    // one box.
    tmr1->setEnabled(false);
    wskClient->setNotificationsEnabled(false);
    m_reporter.report(error.code, error.description);
}
