// Captures played back: every capture under tests/replay/ served by
// quorvex-sim --replay gives the server the readings written beside it, and
// a capture made with `quorvex monitor --save` while a client reads replays
// to the same readings. With QUORVEX_WRITE_REPLAY_SEEDS=DIR the seed test
// captures every built-in model through its simulator into DIR instead
// (scripts/replay-seeds.sh).
#include "tests/e2e/Harness.h"

#include "common/Capture.h"
#include "drivers/ProbeModels.h"
#include "sim/Registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>

using namespace e2e;

namespace {

const QString kReplayDir = QStringLiteral(QUORVEX_REPLAY_DIR);

// NAME.expected: the role the capture's port serves and the readings.
struct Expected {
    QString group, brand, model;
    QList<std::pair<QString, QString>> reads; // operation, value ("error" for a failed call)
};

std::optional<Expected> readExpected(const QString &path, QString &why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        why = QStringLiteral("cannot read ") + path;
        return std::nullopt;
    }
    Expected expected;
    int number = 0;
    for (const QString &raw : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        ++number;
        const QStringList words = raw.section(QLatin1Char('#'), 0, 0).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.isEmpty())
            continue;
        if (words[0] == QLatin1String("role") && words.size() == 4) {
            expected.group = words[1];
            expected.brand = words[2];
            expected.model = words[3];
        } else if (words[0] == QLatin1String("read") && words.size() == 3) {
            expected.reads.append({words[1], words[2]});
        } else {
            why = QStringLiteral("%1:%2: neither \"role GROUP BRAND MODEL\" nor \"read OPERATION VALUE\"")
                      .arg(path)
                      .arg(number);
            return std::nullopt;
        }
    }
    if (expected.group.isEmpty() || expected.reads.isEmpty()) {
        why = path + QStringLiteral(": no role or no reading");
        return std::nullopt;
    }
    return expected;
}

QString expectedText(const Expected &expected, const QStringList &readings)
{
    QString text = QStringLiteral("role %1 %2 %3\n").arg(expected.group, expected.brand, expected.model);
    for (qsizetype i = 0; i < readings.size(); ++i)
        text += QStringLiteral("read %1 %2\n").arg(expected.reads[i].first, readings[i]);
    return text;
}

class Replay : public ServerTest {
protected:
    void TearDown() override
    {
        stopProcess(m_sim);
        stopProcess(m_monitor);
    }

    static void stopProcess(QProcess &process)
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(5000);
    }

    // One reading as the replay test compares it: the value with 15
    // significant digits, or "error".
    QString reading(const QString &operation)
    {
        // A counter's read asks the instrument each time instead of giving a recent value.
        const QVariantList args = operation == QLatin1String("LeggiPeso") ? QVariantList() : QVariantList{true};
        const QDBusMessage reply = call(operation, args);
        if (reply.type() != QDBusMessage::ReplyMessage)
            return QStringLiteral("error");
        return QString::number(reply.arguments().value(0).toDouble(), 'g', 15);
    }

    // A fresh settings file with just this role on `port` at `device`.
    void configure(const Expected &expected, int port, const std::string &device, const QString &settings)
    {
        QFile::remove(configHome() + QStringLiteral("/Velkaro s.r.l./Quorvex.ini"));
        mapPort(port, device);
        configureRole(expected.group, expected.brand, expected.model, port, QString(), settings);
    }

    // Serves the capture through quorvex-sim --replay --loop to a new server
    // and returns what the expected reads give.
    QStringList readingsOfReplay(const QString &capturePath, const Expected &expected, QString &why)
    {
        quorvex::capture::ParseError error;
        const auto capture = quorvex::capture::readFile(capturePath.toStdString(), &error);
        if (!capture || capture->chunks.empty()) {
            why =
                QStringLiteral("%1:%2: %3").arg(capturePath).arg(error.line).arg(QString::fromStdString(error.reason));
            return {};
        }
        const quorvex::capture::Chunk &first = capture->chunks.front();
        stopProcess(m_sim);
        m_sim.start(QStringLiteral(QUORVEX_SIM_PATH),
                    {QStringLiteral("--replay"), capturePath, QStringLiteral("--loop")});
        if (!m_sim.waitForReadyRead(5000)) {
            why = QStringLiteral("quorvex-sim --replay did not start: ")
                + QString::fromLocal8Bit(m_sim.readAllStandardError());
            return {};
        }
        const std::string pty = m_sim.readLine().trimmed().toStdString();
        stopServer();
        configure(expected, std::max(first.port, 1), pty, QString::fromStdString(first.settings));
        startServer();
        QStringList readings;
        for (const auto &read : expected.reads)
            readings << reading(read.first);
        stopServer();
        stopProcess(m_sim);
        return readings;
    }

    // Reads `values.size()` times through the real simulator `simName` on
    // port 3 while `quorvex monitor --save` captures the port; `value` is
    // the simulator's option that sets the reading. Returns the readings.
    QStringList capture(const QString &capturePath, const Expected &role, const std::string &simName,
                        const std::vector<std::pair<std::string, std::string>> &options, const std::string &value,
                        const QStringList &values)
    {
        auto sim = sim::createInstrument(simName);
        EXPECT_TRUE(sim) << simName;
        if (!sim)
            return {};
        for (const auto &[key, text] : options)
            EXPECT_TRUE(sim->setOption(key, text)) << simName << " --" << key << " " << text;
        if (!values.isEmpty())
            sim->setOption(value, values.first().toStdString());
        sim->start();
        stopServer();
        configure(role, 3, sim->slavePath(), QStringLiteral("9600,N,8,1"));
        startServer();
        m_monitor.start(clientPath(),
                        {QStringLiteral("monitor"), QStringLiteral("--save"), capturePath, QStringLiteral("3")});
        QString notes;
        EXPECT_TRUE(waitUntil([&] {
            notes += QString::fromLocal8Bit(m_monitor.readAllStandardError());
            return notes.contains(QLatin1String("watching the traffic"));
        })) << notes.toStdString();
        QStringList readings;
        const QString operation = quorvex::readingOperationOf(role.group);
        for (const QString &v : values) {
            EXPECT_TRUE(sim->setOption(value, v.toStdString())) << simName << " --" << value << " " << v.toStdString();
            readings << reading(operation);
        }
        // The last Traffic signals are on their way while the call returns.
        waitUntil([] { return false; }, 300);
        stopProcess(m_monitor);
        stopServer();
        return readings;
    }

    QProcess m_sim;
    QProcess m_monitor;
};

TEST_F(Replay, EveryCaptureGivesItsReadings)
{
    const QStringList captures = QDir(kReplayDir).entryList({QStringLiteral("*.capture")}, QDir::Files, QDir::Name);
    ASSERT_FALSE(captures.isEmpty()) << "no captures in " << kReplayDir.toStdString();
    for (const QString &name : captures) {
        const QString path = kReplayDir + QLatin1Char('/') + name;
        QString why;
        const auto expected =
            readExpected(QString(path).replace(QLatin1String(".capture"), QLatin1String(".expected")), why);
        ASSERT_TRUE(expected) << why.toStdString();
        QStringList wanted;
        for (const auto &read : expected->reads)
            wanted << read.second;
        EXPECT_EQ(readingsOfReplay(path, *expected, why).join(QLatin1Char(' ')).toStdString(),
                  wanted.join(QLatin1Char(' ')).toStdString())
            << name.toStdString() << " " << why.toStdString();
    }
}

TEST_F(Replay, CaptureWhileAClientReadsReplaysTheSameReadings)
{
    const QString path = configHome() + QStringLiteral("/line.capture");
    const Expected role{QStringLiteral("Bilancia"),
                        QStringLiteral("BILANCIAI"),
                        QStringLiteral("D400"),
                        {{"LeggiPeso", ""}, {"LeggiPeso", ""}, {"LeggiPeso", ""}}};
    const QStringList onSite = capture(path, role, "d400", {}, "weight", {"12.34", "7.5", "101.25"});
    ASSERT_EQ(onSite, QStringList({"12.34", "7.5", "101.25"}));
    QString why;
    EXPECT_EQ(readingsOfReplay(path, role, why), onSite) << why.toStdString();
}

// The seeds of tests/replay/: one capture of every built-in model through its
// simulator, and the noisy cases. Runs only when asked to write them.
TEST_F(Replay, WriteSeeds)
{
    const QString dir = qEnvironmentVariable("QUORVEX_WRITE_REPLAY_SEEDS");
    if (dir.isEmpty())
        GTEST_SKIP() << "set QUORVEX_WRITE_REPLAY_SEEDS=DIR to write the seed captures";
    struct Seed {
        const char *name, *sim, *group, *brand, *model, *value;
        std::vector<std::pair<std::string, std::string>> options;
        QStringList values;
    };
    const std::vector<Seed> seeds = {
        {"bilanciai-d400", "d400", "Bilancia", "BILANCIAI", "D400", "weight", {}, {"12.34", "7.5", "101.25"}},
        {"eurobil-bc100m", "bc100m", "Bilancia", "EUROBIL", "BC100M", "weight", {}, {"12.5", "3.25"}},
        {"eurobil-flytn", "flytn", "Bilancia", "EUROBIL", "FLYTN", "weight", {}, {"42.5", "42.5"}},
        {"pavone-mc100", "mc100", "Bilancia", "PAVONE", "MC100", "weight", {}, {"17.25", "17.25"}},
        {"bmc-507", "bmc507", "Bilancia", "BMC", "507", "weight", {}, {"8.5", "8.5"}},
        {"alfabilici-807", "alfabilici807", "Bilancia", "ALFABILICI", "807", "weight", {}, {"33.75", "33.75"}},
        {"ctm-ps11", "ps11", "Bilancia", "CTM", "PS11", "weight", {}, {"1234", "2500"}},
        {"comar-proface", "proface", "Bilancia", "COMAR", "PROFACE", "weight", {}, {"1200", "345"}},
        {"ctm-1", "ctm1", "Contametri", "CTM", "1", "count", {}, {"1500", "2750"}},
        {"elap-cm78", "cm78", "Contametri", "ELAP", "CM78", "value", {}, {"12.5", "20.25"}},
        {"elap-cm78a", "cm78a", "Contametri", "ELAP", "CM78A", "value", {}, {"12.5", "20.25"}},
        {"rlc-1", "rlc1", "Contametri", "RLC", "1", "length", {}, {"500", "1000"}},
        {"noise-before-answer", "rlc1", "Contametri", "RLC", "1", "length", {{"noise-text", "~?!"}}, {"500", "1000"}},
        {"noise-between-frames",
         "flytn",
         "Bilancia",
         "EUROBIL",
         "FLYTN",
         "weight",
         {{"noise-text", "~?!"}},
         {"42.5", "42.5"}},
        {"cut-frame", "d400", "Bilancia", "BILANCIAI", "D400", "length", {{"weight", "12.34"}}, {"15", "8", "15"}},
    };
    QDir().mkpath(dir);
    for (const Seed &seed : seeds) {
        const QString base = dir + QLatin1Char('/') + QLatin1String(seed.name);
        Expected role{QLatin1String(seed.group), QLatin1String(seed.brand), QLatin1String(seed.model), {}};
        for (qsizetype i = 0; i < seed.values.size(); ++i)
            role.reads.append({quorvex::readingOperationOf(role.group), QString()});
        const QStringList readings =
            capture(base + QStringLiteral(".capture"), role, seed.sim, seed.options, seed.value, seed.values);
        ASSERT_EQ(readings.size(), seed.values.size()) << seed.name;
        QFile expected(base + QStringLiteral(".expected"));
        ASSERT_TRUE(expected.open(QIODevice::WriteOnly | QIODevice::Truncate));
        expected.write(expectedText(role, readings).toUtf8());
    }
}

} // namespace
