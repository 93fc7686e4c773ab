// The coil store: the time to write a record of 10,000 samples and the
// sampler's tick rhythm around such writes; Coils of the newest 100 in a
// store of 100,000 records; the file's size per 1,000 samples. In process,
// on a real SQLite file in a temporary folder.
#include "history/CoilStore.h"
#include "tracking/Sampler.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace quorvex;

namespace {

CoilRecord coilOf(int samples, qint64 closedUs)
{
    CoilRecord r;
    r.closedUs = closedUs;
    r.length = samples * 0.2;
    r.averageHeight = 5.1;
    r.samples = quint32(samples);
    r.weight = 1250.5;
    r.weightReadUs = closedUs - 1000;
    r.profile.reserve(samples);
    for (int i = 0; i < samples; ++i)
        r.profile.append({i * 0.2, 5 + (i % 17) * 0.01});
    return r;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The median and the longest gap between two tick starts of a running
// sampler over ms, with a record of 10,000 samples written every
// writeEveryMs (0: none).
std::pair<double, double> tickGaps(CoilStore &store, int ms, int writeEveryMs)
{
    Sampler sampler([]() -> QCoro::Task<double> { co_return 1.0; }, []() -> QCoro::Task<double> { co_return 5.0; });
    QElapsedTimer clock;
    clock.start();
    qint64 last = -1;
    std::vector<double> gaps;
    QObject::connect(&sampler, &Sampler::lengthRead, [&](double) {
        const qint64 now = clock.nsecsElapsed();
        if (last >= 0)
            gaps.push_back((now - last) / 1e6);
        last = now;
    });
    QTimer writes;
    const CoilRecord big = coilOf(10000, 1);
    QObject::connect(&writes, &QTimer::timeout, [&] { store.append(big); });
    if (writeEveryMs > 0)
        writes.start(writeEveryMs);
    sampler.start();
    runFor(ms);
    return {median(gaps), *std::max_element(gaps.begin(), gaps.end())};
}

void writeFigures(const QString &dir)
{
    CoilStore store(dir + QStringLiteral("/write.sqlite"));
    store.open();
    const CoilRecord big = coilOf(10000, 1);
    std::vector<double> ms;
    for (int i = 0; i < 30; ++i) {
        QElapsedTimer t;
        t.start();
        store.append(big);
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("append, record of 10,000 samples: median %.2f ms, worst %.2f ms (goal < 50 ms)\n", median(ms),
                *std::max_element(ms.begin(), ms.end()));
    const auto alone = tickGaps(store, 5000, 0);
    const auto writing = tickGaps(store, 5000, 500);
    std::printf("sampler ticks (50 ms period) over 5 s, median / longest gap: alone %.1f / %.1f ms; with a "
                "10,000-sample record written every 500 ms %.1f / %.1f ms\n",
                alone.first, alone.second, writing.first, writing.second);
}

// 100,000 records of 20 samples, inserted in one transaction beside the store.
void fill(const QString &path, int count)
{
    {
        CoilStore schema(path);
        schema.open();
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
    db.setDatabaseName(path);
    db.open();
    db.transaction();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO coils (closed_us, length, average_height, samples, weight, weight_read_us, "
                             "profile) VALUES (?, 4, 5.1, 20, 1250.5, ?, ?)"));
    const QByteArray profile(20 * 16, '\x01');
    for (int i = 0; i < count; ++i) {
        q.addBindValue(qint64(1'700'000'000'000'000) + qint64(i) * 60'000'000);
        q.addBindValue(qint64(1'700'000'000'000'000) + qint64(i) * 60'000'000 - 1000);
        q.addBindValue(profile);
        q.exec();
    }
    db.commit();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
}

void listFigures(const QString &dir)
{
    const QString path = dir + QStringLiteral("/list.sqlite");
    fill(path, 100000);
    CoilStore store(path);
    store.open();
    std::vector<double> newest, bounded;
    for (int i = 0; i < 30; ++i) {
        QElapsedTimer t;
        t.start();
        const auto a = store.coils(0, 0, 100);
        newest.push_back(t.nsecsElapsed() / 1e6);
        t.restart();
        const auto b = store.coils(1'700'000'000'000'000 + 50000LL * 60'000'000,
                                   1'700'000'000'000'000 + 50200LL * 60'000'000, 100);
        bounded.push_back(t.nsecsElapsed() / 1e6);
        if (a.size() != 100 || b.size() != 100)
            std::printf("unexpected row counts %lld %lld\n", qlonglong(a.size()), qlonglong(b.size()));
    }
    std::printf("Coils of the newest 100 in 100,000 records: median %.2f ms (goal < 20 ms); "
                "100 from the middle by time: median %.2f ms\n",
                median(newest), median(bounded));
}

void sizeFigures(const QString &dir)
{
    const QString path = dir + QStringLiteral("/size.sqlite");
    const int records = 50, samples = 10000;
    {
        CoilStore store(path);
        for (int i = 0; i < records; ++i)
            store.append(coilOf(samples, i + 1));
    }
    // Closing the last connection checkpoints the WAL into the file.
    const double bytes = double(QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size());
    std::printf("file size: %.0f bytes per 1,000 samples (%d records of %d samples: %.1f MB)\n",
                bytes / (double(records) * samples / 1000), records, samples, bytes / 1e6);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    writeFigures(dir.path());
    listFigures(dir.path());
    sizeFigures(dir.path());
    return 0;
}
