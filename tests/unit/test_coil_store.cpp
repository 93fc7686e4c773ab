// The coil store against a real SQLite file in a temporary folder, and the
// recorder that feeds it from the zeroing.
#include "app/CoilRecorder.h"
#include "history/CoilSchema.h"
#include "history/CoilStore.h"
#include "line/Line.h"
#include "line/SettingsStore.h"
#include "tracking/Sampler.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quorvex;

namespace {

CoilRecord recordAt(qint64 closedUs, std::optional<double> weight = std::nullopt)
{
    CoilRecord r;
    r.closedUs = closedUs;
    r.length = 120.5;
    r.averageHeight = 6;
    r.samples = 3;
    r.weight = weight;
    r.weightReadUs = weight ? closedUs - 500 : 0;
    r.profile = {{-0.5, 5}, {0.5, 6}, {1.5, 7}};
    return r;
}

} // namespace

TEST(CoilStore, KeepsRecordsWholeAcrossReopeningAndListsThemNewestFirst)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a/b/coils.sqlite"));
    {
        CoilStore store(path);
        QList<qint64> closed;
        QObject::connect(&store, &CoilStore::coilClosed, [&](qint64 id) { closed.append(id); });
        const auto first = store.append(recordAt(1000, 250.25));
        const auto second = store.append(recordAt(3000));
        ASSERT_TRUE(first && second);
        EXPECT_EQ(closed, (QList<qint64>{*first, *second}));
    }
    CoilStore store(path);
    const QList<CoilRecord> all = store.coils(0, 0, 0);
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(all[0].closedUs, 3000);
    EXPECT_FALSE(all[0].weight);
    EXPECT_TRUE(all[0].profile.isEmpty());
    EXPECT_EQ(*all[1].weight, 250.25);
    EXPECT_EQ(all[1].weightReadUs, 500);
    EXPECT_EQ(all[1].samples, 3u);
    // [since, until): the bound at since is in, the one at until is out.
    EXPECT_EQ(store.coils(1000, 3000, 0).size(), 1);
    EXPECT_EQ(store.coils(0, 0, 1).size(), 1);
    EXPECT_EQ(*store.profile(all[1].id), recordAt(0).profile);
    EXPECT_FALSE(store.profile(999));

    // The schema version is in the file.
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
    db.setDatabaseName(path);
    ASSERT_TRUE(db.open());
    QSqlQuery q(db);
    ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA user_version")) && q.next());
    EXPECT_EQ(q.value(0).toInt(), coilSchemaVersion());
}

TEST(CoilStore, FeedQueueIsOldestFirstWithProfiles)
{
    QTemporaryDir dir;
    CoilStore store(dir.filePath(QStringLiteral("coils.sqlite")));
    const qint64 first = *store.append(recordAt(1000));
    const qint64 second = *store.append(recordAt(2000));
    EXPECT_EQ(store.unpublishedCount(), 2);
    store.markPublished(first);
    const QList<CoilRecord> queue = store.unpublished(10);
    ASSERT_EQ(queue.size(), 1);
    EXPECT_EQ(queue[0].id, second);
    EXPECT_EQ(queue[0].profile.size(), 3);
    // Pruning never gives a deleted id again.
    EXPECT_EQ(store.pruneBefore(5000), 2);
    EXPECT_GT(*store.append(recordAt(6000)), second);
}

TEST(CoilStore, UnwritableOrForeignFileFailsTheRecordRecoversLaterAndTellsWhatItGivesUp)
{
    QTemporaryDir dir;
    // A file where the folder should be.
    QFile blocker(dir.filePath(QStringLiteral("Quorvex")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    CoilStore store(dir.filePath(QStringLiteral("Quorvex/coils.sqlite")));
    EXPECT_FALSE(store.append(recordAt(1000)));
    EXPECT_TRUE(store.coils(0, 0, 0).isEmpty());
    ASSERT_TRUE(QFile::remove(blocker.fileName()));
    // Tried again at the next record, the one held from the failure first.
    EXPECT_TRUE(store.append(recordAt(2000)));
    EXPECT_EQ(store.coils(0, 0, 0).size(), 2);

    // Not a database at all.
    QFile junk(dir.filePath(QStringLiteral("junk.sqlite")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();
    static QStringList warnings;
    warnings.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type == QtWarningMsg)
                warnings << text;
        });
    {
        CoilStore foreign(junk.fileName());
        EXPECT_FALSE(foreign.append(recordAt(1000)));
        EXPECT_FALSE(foreign.append(recordAt(2000)));
    } // an exit while the store still fails gives up what it holds
    qInstallMessageHandler(previous);
    ASSERT_EQ(warnings.size(), 3) << "one for the failing period, one per coil given up:\n"
                                  << warnings.join('\n').toStdString();
    const QString closed = QDateTime::fromMSecsSinceEpoch(2).toString(Qt::ISODateWithMs);
    EXPECT_TRUE(warnings[2].contains(closed) && warnings[2].contains("length 120.5")) << warnings[2].toStdString();
}

TEST(CoilRecorder, RecordsBeforeTheCallReturnsWithTheWeightReadSinceTheLastCoilAndPrunesAtALoad)
{
    QTemporaryDir dir;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    SettingsStore().setValue(QStringLiteral("Storico"), QStringLiteral("Giorni"), QStringLiteral("2"));
    CoilStore store(dir.filePath(QStringLiteral("coils.sqlite")));
    store.append(recordAt(QDateTime::currentMSecsSinceEpoch() * 1000 - 3LL * 24 * 3600 * 1000000));
    Line line;
    CoilRecorder recorder(line, store, [] { return false; });
    line.CaricaDispositivi();

    emit line.readingTaken(Role::Bilancia, RoleOperation::LeggiTara, 1);
    emit line.readingTaken(Role::Bilancia, RoleOperation::LeggiPeso, 1250.5);
    FinishedCoil coil{QDateTime::currentMSecsSinceEpoch() * 1000, 45, 55, {{30, 50}, {40, 60}}};
    recorder.coilFinished(coil);
    recorder.coilFinished(coil);
    EXPECT_EQ(store.unpublishedCount(), 3) << "not written before the zeroing could answer its caller";
    QCoreApplication::processEvents();
    const QList<CoilRecord> coils = store.coils(0, 0, 0);
    ASSERT_EQ(coils.size(), 2) << "the record older than two days was not pruned";
    EXPECT_FALSE(coils[0].weight) << "a weight counted for two coils";
    EXPECT_EQ(coils[1].weight, 1250.5);
    EXPECT_EQ(*store.profile(coils[1].id), (QList<QPointF>{{30, 50}, {40, 60}}));
}
