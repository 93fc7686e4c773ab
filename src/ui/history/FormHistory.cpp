#include "ui/history/FormHistory.h"

#include "history/CoilStore.h"
#include "tracking/Sampler.h"
#include "ui/sampler/NumberText.h"

#include <QChartView>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QSplitter>
#include <QTableWidget>
#include <QTimeZone>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>

namespace quorvex {

namespace {

// The live series is redrawn at most this often: a buffer of thousands of
// samples is not worth redrawing at the sampler's 20 ticks a second.
constexpr int kLiveRefreshMs = 1000;

template<typename W> W *named(W *widget, const char *objectName, const QString &accessibleName)
{
    widget->setObjectName(QLatin1String(objectName));
    widget->setAccessibleName(accessibleName);
    return widget;
}

QDateEdit *dateEdit(const char *objectName, const QString &accessibleName, const QDate &date)
{
    auto *edit = named(new QDateEdit(date), objectName, accessibleName);
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QLocale().dateFormat(QLocale::ShortFormat));
    return edit;
}

qint64 startOfDayUs(const QDate &date)
{
    return date.startOfDay().toMSecsSinceEpoch() * 1000;
}

QTableWidgetItem *cell(const QString &text, qint64 id = 0)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    // Numbers line up on the right, the time on the left.
    item->setTextAlignment(Qt::AlignVCenter | (id ? Qt::AlignLeft : Qt::AlignRight));
    if (id)
        item->setData(Qt::UserRole, id);
    return item;
}

} // namespace

FormHistory::FormHistory(CoilStore &store, Sampler *sampler, QWidget *parent)
        : QWidget(parent), m_store(store), m_sampler(sampler)
{
    named(this, "FormHistory", QStringLiteral("Storico bobine"));
    setWindowTitle(QStringLiteral("Storico bobine"));
    auto *left = new QWidget;
    auto *leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(buildFilter());
    m_list = named(new QTableWidget(0, 5), "LstCoils", QStringLiteral("Bobine"));
    m_list->setHorizontalHeaderLabels({QStringLiteral("Chiusa"), QStringLiteral("Lunghezza"),
                                       QStringLiteral("Altezza media"), QStringLiteral("Campioni"),
                                       QStringLiteral("Peso")});
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->verticalHeader()->hide();
    m_list->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    leftLayout->addWidget(m_list);

    auto *splitter = named(new QSplitter, "SplHistory", QStringLiteral("Elenco e grafico"));
    splitter->addWidget(left);
    splitter->addWidget(buildChart());
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({500, 500});
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(splitter);
    resize(1100, 560);

    connect(m_list, &QTableWidget::itemSelectionChanged, this, &FormHistory::showSelected);
    connect(&m_store, &CoilStore::coilClosed, this, &FormHistory::refresh);
    connect(&m_liveTimer, &QTimer::timeout, this, &FormHistory::updateLive);
    m_liveTimer.start(kLiveRefreshMs);
    refresh();
    updateLive();
}

QWidget *FormHistory::buildFilter()
{
    auto *box = new QWidget;
    auto *row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    const QDate today = QDate::currentDate();
    m_since = dateEdit("DtSince", QStringLiteral("Dal giorno"), today.addDays(-30));
    m_until = dateEdit("DtUntil", QStringLiteral("Al giorno"), today);
    auto *fromLabel = new QLabel(QStringLiteral("&Dal"));
    fromLabel->setBuddy(m_since);
    auto *toLabel = new QLabel(QStringLiteral("&Al"));
    toLabel->setBuddy(m_until);
    row->addWidget(fromLabel);
    row->addWidget(m_since);
    row->addWidget(toLabel);
    row->addWidget(m_until);
    row->addStretch();
    connect(m_since, &QDateEdit::dateChanged, this, &FormHistory::refresh);
    connect(m_until, &QDateEdit::dateChanged, this, &FormHistory::refresh);
    return box;
}

QWidget *FormHistory::buildChart()
{
    m_chart = new QChart;
    m_chart->setLocalizeNumbers(true);
    m_profile = new QLineSeries;
    m_profile->setName(QStringLiteral("Bobina"));
    m_average = new QLineSeries;
    m_average->setName(QStringLiteral("Media"));
    m_live = new QLineSeries;
    m_live->setName(QStringLiteral("In corso"));
    m_axisX = new QValueAxis;
    m_axisX->setTitleText(QStringLiteral("Lunghezza"));
    m_axisY = new QValueAxis;
    m_axisY->setTitleText(QStringLiteral("Altezza"));
    m_chart->addAxis(m_axisX, Qt::AlignBottom);
    m_chart->addAxis(m_axisY, Qt::AlignLeft);
    for (QLineSeries *series : {m_profile, m_average, m_live}) {
        m_chart->addSeries(series);
        series->attachAxis(m_axisX);
        series->attachAxis(m_axisY);
    }
    QPen dashed = m_average->pen();
    dashed.setStyle(Qt::DashLine);
    dashed.setWidth(2);
    m_average->setPen(dashed);
    auto *view = named(new QChartView(m_chart), "ChtProfile", QStringLiteral("Altezza per lunghezza"));
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumWidth(420);
    return view;
}

void FormHistory::refresh()
{
    const qint64 keep = selectedId();
    // The days are local; the until day is included.
    const QList<CoilRecord> coils =
        m_store.coils(startOfDayUs(m_since->date()), startOfDayUs(m_until->date().addDays(1)), kMaxRows);
    const QSignalBlocker quiet(m_list);
    m_list->clearContents();
    m_list->setRowCount(int(coils.size()));
    int selectRow = coils.isEmpty() ? -1 : 0;
    for (int row = 0; row < coils.size(); ++row) {
        const CoilRecord &c = coils[row];
        const QDateTime closed = QDateTime::fromMSecsSinceEpoch(c.closedUs / 1000).toLocalTime();
        m_list->setItem(row, 0, cell(QLocale().toString(closed, QLocale::ShortFormat), c.id));
        m_list->setItem(row, 1, cell(numberText(c.length, 6)));
        m_list->setItem(row, 2, cell(numberText(c.averageHeight, 6)));
        m_list->setItem(row, 3, cell(QLocale().toString(c.samples)));
        m_list->setItem(row, 4, cell(c.weight ? numberText(*c.weight, 6) : QString()));
        if (c.id == keep)
            selectRow = row;
    }
    if (selectRow >= 0)
        m_list->selectRow(selectRow);
    showSelected();
}

qint64 FormHistory::selectedId() const
{
    const QList<QTableWidgetItem *> items = m_list->selectedItems();
    for (const QTableWidgetItem *item : items) {
        if (item->column() == 0)
            return item->data(Qt::UserRole).toLongLong();
    }
    return 0;
}

void FormHistory::showSelected()
{
    const qint64 id = selectedId();
    const std::optional<CoilRecord> coil = id ? m_store.coil(id) : std::nullopt;
    m_profile->replace(coil ? coil->profile : QList<QPointF>());
    QList<QPointF> average;
    if (coil && !coil->profile.isEmpty())
        average = {{coil->profile.first().x(), coil->averageHeight}, {coil->profile.last().x(), coil->averageHeight}};
    m_average->replace(average);
    m_chart->setTitle(coil ? QStringLiteral("Bobina %1").arg(coil->id) : QString());
    fitAxes();
}

void FormHistory::updateLive()
{
    QList<QPointF> points;
    if (m_sampler && m_sampler->isEnabled()) {
        // The coil being wound starts at the zero: a sample kept from before
        // the zeroing lies below it and belongs to the coil closed then.
        const auto &samples = m_sampler->campioni().items();
        points.reserve(qsizetype(samples.size()));
        for (const Campione &c : samples) {
            if (c.Posizione >= 0)
                points.append({c.Posizione, c.Altezza});
        }
    }
    if (points == m_live->points())
        return;
    m_live->replace(points);
    fitAxes();
}

void FormHistory::fitAxes()
{
    double minX = 0, maxX = 1, minY = 0, maxY = 1;
    bool any = false;
    for (const QLineSeries *series : {m_profile, m_live}) {
        for (const QPointF &p : series->points()) {
            minX = any ? std::min(minX, p.x()) : p.x();
            maxX = any ? std::max(maxX, p.x()) : p.x();
            minY = any ? std::min(minY, p.y()) : p.y();
            maxY = any ? std::max(maxY, p.y()) : p.y();
            any = true;
        }
    }
    const double marginY = std::max((maxY - minY) * 0.1, 0.01);
    m_axisX->setRange(minX, maxX > minX ? maxX : minX + 1);
    m_axisY->setRange(minY - marginY, maxY + marginY);
}

} // namespace quorvex
