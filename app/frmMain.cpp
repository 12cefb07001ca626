// SPDX-License-Identifier: MIT
#include "app/frmMain.h"

#include "app/AppIcon.h"
#include "app/Captions.h"
#include "app/Controls.h"
#include "app/ExternalDestroyWatch.h"
#include "engine/FatalErrorReporter.h"
#include "engine/Timer.h"
#include "log/Common.h"
#include "log/FileLog.h"
#include "log/StatusLine.h"
#include "net/HostLookup.h"
#include "net/TestPattern.h"
#include "net/UdpEndpoint.h"
#include "pane/LogPane.h"

#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QShowEvent>
#include <QSlider>
#include <QStatusBar>
#include <QToolTip>
#include <QVBoxLayout>

#include <cerrno>

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
constexpr QMargins kNoticeMargins(4, 2, 4, 2);

// A face with Japanese and Latin alike comes first, so that a digit after a Japanese word is
// not drawn in a different, fallback face from a digit after a Latin one.
QFont statisticsFont(QFont font)
{
    QStringList families { QStringLiteral("IPAPGothic"), QStringLiteral("IPA Pゴシック") };
    families += font.families().isEmpty() ? QStringList { font.family() } : font.families();
    font.setFamilies(families);
    return font;
}

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

// "*:20320", "127.0.0.1:20320", "[::1]:20320": how the title and the boxes name an endpoint.
QString endpointText(const QString &host, quint16 port)
{
    const QString shown
        = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return shown + QLatin1Char(':') + QString::number(port);
}

QString bindText(const Settings &settings)
{
    const QString address = settings.bindAddress == QHostAddress(QHostAddress::Any)
        ? QStringLiteral("*")
        : settings.bindAddress.toString();
    return endpointText(address, settings.bindPort);
}

QString titleFor(const Settings &settings)
{
    if (settings.endpointsAreDefault())
        return caption(Captions::kWindow);
    return caption(Captions::kTitleWithEndpoints)
        .arg(caption(Captions::kWindow), bindText(settings),
            endpointText(settings.peerHost, settings.peerPort));
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
    , txtDump(place(new LogPane(m_client, settings.paneBudget), "txtDump", kDumpPaneRect))
    , cmdSend(place(new QPushButton(caption(Captions::kSend), m_client), "cmdSend", kSendRect))
    , txtStat(place(new LogPane(m_client, settings.paneBudget), "txtStat", kStatusPaneRect))
    , sldPeriod(place(new QSlider(m_client), "sldPeriod", kPeriodRect))
    , chkDump(place(new QCheckBox(caption(Captions::kDump), m_client), "chkDump", kDumpBoxRect))
    , cmdMonitorInit(
          place(new QPushButton(caption(Captions::kClear), m_client), "cmdMonitorInit", kClearRect))
    , tmr1(new Timer(this))
    , wskClient(new UdpEndpoint(std::move(lookup), this))
    , m_statisticsLabel(new QLabel(this))
    , m_fileLogNotice(new QLabel(this))
{
    setWindowTitle(titleFor(m_settings));
    setWindowIcon(appIcon());
    m_client->setObjectName(QStringLiteral("client"));
    // No layout manager inside the client area: the controls keep their places at any size.
    // A given-up log file is said below it, never over it.
    auto *const central = new QWidget(this);
    auto *const column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(m_client, 1);
    column->addWidget(m_fileLogNotice);
    setCentralWidget(central);
    txtDump->setAccessibleName(caption(Captions::kDumpPaneName));
    txtStat->setAccessibleName(caption(Captions::kStatusPaneName));
    txtDump->setToolTip(caption(Captions::kDumpPaneToolTip));
    Controls::setUpPeriodSlider(*sldPeriod);
    sldPeriod->setAccessibleName(caption(Captions::kPeriodName));
    tmr1->setObjectName(QStringLiteral("tmr1"));
    wskClient->setObjectName(QStringLiteral("wskClient"));

    mnuFile = menuBar()->addMenu(caption(Captions::kFileMenu));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuSaveStatus = mnuFile->addAction(caption(Captions::kSaveStatusLog));
    mnuSaveStatus->setObjectName(QStringLiteral("mnuSaveStatus"));
    mnuSaveDump = mnuFile->addAction(caption(Captions::kSaveDumpLog));
    mnuSaveDump->setObjectName(QStringLiteral("mnuSaveDump"));
    mnuCopyStatistics = mnuFile->addAction(caption(Captions::kCopyStatistics));
    mnuCopyStatistics->setObjectName(QStringLiteral("mnuCopyStatistics"));
    mnuFile->addSeparator();
    mnuExit = mnuFile->addAction(caption(Captions::kExit));
    mnuExit->setObjectName(QStringLiteral("mnuExit"));
    // The captions carry no mnemonics; F10 is how the desktops reach a menu bar by keyboard.
    auto *const openMenu = new QAction(this);
    openMenu->setShortcut(Qt::Key_F10);
    addAction(openMenu);
    connect(openMenu, &QAction::triggered, this,
        [this] { menuBar()->setActiveAction(mnuFile->menuAction()); });

    // Below the client area, so that the controls keep their places and the window grows.
    m_statisticsLabel->setObjectName(QStringLiteral("statistics"));
    m_statisticsLabel->setAccessibleName(caption(Captions::kStatisticsName));
    m_statisticsLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusBar()->addWidget(m_statisticsLabel, 1);
    m_statisticsLabel->setFont(statisticsFont(m_statisticsLabel->font()));
    m_fileLogNotice->setObjectName(QStringLiteral("fileLogNotice"));
    m_fileLogNotice->setWordWrap(true);
    m_fileLogNotice->setStyleSheet(QStringLiteral("color: #b00000"));
    m_fileLogNotice->setContentsMargins(kNoticeMargins);
    m_fileLogNotice->hide();
    statusBar()->setSizeGripEnabled(false);

    setTabOrder(txtDump, cmdSend);
    setTabOrder(cmdSend, txtStat);
    setTabOrder(txtStat, sldPeriod);
    setTabOrder(sldPeriod, chkDump);
    setTabOrder(chkDump, cmdMonitorInit);

    m_statusLog = openFileLog(m_settings.statusLogFile, Captions::kStatusLogName);
    m_dumpLog = openFileLog(m_settings.dumpLogFile, Captions::kDumpLogName);

    connect(mnuExit, &QAction::triggered, this, &frmMain::mnuExit_Click);
    connect(mnuSaveStatus, &QAction::triggered, this, &frmMain::mnuSaveStatus_Click);
    connect(mnuSaveDump, &QAction::triggered, this, &frmMain::mnuSaveDump_Click);
    connect(mnuCopyStatistics, &QAction::triggered, this, &frmMain::mnuCopyStatistics_Click);
    connect(cmdSend, &QPushButton::clicked, this, &frmMain::cmdSend_Click);
    connect(sldPeriod, &QSlider::valueChanged, this, &frmMain::sldPeriod_Change);
    connect(sldPeriod, &QSlider::sliderMoved, this, &frmMain::showPeriod);
    connect(cmdMonitorInit, &QPushButton::clicked, this, &frmMain::cmdMonitorInit_Click);
    connect(tmr1, &Timer::tick, this, &frmMain::tmr1_Timer);
    connect(wskClient, &UdpEndpoint::dataArrival, this, &frmMain::wskClient_DataArrival);
    connect(wskClient, &UdpEndpoint::sendProgress, this, &frmMain::wskClient_SendProgress);
    connect(wskClient, &UdpEndpoint::sendComplete, this, &frmMain::wskClient_SendComplete);
    connect(wskClient, &UdpEndpoint::receiveFailed, this, &frmMain::fatal);
    connect(wskClient, &UdpEndpoint::peerLookupFailed, this,
        [this](const SocketError &error) { fatal(peerLookupError(m_settings.peerHost, error)); });
    // Another program destroying the X window leaves nothing to close it by: end as 終了 would.
    connect(new ExternalDestroyWatch(this), &ExternalDestroyWatch::destroyedFromOutside, this,
        &frmMain::mnuExit_Click);
    m_statisticsTimer.setInterval(kStatisticsRefresh);
    connect(&m_statisticsTimer, &QTimer::timeout, this, &frmMain::refreshStatistics);

    Form_Load();

    refreshStatistics();
    m_statisticsTimer.start();
    fitClientArea();
    if (m_settings.dumpAtStart)
        chkDump->setChecked(true);
    if (m_settings.sendAtStart && wskClient->isBound())
        cmdSend_Click();
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
    if (SocketResult error = wskClient->bind(m_settings.bindAddress, m_settings.bindPort)) {
        // The system's text never says which address it refused; most often it is held by a
        // second copy.
        error->description
            += QLatin1String("\n\n") + caption(Captions::kBindFailed).arg(bindText(m_settings));
        if (error->code == EADDRINUSE)
            error->description += caption(Captions::kAddressInUse);
        fatal(*error);
        return;
    }
    sldPeriod->setValue(m_settings.period);
}

void frmMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // The status bar lays itself out only when shown; before that its height is not known.
    if (!event->spontaneous() && !m_fitted) {
        m_fitted = true;
        fitClientArea();
    }
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
    sldPeriod->setToolTip(caption(Captions::kPeriodToolTip).arg(sldPeriod->value()));
}

void frmMain::showPeriod()
{
    // While dragged, the value follows the handle.
    QToolTip::showText(QCursor::pos(), sldPeriod->toolTip(), sldPeriod);
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
        m_statistics.dropped();
        return;
    }
    m_statistics.sent(payload.size());
    const qint32 tick = tickValue(m_tick());
    AppendToPane(*txtStat, statusLine(Direction::Send, payload.size(), tick));
    if (chkDump->isChecked())
        AppendToPane(*txtDump, Common::HexDump(payload) + kLineEnd);
}

void frmMain::cmdMonitorInit_Click()
{
    ClearPane(*txtDump);
    ClearPane(*txtStat);
    // The figures are part of the display; the pattern counter is not.
    m_statistics.reset();
    refreshStatistics();
}

void frmMain::wskClient_DataArrival(qint32 bytesTotal)
{
    const quint32 rawTick = m_tick();
    AppendToPane(*txtStat, statusLine(Direction::Receive, bytesTotal, tickValue(rawTick)));
    const QByteArray payload = wskClient->read();
    m_statistics.received(payload, rawTick);
    if (chkDump->isChecked())
        AppendToPane(*txtDump, Common::HexDump(payload) + kLineEnd);
}

void frmMain::wskClient_SendProgress(qint32, qint32) { }

void frmMain::wskClient_SendComplete() { }

void frmMain::mnuSaveStatus_Click()
{
    savePane(*txtStat, Captions::kSaveStatusLog, Captions::kStatusLogFileName);
}

void frmMain::mnuSaveDump_Click()
{
    savePane(*txtDump, Captions::kSaveDumpLog, Captions::kDumpLogFileName);
}

void frmMain::mnuCopyStatistics_Click()
{
    QGuiApplication::clipboard()->setText(m_statistics.summary(sldPeriod->value(), m_tick()));
}

void frmMain::savePane(const LogPane &pane, const char *title, const char *fileName)
{
    QString dialogTitle = caption(title);
    dialogTitle.remove(QLatin1String("..."));
    const QString path = QFileDialog::getSaveFileName(
        this, dialogTitle, caption(fileName), caption(Captions::kSaveFilter));
    if (path.isEmpty())
        return;
    // A save that fails on the way leaves the file as it was, never half written. Each step
    // is named, since the system's text alone misleads: a temporary file that cannot be made
    // in /proc reads as "No such file or directory".
    QSaveFile file(path);
    const char *step = Captions::kSaveStepOpen;
    if (file.open(QIODevice::WriteOnly)) {
        step = Captions::kSaveStepWrite;
        if (pane.save(file)) {
            step = Captions::kSaveStepCommit;
            if (file.commit())
                return;
        }
    }
    const QString reason = file.errorString();
    file.cancelWriting();
    QMessageBox::warning(
        this, dialogTitle, caption(Captions::kSaveFailed).arg(path, caption(step), reason));
}

FileLog *frmMain::openFileLog(const QString &path, const char *name)
{
    if (path.isEmpty())
        return nullptr;
    auto *log = new FileLog(path, this);
    connect(
        log, &FileLog::failed, this, [this, log, name](const QString &file, const QString &reason) {
            // The run goes on without the file; the window says so once, beside the figures.
            if (m_statusLog == log)
                m_statusLog = nullptr;
            if (m_dumpLog == log)
                m_dumpLog = nullptr;
            log->deleteLater();
            showFileLogNotice(caption(Captions::kFileLogStopped).arg(caption(name), file, reason));
        });
    return log;
}

void frmMain::showFileLogNotice(const QString &line)
{
    const int before = m_fileLogNotice->isVisible() ? m_fileLogNotice->height() : 0;
    m_fileLogNotice->setText(m_fileLogNotice->text().isEmpty()
            ? line
            : m_fileLogNotice->text() + QLatin1Char('\n') + line);
    m_fileLogNotice->show();
    // Until the window is shown its widths are not known; fitting it then counts the notice.
    if (!isVisible() || isMaximized() || isFullScreen())
        return;
    // Grow by the notice's whole wrapped height rather than take the room from the client
    // area, whose controls stay in place; the width stays what the user made it.
    const int after = m_fileLogNotice->heightForWidth(centralWidget()->width());
    resize(width(), height() + after - before);
}

void frmMain::fitClientArea()
{
    const int notice
        = m_fileLogNotice->isHidden() ? 0 : m_fileLogNotice->heightForWidth(kClientSize.width());
    resize(kClientSize.width(),
        kClientSize.height() + notice + menuBar()->sizeHint().height()
            + statusBar()->sizeHint().height());
}

void frmMain::refreshStatistics()
{
    // Hidden (as a benchmark may hide it), it costs nothing at all.
    if (!statusBar()->isVisibleTo(this))
        return;
    const quint32 now = m_tick();
    const LinkStatistics::Revision revision = m_statistics.revision(now);
    const int period = sldPeriod->value();
    if (revision == m_shownRevision && period == m_shownPeriod)
        return;
    m_shownRevision = revision;
    m_shownPeriod = period;
    const QStringList parts = m_statistics.parts(period, now);
    // Three short lines fit the window's width where one would not.
    const QString text = parts.value(0) + QLatin1String(" | ") + parts.value(1) + QLatin1Char('\n')
        + parts.value(2) + QLatin1Char('\n') + parts.value(3);
    m_statisticsLabel->setText(text);
    m_statisticsLabel->setAccessibleDescription(m_statistics.summary(period, now));
}

void frmMain::AppendToPane(LogPane &pane, QByteArrayView text)
{
    // The pane decides whether it shows the new line: it follows its end unless the user
    // reads or selects elsewhere. The file, when there is one, gets every line regardless.
    pane.append(text);
    if (FileLog *const log = &pane == txtStat ? m_statusLog : m_dumpLog)
        log->write(text);
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
    // The program may end inside the report, past every destructor: what the files have not
    // written yet goes to disk first, since a failed run is when the log matters most.
    delete m_statusLog;
    m_statusLog = nullptr;
    delete m_dumpLog;
    m_dumpLog = nullptr;
    m_reporter.report(error.code, error.description);
}
