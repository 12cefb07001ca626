// SPDX-License-Identifier: MIT
#include "app/DatagramListWindow.h"

#include "app/Captions.h"
#include "app/DatagramListModel.h"
#include "app/SaveDialog.h"
#include "app/ViewCaptions.h"
#include "engine/DatagramRing.h"
#include "engine/LinkEngine.h"
#include "engine/PcapFile.h"
#include "log/CanonicalDump.h"
#include "pane/LogPane.h"
#include "pane/PaneFont.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDevice>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

namespace {

constexpr QSize kStartSize(760, 560);
// The table takes more of the height than the bytes below it.
constexpr int kTableStretch = 3;
constexpr int kBytesStretch = 2;
constexpr int kEitherDirection = 0;
constexpr int kSentOnly = 1;
constexpr int kReceivedOnly = 2;
// Each column's width in digits, the last one taking what is left; and the room a cell adds.
constexpr int kColumnDigits[] = { 9, 13, 5, 24, 24, 6 };
constexpr int kCellPadding = 12;

QString caption(const char *text)
{
    return QString::fromUtf8(text);
}

QString count(qint64 value)
{
    return QLocale(QLocale::Japanese, QLocale::Japan).toString(value);
}

} // namespace

DatagramListWindow::DatagramListWindow(LinkEngine &engine, qint64 budget, QWidget *parent)
    : QMainWindow(parent, Qt::Window)
    , m_ring(std::make_unique<DatagramRing>(budget))
    , m_engine(&engine)
    , m_model(new DatagramListModel(*m_ring, this))
    , m_direction(new QComboBox(this))
    , m_remote(new QLineEdit(this))
    , m_follow(new QCheckBox(caption(ViewCaptions::kFollow), this))
    , m_budget(new QLabel(this))
    , m_table(new QTableView(this))
    , m_bytes(new LogPane(this))
{
    setObjectName(QStringLiteral("frmDatagramList"));
    setWindowTitle(caption(ViewCaptions::kWindowTitle)
                       .arg(caption(ViewCaptions::kDatagramList), caption(Captions::kWindow)));

    auto *const filters = new QHBoxLayout;
    auto *const directionLabel = new QLabel(caption(ViewCaptions::kDirectionFilter), this);
    directionLabel->setBuddy(m_direction);
    m_direction->addItems({ caption(ViewCaptions::kEitherDirection), caption(ViewCaptions::kSent),
        caption(ViewCaptions::kReceived) });
    auto *const remoteLabel = new QLabel(caption(ViewCaptions::kRemoteFilter), this);
    remoteLabel->setBuddy(m_remote);
    m_remote->setPlaceholderText(caption(ViewCaptions::kRemotePlaceholder));
    m_remote->setToolTip(caption(ViewCaptions::kRemoteFilterToolTip));
    m_remote->setClearButtonEnabled(true);
    m_follow->setChecked(true);
    m_follow->setToolTip(caption(ViewCaptions::kFollowToolTip));
    filters->addWidget(directionLabel);
    filters->addWidget(m_direction);
    filters->addWidget(remoteLabel);
    filters->addWidget(m_remote, 1);
    filters->addWidget(m_follow);

    m_table->setObjectName(QStringLiteral("datagrams"));
    m_table->setAccessibleName(caption(ViewCaptions::kListName));
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    m_table->setWordWrap(false);
    m_table->setFont(paneFont());
    m_table->verticalHeader()->hide();
    // Every row the same height, so that a million rows cost nothing to lay out.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 4);
    m_table->horizontalHeader()->setStretchLastSection(true);
    const int digit = QFontMetrics(m_table->font()).horizontalAdvance(QLatin1Char('0'));
    for (int column = 0; column < int(std::size(kColumnDigits)); ++column)
        m_table->setColumnWidth(column, digit * kColumnDigits[column] + kCellPadding);

    m_bytes->setObjectName(QStringLiteral("datagramBytes"));
    m_bytes->setAccessibleName(caption(ViewCaptions::kBytesName));
    auto *const splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(m_table);
    splitter->addWidget(m_bytes);
    splitter->setStretchFactor(0, kTableStretch);
    splitter->setStretchFactor(1, kBytesStretch);

    auto *const central = new QWidget(this);
    auto *const column = new QVBoxLayout(central);
    column->addLayout(filters);
    column->addWidget(m_budget);
    column->addWidget(splitter, 1);
    setCentralWidget(central);

    QMenu *const file = menuBar()->addMenu(caption(Captions::kFileMenu));
    QAction *const save = file->addAction(caption(ViewCaptions::kSaveCapture));
    save->setObjectName(QStringLiteral("mnuSaveCapture"));
    save->setShortcut(QKeySequence::Save);
    connect(save, &QAction::triggered, this, &DatagramListWindow::saveCapture);
    QAction *const close = file->addAction(caption(ViewCaptions::kClose));
    close->setShortcut(QKeySequence::Close);
    connect(close, &QAction::triggered, this, &QWidget::close);

    connect(m_direction, &QComboBox::currentIndexChanged, this, &DatagramListWindow::applyFilter);
    connect(m_remote, &QLineEdit::textChanged, this, &DatagramListWindow::applyFilter);
    connect(m_follow, &QCheckBox::clicked, this, &DatagramListWindow::setFollowing);
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        &DatagramListWindow::selectionChanged);
    // The value moves only after the action is told, so the look is taken after.
    connect(m_table->verticalScrollBar(), &QAbstractSlider::actionTriggered, this, [this] {
        QMetaObject::invokeMethod(this, &DatagramListWindow::userScrolled, Qt::QueuedConnection);
    });
    m_batchTimer.setInterval(kBatchInterval);
    connect(&m_batchTimer, &QTimer::timeout, this, &DatagramListWindow::takeBatch);

    engine.tap().setRing(m_ring.get());
    showBudget();
    resize(kStartSize);
}

DatagramListWindow::~DatagramListWindow()
{
    if (m_engine)
        m_engine->tap().setRing(nullptr);
}

void DatagramListWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    takeBatch();
    m_batchTimer.start();
}

void DatagramListWindow::hideEvent(QHideEvent *event)
{
    QMainWindow::hideEvent(event);
    // The ring keeps recording; the table catches up when shown again.
    m_batchTimer.stop();
}

void DatagramListWindow::takeBatch()
{
    // Rows only ever leave from the top.
    QScrollBar *const bar = m_table->verticalScrollBar();
    const int top = bar->value();
    int gone = 0;
    const QMetaObject::Connection counting = connect(m_model, &QAbstractItemModel::rowsRemoved,
        this, [&gone](const QModelIndex &, int first, int last) { gone += last - first + 1; });
    m_model->catchUp();
    disconnect(counting);
    if (m_following) {
        m_table->scrollToBottom();
    } else if (gone > 0) {
        // The view would otherwise jump to other rows: it keeps its place in the table only.
        bar->setValue(std::max(0, top - gone));
    }
    showBudget();
}

void DatagramListWindow::showBudget()
{
    const DatagramRing &ring = *m_ring;
    QString text = caption(ViewCaptions::kHeld)
                       .arg(count(ring.count()))
                       .arg(ring.budget() / DatagramRing::kMebibyte);
    if (ring.first() > 0)
        text += caption(ViewCaptions::kLetGo).arg(count(ring.first()));
    if (m_direction->currentIndex() != kEitherDirection || !m_remote->text().trimmed().isEmpty())
        text += caption(ViewCaptions::kShown).arg(count(m_model->rowCount()));
    m_budget->setText(text);
}

void DatagramListWindow::applyFilter()
{
    DatagramListModel::Filter filter;
    if (m_direction->currentIndex() == kSentOnly)
        filter.direction = Direction::Send;
    else if (m_direction->currentIndex() == kReceivedOnly)
        filter.direction = Direction::Receive;
    const QString remote = m_remote->text().trimmed();
    const bool readable = remote.isEmpty() || DatagramListModel::readRemote(remote, filter);
    QPalette palette = m_remote->palette();
    palette.setColor(QPalette::Text, readable ? QPalette().color(QPalette::Text) : Qt::red);
    m_remote->setPalette(palette);
    m_remote->setToolTip(readable ? caption(ViewCaptions::kRemoteFilterToolTip)
                                  : caption(ViewCaptions::kBadRemoteFilter));
    m_model->setFilter(filter);
    m_shownNumber = -1;
    m_bytes->clear();
    setFollowing(true);
    showBudget();
}

void DatagramListWindow::selectionChanged()
{
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        userScrolled();
        return;
    }
    setFollowing(false);
    const qint64 number = m_model->numberAt(rows.first().row());
    if (number == m_shownNumber || number < m_ring->first())
        return;
    m_shownNumber = number;
    m_bytes->clear();
    m_bytes->append(canonicalHexDump(m_ring->at(number).payload));
    // From the first byte, as a reader starts.
    m_bytes->setSelectionStart(0);
}

void DatagramListWindow::userScrolled()
{
    // As in the panes: at the end with nothing selected the list follows again.
    const QScrollBar *const bar = m_table->verticalScrollBar();
    setFollowing(bar->value() == bar->maximum() && !m_table->selectionModel()->hasSelection());
}

void DatagramListWindow::setFollowing(bool following)
{
    if (following && m_table->selectionModel()->hasSelection())
        m_table->clearSelection();
    m_following = following;
    m_follow->setChecked(following);
    if (following)
        m_table->scrollToBottom();
}

void DatagramListWindow::saveCapture()
{
    m_model->catchUp();
    saveWithDialog(this, caption(ViewCaptions::kSaveCapture),
        caption(ViewCaptions::kCaptureFileName), caption(ViewCaptions::kCaptureFilter),
        [this](QFileDevice &file, QString &reason) {
            // The rows shown, and only those the ring still holds.
            const DatagramRing &ring = *m_ring;
            int first = 0;
            while (first < m_model->rowCount() && m_model->numberAt(first) < ring.first())
                ++first;
            return PcapFile::save(
                file, m_model->rowCount() - first,
                [&](qint64 i) { return ring.at(m_model->numberAt(int(first + i))); }, reason);
        });
}
