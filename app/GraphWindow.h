// SPDX-License-Identifier: MIT
#pragma once

#include "engine/GraphSeries.h"

#include <QMainWindow>
#include <QTimer>

#include <array>
#include <chrono>
#include <vector>

class IntervalStore;
class QCPAbstractLegendItem;
class QCPAxis;
class QCPAxisRect;
class QCPBars;
class QCPGraph;
class QCPLegend;
class QCPRange;
class QCustomPlot;
class QMouseEvent;

// The link as a picture, drawn from the interval records against wall-clock time: datagrams per
// second sent and received, datagrams lost per interval, the round-trip time's median with its
// p99 as a band, and the jitter, each in a panel of its own with the outages shaded. It keeps
// nothing of the records beyond what the plot draws, so closed it costs nothing and reopened it
// shows the whole run.
//
// Like the log panes it follows the newest intervals while left alone; a zoom with the wheel or
// a drag holds it, and a double-click or End follows again. It redraws at most every kRefresh,
// only when the records changed, and not at all while it is hidden or minimised.
class GraphWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kRefresh { 250 };
    // What a following view shows at first: the newest five minutes.
    static constexpr double kFollowSpanSeconds = 5 * 60;
    // How far the view zooms in and out.
    static constexpr double kShortestViewSeconds = 1;
    static constexpr double kLongestViewSeconds = 400 * 24 * 60 * 60;

    enum class Panel { Rate, Lost, RoundTrip, Jitter };
    static constexpr int kPanels = 4;

    GraphWindow(const IntervalStore &records, const QString &title, QWidget *parent = nullptr);
    ~GraphWindow() override;

    // Records were appended, or they started over.
    void recordsChanged();
    // Shows the newest intervals again, over the span now in view.
    void follow();
    bool isFollowing() const { return m_following; }
    QCustomPlot *plot() const { return m_plot; }
    QCPAxisRect *panel(Panel panel) const { return m_panels[size_t(panel)]; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // The records as last drawn; they change with every interval and when they start over.
    struct Revision
    {
        qint64 appended = -1;
        qint64 newestStartMs = 0;
        friend bool operator==(const Revision &, const Revision &) = default;
    };
    struct LinePlottables
    {
        QCPGraph *rate = nullptr;
        QCPBars *lost = nullptr;
        QCPGraph *rttMedian = nullptr;
        QCPGraph *rttP99 = nullptr;
        QCPGraph *jitter = nullptr;
    };

    void setUpPanels();
    void setUpMenus();
    Revision revision() const;
    void setWatching();
    void refresh();
    // Before every replot, whoever asked for it: the view, then the data for it.
    void draw();
    void showNewest();
    void setTimeRange(double lower, double upper);
    void timeRangeChanged(const QCPRange &range);
    void addLine(int index);
    void clearLines();
    void rescaleValues();
    void showFigures(QMouseEvent *event);
    QString figures(qsizetype first) const;
    void toggle(QCPLegend *legend, QCPAbstractLegendItem *item);
    QCPAxis *timeAxis() const;
    void savePng();
    void savePdf();
    void saveCsv();
    QString askPath(const char *title, const char *fileName, const char *filter);
    void saveFailed(const char *title, const QString &path, const QString &reason);

    const IntervalStore &m_records;
    GraphSeries m_series;
    QCustomPlot *const m_plot;
    std::array<QCPAxisRect *, kPanels> m_panels {};
    std::array<QCPLegend *, kPanels> m_legends {};
    std::array<QCPGraph *, kPanels> m_outages {};
    std::vector<LinePlottables> m_lines;
    int m_generation = m_series.generation();
    QTimer m_refresh;
    Revision m_drawn;
    bool m_following = true;
    double m_followSpan = kFollowSpanSeconds;
    bool m_settingRange = false;
    bool m_shown = false;
    bool m_watching = false;
};
