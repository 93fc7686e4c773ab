// The history window on the offscreen platform, over a real coil store in a
// temporary folder: the list, the chart of the selected coil, the date
// filter, a new record, the live series, keyboard and names.
#include "history/CoilStore.h"
#include "tracking/Sampler.h"
#include "ui/history/FormHistory.h"

#include <QChartView>
#include <QDateEdit>
#include <QLineSeries>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace quorvex;

namespace {

qint64 hoursAgoUs(int hours)
{
    return (QDateTime::currentMSecsSinceEpoch() - qint64(hours) * 3600 * 1000) * 1000;
}

CoilRecord coil(qint64 closedUs, double average, QList<QPointF> profile)
{
    CoilRecord r;
    r.closedUs = closedUs;
    r.length = 100;
    r.averageHeight = average;
    r.samples = quint32(profile.size());
    r.profile = std::move(profile);
    return r;
}

QLineSeries *series(QWidget &w, const QString &name)
{
    for (QAbstractSeries *s : w.findChild<QChartView *>("ChtProfile")->chart()->series())
        if (s->name() == name)
            return static_cast<QLineSeries *>(s);
    return nullptr;
}

} // namespace

TEST(HistoryWindow, ListsCoilsNewestFirstAndChartsTheSelectedOneLiveBeside)
{
    QTemporaryDir dir;
    CoilStore store(dir.filePath("coils.sqlite"));
    const qint64 older = *store.append(coil(hoursAgoUs(50 * 24), 6, {{0, 5}, {1, 7}}));
    const qint64 newer = *store.append(coil(hoursAgoUs(1), 8, {{0, 8}, {1, 8}, {2, 8}}));
    Sampler sampler([]() -> QCoro::Task<double> { co_return 0.0; }, []() -> QCoro::Task<double> { co_return 4.0; });
    sampler.campioni().append({-0.1, 3}); // kept from before the zeroing: not on this coil
    sampler.campioni().append({0.5, 4});
    sampler.campioni().append({0.7, 4.5});
    sampler.start();

    FormHistory form(store, &sampler);
    form.show();
    auto *list = form.findChild<QTableWidget *>("LstCoils");
    // The last 30 days by default: the older coil is filtered out.
    ASSERT_EQ(list->rowCount(), 1);
    EXPECT_EQ(form.selectedId(), newer);
    EXPECT_EQ(series(form, "Bobina")->points().size(), 3);
    EXPECT_EQ(series(form, "Media")->points().value(0).y(), 8);

    form.findChild<QDateEdit *>("DtSince")->setDate(QDate::currentDate().addDays(-60));
    ASSERT_EQ(list->rowCount(), 2);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(form.selectedId(), older);
    EXPECT_EQ(series(form, "Bobina")->points(), (QList<QPointF>{{0, 5}, {1, 7}}));

    // A new record shows at once; the selection stays on its coil.
    store.append(coil(hoursAgoUs(0), 9, {{0, 9}}));
    EXPECT_EQ(list->rowCount(), 3);
    EXPECT_EQ(form.selectedId(), older);

    // The coil being wound, from the sampler's buffer.
    ASSERT_TRUE(QTest::qWaitFor([&] { return series(form, "In corso")->points().size() == 2; }, 3000));

    // Every control the Tab key reaches is named for assistive tools (itself
    // or the control it is part of); the date filter and the list are among them.
    QStringList reached;
    for (QWidget *w = form.nextInFocusChain(); w != &form; w = w->nextInFocusChain()) {
        if (!(w->focusPolicy() & Qt::TabFocus))
            continue;
        QWidget *named = w;
        while (named != &form && named->accessibleName().isEmpty())
            named = named->parentWidget();
        EXPECT_NE(named, &form) << w->metaObject()->className();
        reached << named->objectName();
    }
    EXPECT_TRUE(reached.contains("LstCoils") && reached.contains("DtSince")) << reached.join(' ').toStdString();
}
