// SPDX-License-Identifier: MIT
#include "app/frmMain.h"

#include "app/AppIcon.h"
#include "app/Captions.h"
#include "app/Controls.h"
#include "app/ExternalDestroyWatch.h"
#include "app/GraphWindow.h"
#include "app/NoticeView.h"
#include "app/SaveDialog.h"
#include "app/StatisticsView.h"
#include "app/ViewMenu.h"
#include "engine/JsonRecords.h"
#include "engine/LinkEngine.h"
#include "engine/LinkFigures.h"
#include "engine/Timer.h"
#include "net/UdpEndpoint.h"
#include "pane/LogPane.h"

#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileDevice>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QShowEvent>
#include <QSlider>
#include <QStatusBar>
#include <QToolTip>
#include <QVBoxLayout>

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

QString caption(const char *text)
{
    return QString::fromUtf8(text);
}

QString titleFor(const Settings &settings)
{
    if (settings.endpointsAreDefault())
        return caption(Captions::kWindow);
    // A group is named as one, with the interface it is joined or sent on.
    const QString local = settings.bindAddress.isMulticast()
        ? settings.groupText(settings.localEndpointText(), true)
        : settings.localEndpointText();
    const QString peer = QHostAddress(settings.peerHost).isMulticast()
        ? settings.groupText(settings.peerEndpointText(), false)
        : settings.peerEndpointText();
    return caption(Captions::kTitleWithEndpoints).arg(caption(Captions::kWindow), local, peer);
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
    , m_engine(new LinkEngine(std::move(tick), reporter, *this, settings, std::move(lookup), this))
    , m_client(new QWidget(this))
    , txtDump(place(new LogPane(m_client, settings.paneBudget), "txtDump", kDumpPaneRect))
    , cmdSend(place(new QPushButton(caption(Captions::kSend), m_client), "cmdSend", kSendRect))
    , txtStat(place(new LogPane(m_client, settings.paneBudget), "txtStat", kStatusPaneRect))
    , sldPeriod(place(new QSlider(m_client), "sldPeriod", kPeriodRect))
    , chkDump(place(new QCheckBox(caption(Captions::kDump), m_client), "chkDump", kDumpBoxRect))
    , cmdMonitorInit(
          place(new QPushButton(caption(Captions::kClear), m_client), "cmdMonitorInit", kClearRect))
    , tmr1(&m_engine->timer())
    , wskClient(&m_engine->endpoint())
    , m_statisticsView(new StatisticsView(this))
    , m_fileLogNotice(new NoticeView(this))
{
    setWindowTitle(titleFor(settings));
    setWindowIcon(appIcon());
    setUpClientArea();
    setUpMenus();
    setUpViewMenu();
    m_viewMenu = new ViewMenu(*this, *m_engine, *txtStat, *txtDump);
    setUpStatusBar();
    connectControls();
    // Before the link opens, so that a failure to bind has a start record to end; it ends with
    // the link.
    if (!settings.jsonFile.isEmpty())
        new JsonRecords(*m_engine, settings.jsonFile, this);

    Form_Load();

    refreshStatistics();
    fitClientArea();
    if (settings.dumpAtStart)
        chkDump->setChecked(true);
    if (settings.sendAtStart && wskClient->isBound())
        cmdSend_Click();
    if (settings.graphAtStart)
        mnuGraph_Click();
}

void frmMain::setUpViewMenu()
{
    mnuView = menuBar()->addMenu(caption(Captions::kViewMenu));
    mnuView->setObjectName(QStringLiteral("mnuView"));
    mnuGraph = mnuView->addAction(caption(Captions::kGraph));
    mnuGraph->setObjectName(QStringLiteral("mnuGraph"));
    connect(mnuGraph, &QAction::triggered, this, &frmMain::mnuGraph_Click);
}

void frmMain::mnuGraph_Click()
{
    if (!m_graph) {
        m_graph = new GraphWindow(
            m_engine->measure().records(), caption(Captions::kGraphTitle).arg(windowTitle()), this);
        m_graph->setObjectName(QStringLiteral("frmGraph"));
        m_graph->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_engine, &LinkEngine::intervalsClosed, m_graph, &GraphWindow::recordsChanged);
        // 表示初期化 starts the records over, after the engine has been told.
        connect(cmdMonitorInit, &QPushButton::clicked, m_graph, &GraphWindow::recordsChanged);
    }
    m_graph->show();
    m_graph->raise();
    m_graph->activateWindow();
}

void frmMain::setUpClientArea()
{
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
    m_fileLogNotice->setObjectName(QStringLiteral("fileLogNotice"));
    m_fileLogNotice->hide();

    txtDump->setAccessibleName(caption(Captions::kDumpPaneName));
    txtStat->setAccessibleName(caption(Captions::kStatusPaneName));
    txtDump->setToolTip(caption(Captions::kDumpPaneToolTip));
    Controls::setUpPeriodSlider(*sldPeriod);
    sldPeriod->setAccessibleName(caption(Captions::kPeriodName));

    setTabOrder(txtDump, cmdSend);
    setTabOrder(cmdSend, txtStat);
    setTabOrder(txtStat, sldPeriod);
    setTabOrder(sldPeriod, chkDump);
    setTabOrder(chkDump, cmdMonitorInit);
}

void frmMain::setUpMenus()
{
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
}

void frmMain::setUpStatusBar()
{
    // Below the client area, so that the controls keep their places and the window grows.
    m_statisticsView->setObjectName(QStringLiteral("statistics"));
    m_statisticsView->setAccessibleName(caption(Captions::kStatisticsName));
    statusBar()->addWidget(m_statisticsView, 1);
    statusBar()->setSizeGripEnabled(false);
}

void frmMain::connectControls()
{
    connect(mnuExit, &QAction::triggered, this, &frmMain::mnuExit_Click);
    connect(mnuSaveStatus, &QAction::triggered, this, &frmMain::mnuSaveStatus_Click);
    connect(mnuSaveDump, &QAction::triggered, this, &frmMain::mnuSaveDump_Click);
    connect(mnuCopyStatistics, &QAction::triggered, this, &frmMain::mnuCopyStatistics_Click);
    connect(cmdSend, &QPushButton::clicked, this, &frmMain::cmdSend_Click);
    connect(sldPeriod, &QSlider::valueChanged, this, &frmMain::sldPeriod_Change);
    connect(sldPeriod, &QSlider::sliderMoved, this, &frmMain::showPeriod);
    connect(chkDump, &QCheckBox::toggled, m_engine, &LinkEngine::setDumping);
    connect(cmdMonitorInit, &QPushButton::clicked, this, &frmMain::cmdMonitorInit_Click);
    connect(tmr1, &Timer::tick, this, &frmMain::tmr1_Timer);
    connect(wskClient, &UdpEndpoint::dataArrival, this, &frmMain::wskClient_DataArrival);
    connect(wskClient, &UdpEndpoint::sendProgress, this, &frmMain::wskClient_SendProgress);
    connect(wskClient, &UdpEndpoint::sendComplete, this, &frmMain::wskClient_SendComplete);
    connect(m_engine, &LinkEngine::fileLogStopped, this, &frmMain::showFileLogNotice);
    connect(m_engine, &LinkEngine::intervalsClosed, this, &frmMain::figuresChanged);
    // Another program destroying the X window leaves nothing to close it by: end as 終了 would.
    connect(new ExternalDestroyWatch(this), &ExternalDestroyWatch::destroyedFromOutside, this,
        &frmMain::mnuExit_Click);
    connect(
        m_statisticsView, &StatisticsView::copyRequested, this, &frmMain::mnuCopyStatistics_Click);
}

qint16 frmMain::patternCounter() const
{
    return m_engine->patternCounter();
}

const LinkStatistics &frmMain::statistics() const
{
    return m_engine->statistics();
}

const LinkEngine &frmMain::engine() const
{
    return *m_engine;
}

frmMain::~frmMain()
{
    // Also covers an end of the program that never sent this window a close event.
    Form_Unload();
}

void frmMain::Form_Load()
{
    if (m_engine->open())
        sldPeriod->setValue(m_engine->settings().period);
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
    m_engine->close();
}

void frmMain::mnuExit_Click()
{
    close();
}

void frmMain::cmdSend_Click()
{
    const bool sending = !m_engine->isSending();
    m_engine->setSending(sending);
    cmdSend->setText(caption(sending ? Captions::kStop : Captions::kSend));
}

void frmMain::sldPeriod_Change()
{
    m_engine->setPeriod(sldPeriod->value());
    figuresChanged();
    sldPeriod->setToolTip(caption(Captions::kPeriodToolTip).arg(sldPeriod->value()));
}

void frmMain::showPeriod()
{
    // While dragged, the value follows the handle.
    QToolTip::showText(QCursor::pos(), sldPeriod->toolTip(), sldPeriod);
}

void frmMain::tmr1_Timer()
{
    m_engine->sendTick();
}

void frmMain::cmdMonitorInit_Click()
{
    ClearPane(*txtDump);
    ClearPane(*txtStat);
    // The figures are part of the display; the pattern counter is not.
    m_engine->resetStatistics();
    refreshStatistics();
}

void frmMain::wskClient_DataArrival(qint32 bytesTotal)
{
    m_engine->receive(bytesTotal);
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
    QGuiApplication::clipboard()->setText(LinkFigures::summary(m_engine->statistics(),
        m_engine->measure().streams(), sldPeriod->value(), m_engine->now()));
}

void frmMain::savePane(const LogPane &pane, const char *title, const char *fileName)
{
    saveWithDialog(this, caption(title), caption(fileName), caption(Captions::kSaveFilter),
        [&pane](QFileDevice &file, QString &) { return pane.save(file); });
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

void frmMain::figuresChanged()
{
    // While the sender runs, its next send refreshes the bar as often as it may be.
    m_statisticsRefresh.request(
        std::chrono::milliseconds(m_engine->isSending() ? sldPeriod->value() : 0));
}

void frmMain::refreshStatistics()
{
    // Hidden (as a benchmark may hide it), it costs nothing at all.
    if (!statusBar()->isVisibleTo(this))
        return;
    const LinkStatistics &statistics = m_engine->statistics();
    const LinkMeasure &measure = m_engine->measure();
    const quint32 now = m_engine->now();
    const Revision revision { statistics.revision(now), measure.records().appended() };
    const int period = sldPeriod->value();
    if (revision == m_shownRevision && period == m_shownPeriod)
        return;
    m_shownRevision = revision;
    m_shownPeriod = period;
    m_statisticsView->setLines(LinkFigures::statusLines(
        statistics, measure.streams(), m_engine->shownStream(), period, now));
    m_statisticsView->setAccessibleDescription(
        LinkFigures::summary(statistics, measure.streams(), period, now));
    // The rate moves with time alone until the newest datagram leaves its window: look again
    // until then.
    if (statistics.rateMoving(now))
        figuresChanged();
}

void frmMain::append(Log log, QByteArrayView text)
{
    AppendToPane(log == Log::Status ? *txtStat : *txtDump, text);
}

void frmMain::appendDump(QByteArrayView payload)
{
    txtDump->appendHexDump(payload);
    AppendToPane(*txtDump, "\r\n");
}

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
