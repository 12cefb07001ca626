// SPDX-License-Identifier: MIT
#include "app/GraphWindow.h"

#include "app/Captions.h"
#include "engine/IntervalStore.h"

#include <QDateTime>
#include <QFileDialog>
#include <QHideEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QPdfWriter>
#include <QSaveFile>
#include <QScopedValueRollback>
#include <QShowEvent>
#include <QToolTip>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace {

// Every text the graph window shows, in one place.
namespace Text {
constexpr char kSavePng[] = "PNG で保存...";
constexpr char kSavePdf[] = "PDF で保存...";
constexpr char kSaveCsv[] = "CSV で保存...";
constexpr char kClose[] = "閉じる";
constexpr char kFollow[] = "最新を表示";
constexpr char kPngFile[] = "quillon-graph.png";
constexpr char kPdfFile[] = "quillon-graph.pdf";
constexpr char kCsvFile[] = "quillon-graph.csv";
constexpr char kPngFilter[] = "PNG 画像 (*.png)";
constexpr char kPdfFilter[] = "PDF (*.pdf)";
constexpr char kCsvFilter[] = "CSV (*.csv)";
// %1 is the file, %2 the reason.
constexpr char kSaveFailed[] = "%1 に保存できませんでした: %2";
constexpr char kTime[] = "時刻";
constexpr char kRate[] = "データグラム/秒";
constexpr char kLost[] = "欠落 (個/区間)";
constexpr char kRoundTrip[] = "往復時間 (ms)\n中央値と p99";
constexpr char kJitter[] = "ゆらぎ (ms)";
constexpr char kSent[] = "送信";
constexpr char kOthers[] = "その他";
constexpr char kOutages[] = "途絶";
constexpr char kP99[] = "%1 p99";
// The hover's figures: the interval, then one line a record.
constexpr char kInterval[] = "%1 から %2 秒";
constexpr char kSentFigures[] = "送信: %1 個 (%2 /秒)";
constexpr char kStreamFigures[] = "%1: 受信 %2 個 (%3 /秒) 欠落 %4";
constexpr char kRoundTripFigures[] = " 往復 中央値 %1 ms p99 %2 ms";
constexpr char kJitterFigures[] = " ゆらぎ %1 ms";
constexpr char kOutageFigures[] = " 途絶 %1 回 (最長 %2 ms)";
} // namespace Text

constexpr QSize kInitialSize(900, 720);
constexpr char kOutageLayer[] = "outages";
constexpr double kMsPerSecond = 1000;
constexpr double kNsPerMs = 1e6;
// Room above the highest value, so that a line at the top stays in sight.
constexpr double kHeadroom = 1.1;
// The legends take only the room they need, their tops level with the panels'.
constexpr QMargins kLegendMargins(0, 12, 6, 0);
constexpr double kLegendStretch = 0.01;
// Of 255, how much of a line's colour its fills take, and its p99's line.
constexpr int kBandTint = 50;
constexpr int kBarTint = 110;
constexpr int kP99Alpha = 110;
constexpr QColor kOutageShade(225, 225, 225);
constexpr QColor kHiddenText(160, 160, 160);
// Okabe and Ito's colours, which people with any common colour-blindness can tell apart, one to
// a sender; the yellow last, as it is the faintest on white.
using SenderColours = std::array<QColor, GraphSeries::kMaxSenderLines>;
constexpr SenderColours kSenderColours { { QColor(0x00, 0x72, 0xB2), QColor(0xD5, 0x5E, 0x00),
    QColor(0x00, 0x9E, 0x73), QColor(0xCC, 0x79, 0xA7), QColor(0xE6, 0x9F, 0x00),
    QColor(0x56, 0xB4, 0xE9), QColor(0xF0, 0xE4, 0x42) } };
constexpr QColor kSentColour(0, 0, 0);
constexpr QColor kOthersColour(0x99, 0x99, 0x99);
// Tick labels by the span in view.
constexpr double kDaySeconds = 24 * 60 * 60;
constexpr double kHourSeconds = 60 * 60;

QString text(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

QString milliseconds(qint64 ns)
{
    return QString::number(double(ns) / kNsPerMs, 'f', 2);
}

QString lineName(const StreamKey &stream)
{
    switch (stream.family) {
    case StreamKey::Family::Sent:
        return text(Text::kSent);
    case StreamKey::Family::Others:
        return text(Text::kOthers);
    case StreamKey::Family::IPv4:
    case StreamKey::Family::IPv6:
    case StreamKey::Family::Echoed:
        break;
    }
    return stream.toString();
}

QPen linePen(const StreamKey &stream, int sender)
{
    if (stream.family == StreamKey::Family::Sent)
        return QPen(kSentColour, 1);
    if (stream.family == StreamKey::Family::Others)
        return QPen(kOthersColour, 1);
    return QPen(kSenderColours[size_t(sender) % kSenderColours.size()], 1);
}

// The colour mixed with white: opaque, as a translucent fill costs twice as much to draw.
QColor tint(const QColor &colour, int share)
{
    const auto mix = [share](int c) { return 255 - (255 - c) * share / 255; };
    return QColor(mix(colour.red()), mix(colour.green()), mix(colour.blue()));
}

QColor withAlpha(QColor colour, int alpha)
{
    colour.setAlpha(alpha);
    return colour;
}

void setData(QCPGraph *graph, const GraphSeries::Series &series)
{
    graph->setData(series.keys, series.values, true);
}

} // namespace

GraphWindow::GraphWindow(const IntervalStore &records, const QString &title, QWidget *parent)
    : QMainWindow(parent)
    , m_records(records)
    , m_plot(new QCustomPlot(this))
{
    setWindowTitle(title);
    setCentralWidget(m_plot);
    m_plot->setObjectName(QStringLiteral("graph"));
    setUpPanels();
    setUpMenus();
    resize(kInitialSize);
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(kRefresh);
    connect(&m_refresh, &QTimer::timeout, this, &GraphWindow::refresh);
    connect(m_plot, &QCustomPlot::beforeReplot, this, &GraphWindow::draw);
    connect(m_plot, &QCustomPlot::mouseDoubleClick, this, &GraphWindow::follow);
    connect(m_plot, &QCustomPlot::mouseMove, this, &GraphWindow::showFigures);
    connect(m_plot, &QCustomPlot::legendClick, this, &GraphWindow::toggle);
}

GraphWindow::~GraphWindow() = default;

void GraphWindow::setUpPanels()
{
    m_plot->setAutoAddPlottableToLegend(false);
    m_plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    m_plot->setNoAntialiasingOnDrag(true);
    // Smoothed, the p99 band and the shading cost more than all the lines; their edges are
    // drawn by the lines anyway.
    m_plot->setNotAntialiasedElements(QCP::aeFills);
    // Shading under the grid and the lines.
    m_plot->addLayer(
        QLatin1String(kOutageLayer), m_plot->layer(QStringLiteral("grid")), QCustomPlot::limBelow);
    m_plot->plotLayout()->clear();

    QSharedPointer<QCPAxisTickerDateTime> ticker(new QCPAxisTickerDateTime);
    auto *const margins = new QCPMarginGroup(m_plot);
    const std::array<const char *, kPanels> labels { Text::kRate, Text::kLost, Text::kRoundTrip,
        Text::kJitter };
    for (int i = 0; i < kPanels; ++i) {
        auto *const panel = new QCPAxisRect(m_plot);
        m_plot->plotLayout()->addElement(i, 0, panel);
        m_panels[size_t(i)] = panel;
        panel->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
        panel->setRangeDrag(Qt::Horizontal);
        panel->setRangeZoom(Qt::Horizontal);
        QCPAxis *const time = panel->axis(QCPAxis::atBottom);
        panel->setRangeDragAxes(time, nullptr);
        panel->setRangeZoomAxes(time, nullptr);
        time->setTicker(ticker);
        // Only the lowest panel labels the time; the others share its ticks.
        const bool lowest = i == kPanels - 1;
        time->setTickLabels(lowest);
        if (lowest)
            time->setLabel(text(Text::kTime));
        panel->axis(QCPAxis::atLeft)->setLabel(text(labels[size_t(i)]));
        panel->axis(QCPAxis::atTop)->setVisible(false);
        QCPAxis *const shade = panel->axis(QCPAxis::atRight);
        shade->setVisible(false);
        shade->setRange(0, 1);
        connect(time, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), this,
            &GraphWindow::timeRangeChanged);

        // Beside the panel rather than over its lines, at its top.
        auto *const side = new QCPLayoutGrid;
        m_plot->plotLayout()->addElement(i, 1, side);
        auto *const legend = new QCPLegend;
        side->addElement(0, 0, legend);
        side->addElement(1, 0, new QCPLayoutElement(m_plot));
        side->setRowStretchFactor(0, kLegendStretch);
        side->setAutoMargins(QCP::msNone);
        side->setMargins(kLegendMargins);
        legend->setLayer(QStringLiteral("legend"));
        legend->setVisible(true);
        m_legends[size_t(i)] = legend;

        QCPGraph *const outages = m_plot->addGraph(time, shade);
        outages->setLayer(QLatin1String(kOutageLayer));
        outages->setName(text(Text::kOutages));
        outages->setLineStyle(QCPGraph::lsStepLeft);
        outages->setPen(Qt::NoPen);
        outages->setBrush(kOutageShade);
        m_outages[size_t(i)] = outages;
    }
    m_plot->plotLayout()->setColumnStretchFactor(1, kLegendStretch);
    // One entry hides the shading of every panel.
    m_outages.front()->addToLegend(m_legends.front());
    addLine(0);
}

void GraphWindow::setUpMenus()
{
    QMenu *const file = menuBar()->addMenu(QString::fromUtf8(Captions::kFileMenu));
    connect(
        file->addAction(text(Text::kSavePng)), &QAction::triggered, this, &GraphWindow::savePng);
    connect(
        file->addAction(text(Text::kSavePdf)), &QAction::triggered, this, &GraphWindow::savePdf);
    connect(
        file->addAction(text(Text::kSaveCsv)), &QAction::triggered, this, &GraphWindow::saveCsv);
    file->addSeparator();
    QAction *const close = file->addAction(text(Text::kClose));
    close->setShortcut(QKeySequence::Close);
    connect(close, &QAction::triggered, this, &QWidget::close);
    QMenu *const view = menuBar()->addMenu(QString::fromUtf8(Captions::kViewMenu));
    QAction *const follow = view->addAction(text(Text::kFollow));
    follow->setShortcut(Qt::Key_End);
    connect(follow, &QAction::triggered, this, &GraphWindow::follow);
}

void GraphWindow::addLine(int index)
{
    const GraphSeries::Line &line = m_series.lines()[size_t(index)];
    const QString name = lineName(line.stream);
    const auto isSender = [](const GraphSeries::Line &l) { return l.stream.isAddress(); };
    const QPen pen = linePen(line.stream,
        int(std::count_if(m_series.lines().begin(), m_series.lines().begin() + index, isSender)));
    const auto axis
        = [this](Panel p, QCPAxis::AxisType type) { return m_panels[size_t(p)]->axis(type); };
    const auto graph = [&](Panel p, const QString &graphName) {
        QCPGraph *const g = m_plot->addGraph(axis(p, QCPAxis::atBottom), axis(p, QCPAxis::atLeft));
        g->setName(graphName);
        g->setPen(pen);
        return g;
    };
    LinePlottables plottables;
    plottables.rate = graph(Panel::Rate, name);
    plottables.rate->addToLegend(m_legends[size_t(Panel::Rate)]);
    if (index > 0) {
        plottables.lost
            = new QCPBars(axis(Panel::Lost, QCPAxis::atBottom), axis(Panel::Lost, QCPAxis::atLeft));
        plottables.lost->setName(name);
        plottables.lost->setPen(pen);
        plottables.lost->setBrush(tint(pen.color(), kBarTint));
        plottables.lost->addToLegend(m_legends[size_t(Panel::Lost)]);
        plottables.rttMedian = graph(Panel::RoundTrip, name);
        // The band goes with its median: one entry in the legend hides both.
        plottables.rttMedian->addToLegend(m_legends[size_t(Panel::RoundTrip)]);
        plottables.rttP99 = graph(Panel::RoundTrip, text(Text::kP99).arg(name));
        plottables.rttP99->setPen(QPen(withAlpha(pen.color(), kP99Alpha), 1));
        plottables.rttP99->setBrush(tint(pen.color(), kBandTint));
        plottables.rttP99->setChannelFillGraph(plottables.rttMedian);
        plottables.jitter = graph(Panel::Jitter, name);
        plottables.jitter->addToLegend(m_legends[size_t(Panel::Jitter)]);
    }
    m_lines.push_back(plottables);
}

void GraphWindow::clearLines()
{
    for (const LinePlottables &line : m_lines) {
        for (QCPAbstractPlottable *const plottable : std::initializer_list<QCPAbstractPlottable *> {
                 line.rate, line.lost, line.rttMedian, line.rttP99, line.jitter }) {
            if (plottable)
                m_plot->removePlottable(plottable);
        }
    }
    m_lines.clear();
}

void GraphWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    m_shown = true;
    setWatching();
}

void GraphWindow::hideEvent(QHideEvent *event)
{
    QMainWindow::hideEvent(event);
    m_shown = false;
    setWatching();
}

void GraphWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        setWatching();
}

void GraphWindow::setWatching()
{
    const bool watching = m_shown && !isMinimized();
    if (watching == m_watching)
        return;
    m_watching = watching;
    if (watching)
        refresh();
    else
        m_refresh.stop();
}

void GraphWindow::recordsChanged()
{
    // Unseen, the window does nothing; it catches up when it is seen again.
    if (!m_watching || m_refresh.isActive())
        return;
    m_refresh.start();
}

GraphWindow::Revision GraphWindow::revision() const
{
    const qsizetype size = m_records.size();
    return { m_records.appended(), size > 0 ? m_records.at(size - 1).startWallMs : 0 };
}

void GraphWindow::refresh()
{
    if (m_watching && revision() != m_drawn)
        m_plot->replot();
}

void GraphWindow::follow()
{
    m_following = true;
    m_followSpan = timeAxis()->range().size();
    m_plot->replot();
}

QCPAxis *GraphWindow::timeAxis() const
{
    return m_panels.front()->axis(QCPAxis::atBottom);
}

void GraphWindow::showNewest()
{
    const qsizetype size = m_records.size();
    if (size == 0) {
        const double now = double(QDateTime::currentMSecsSinceEpoch()) / kMsPerSecond;
        setTimeRange(now - kShortestViewSeconds, now);
        return;
    }
    const IntervalRecord &newest = m_records.at(size - 1);
    const double end
        = (double(newest.startWallMs) + double(newest.lengthNs) / kNsPerMs) / kMsPerSecond;
    const double start = double(m_records.at(0).startWallMs) / kMsPerSecond;
    setTimeRange(std::max(start, end - m_followSpan), end);
}

void GraphWindow::setTimeRange(double lower, double upper)
{
    const double middle = (lower + upper) / 2;
    const double span = std::clamp(upper - lower, kShortestViewSeconds, kLongestViewSeconds);
    const QScopedValueRollback setting(m_settingRange, true);
    for (QCPAxisRect *const panel : m_panels)
        panel->axis(QCPAxis::atBottom)->setRange(middle - span / 2, middle + span / 2);
}

void GraphWindow::timeRangeChanged(const QCPRange &range)
{
    if (m_settingRange)
        return;
    // The user zoomed or dragged: the view holds there, every panel alike.
    m_following = false;
    setTimeRange(range.lower, range.upper);
}

void GraphWindow::draw()
{
    if (m_following)
        showNewest();
    const QCPRange range = timeAxis()->range();
    const bool changed = m_series.update(m_records, qint64(std::floor(range.lower * kMsPerSecond)),
        qint64(std::ceil(range.upper * kMsPerSecond)), m_panels.front()->width());
    m_drawn = revision();
    const auto ticker = timeAxis()->ticker().dynamicCast<QCPAxisTickerDateTime>();
    ticker->setDateTimeFormat(range.size() > kDaySeconds ? QStringLiteral("M/d\nhh:mm")
            : range.size() > kHourSeconds                ? QStringLiteral("hh:mm")
                                                         : QStringLiteral("hh:mm:ss"));
    if (!changed)
        return;
    if (m_series.generation() != m_generation) {
        m_generation = m_series.generation();
        clearLines();
    }
    const std::vector<GraphSeries::Line> &lines = m_series.lines();
    while (m_lines.size() < lines.size())
        addLine(int(m_lines.size()));
    for (size_t i = 0; i < lines.size(); ++i) {
        const GraphSeries::Line &line = lines[i];
        const LinePlottables &plottables = m_lines[i];
        setData(plottables.rate, line.rate);
        if (!plottables.lost)
            continue;
        plottables.lost->setData(line.lost.keys, line.lost.values, true);
        plottables.lost->setWidth(m_series.barWidthSeconds());
        setData(plottables.rttMedian, line.rttMedian);
        setData(plottables.rttP99, line.rttP99);
        setData(plottables.jitter, line.jitter);
    }
    for (QCPGraph *const outages : m_outages)
        setData(outages, m_series.outages());
    rescaleValues();
}

void GraphWindow::rescaleValues()
{
    for (QCPAxisRect *const panel : m_panels) {
        QCPAxis *const values = panel->axis(QCPAxis::atLeft);
        // From 0, so that heights compare; a panel with nothing in it still shows a scale.
        double lower = 0;
        double upper = 0;
        for (QCPAbstractPlottable *const plottable : panel->plottables()) {
            bool found = false;
            const QCPRange range = plottable->getValueRange(found);
            if (found && plottable->visible() && plottable->valueAxis() == values) {
                lower = std::min(lower, range.lower);
                upper = std::max(upper, range.upper);
            }
        }
        values->setRange(lower * kHeadroom, upper > 0 ? upper * kHeadroom : 1);
    }
}

void GraphWindow::toggle(QCPLegend *, QCPAbstractLegendItem *item)
{
    auto *const entry = qobject_cast<QCPPlottableLegendItem *>(item);
    if (!entry)
        return;
    QCPAbstractPlottable *const plottable = entry->plottable();
    const bool visible = !plottable->visible();
    if (plottable == m_outages.front()) {
        for (QCPGraph *const outages : m_outages)
            outages->setVisible(visible);
    }
    plottable->setVisible(visible);
    for (const LinePlottables &line : m_lines) {
        if (plottable == line.rttMedian)
            line.rttP99->setVisible(visible);
    }
    entry->setTextColor(visible ? QColor(Qt::black) : kHiddenText);
    rescaleValues();
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

void GraphWindow::showFigures(QMouseEvent *event)
{
    if (event->buttons() != Qt::NoButton)
        return;
    const QCPAxisRect *const panel = m_plot->axisRectAt(event->position());
    const qsizetype first = panel
        ? GraphSeries::intervalAt(m_records,
            qint64(std::floor(panel->axis(QCPAxis::atBottom)->pixelToCoord(event->position().x())
                * kMsPerSecond)))
        : -1;
    if (first < 0) {
        QToolTip::hideText();
        return;
    }
    QToolTip::showText(event->globalPosition().toPoint(), figures(first), m_plot);
}

QString GraphWindow::figures(qsizetype first) const
{
    const IntervalRecord &interval = m_records.at(first);
    QStringList lines { text(Text::kInterval)
                            .arg(QDateTime::fromMSecsSinceEpoch(interval.startWallMs)
                                     .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")))
                            .arg(double(interval.lengthNs) / 1e9) };
    for (qsizetype i = first;
         i < m_records.size() && m_records.at(i).startWallMs == interval.startWallMs; ++i) {
        const IntervalRecord &r = m_records.at(i);
        const QString rate = QString::number(r.datagramsPerSecond(), 'f', 1);
        if (r.isSent()) {
            lines << text(Text::kSentFigures).arg(r.datagrams).arg(rate);
            continue;
        }
        QString line = text(Text::kStreamFigures)
                           .arg(lineName(r.stream))
                           .arg(r.datagrams)
                           .arg(rate)
                           .arg(r.lost);
        if (r.rttMedianNs != IntervalRecord::kNone)
            line += text(Text::kRoundTripFigures)
                        .arg(milliseconds(r.rttMedianNs), milliseconds(r.rttP99Ns));
        if (r.jitterNs != IntervalRecord::kNone)
            line += text(Text::kJitterFigures).arg(milliseconds(r.jitterNs));
        if (r.outages > 0)
            line += text(Text::kOutageFigures).arg(r.outages).arg(milliseconds(r.longestOutageNs));
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

QString GraphWindow::askPath(const char *title, const char *fileName, const char *filter)
{
    QString dialogTitle = text(title);
    dialogTitle.remove(QLatin1String("..."));
    return QFileDialog::getSaveFileName(this, dialogTitle, text(fileName), text(filter));
}

void GraphWindow::saveFailed(const char *title, const QString &path, const QString &reason)
{
    QString dialogTitle = text(title);
    dialogTitle.remove(QLatin1String("..."));
    QMessageBox::warning(this, dialogTitle, text(Text::kSaveFailed).arg(path, reason));
}

void GraphWindow::savePng()
{
    const QString path = askPath(Text::kSavePng, Text::kPngFile, Text::kPngFilter);
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && m_plot->toPixmap().save(&file, "PNG") && file.commit())
        return;
    saveFailed(Text::kSavePng, path, file.errorString());
}

void GraphWindow::savePdf()
{
    const QString path = askPath(Text::kSavePdf, Text::kPdfFile, Text::kPdfFilter);
    if (path.isEmpty())
        return;
    // Drawn as vectors, a point to each pixel of the window.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        QPdfWriter pdf(&file);
        pdf.setCreator(QStringLiteral("Quillon"));
        pdf.setTitle(windowTitle());
        pdf.setPageLayout(QPageLayout(
            QPageSize(m_plot->size(), QPageSize::Point), QPageLayout::Portrait, QMarginsF()));
        QCPPainter painter(&pdf);
        painter.setMode(QCPPainter::pmVectorized);
        painter.setWindow(m_plot->rect());
        m_plot->toPainter(&painter);
        if (painter.end() && file.commit())
            return;
    }
    saveFailed(Text::kSavePdf, path, file.errorString());
}

void GraphWindow::saveCsv()
{
    const QString path = askPath(Text::kSaveCsv, Text::kCsvFile, Text::kCsvFilter);
    if (path.isEmpty())
        return;
    // The records behind the picture: those of the intervals in view.
    const QCPRange range = timeAxis()->range();
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)
        && GraphSeries::writeCsv(file, m_records, qint64(std::floor(range.lower * kMsPerSecond)),
            qint64(std::ceil(range.upper * kMsPerSecond)))
        && file.commit())
        return;
    saveFailed(Text::kSaveCsv, path, file.errorString());
}
