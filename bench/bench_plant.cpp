// A plant of many lines on this machine: N servers (PLANT_LINES, default
// 12), each on a private session bus of its own with a simulated length
// counter, height sensor and scale, height tracking on, all publishing to
// one local mosquitto. A Modbus TCP client per line polls the face's map
// every 500 ms and writes coil 0 (AzzeraLunghezza, closing a coil) every
// PLANT_COIL_SECONDS (default 4, staggered); one subscriber takes every
// message of quorvex/#. The run lasts PLANT_SECONDS (default 60), then the
// coil writes stop and the feed gets 10 s to drain.
// Each line is a Sparkplug B edge node too, for a primary host this program
// plays by publishing its STATE, retained, on the broker: online from the
// start, offline for PLANT_HOST_OFFLINE_SECONDS (default 10) in the middle
// of the run, then online again with a newer timestamp. A second subscriber
// takes spBv1.0/# and counts each line's coils in Bobine DDATA.
// Prints records kept by the lines and received, missing, duplicates, the
// record's latency from its close to the subscriber (p50/p99), messages a
// second through the broker, the broker's CPU, and each server's RSS and CPU;
// for Sparkplug, the coils received live and as historical data, duplicates,
// those lost, and how long after the host came back the last historical one
// arrived.
#include "bench/BenchServer.h"
#include "tests/support/FreePort.h"

#include "line/PublishedValues.h"
#include "sim/instruments/CtmCounter.h"
#include "sim/instruments/D400.h"
#include "tests/support/MqttBroker.h"

#include "sparkplug_b.pb.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QModbusReply>
#include <QModbusTcpClient>
#include <QProcess>
#include <QSet>
#include <QTcpServer>
#include <QTimer>
#include <csignal>
#include <memory>
#include <unistd.h>

namespace {

int setting(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

const QString kHost = QStringLiteral("scada");

// User + system CPU time of a process so far, in ms.
double cpuMs(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

double rssMiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

// The quorvexd that dbus-run-session started.
qint64 serverPid(qint64 runner)
{
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(runner));
    if (!children.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &child : children.readAll().split(' ')) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(QString::fromLatin1(child.trimmed())));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "quorvexd")
            return child.trimmed().toLongLong();
    }
    return 0;
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

struct PlantLine {
    QString name;
    support::ServerProcess files; // the settings store and coil store folders
    sim::Handle<sim::CtmCounter> counter = sim::launch<sim::CtmCounter>();
    sim::Handle<sim::CtmCounter> sensor = sim::launch<sim::CtmCounter>();
    sim::Handle<sim::D400> scale = sim::launch<sim::D400>();
    QProcess runner;
    qint64 pid = 0;
    int modbusPort = support::freeTcpPort();
    std::unique_ptr<QModbusTcpClient> plc;
    int coilsWritten = 0;
    int polls = 0;
    int pollFailures = 0;
    quint32 recordsKept = 0;
    double cpuStart = 0;
};

void configure(PlantLine &line, int index, int brokerPort)
{
    line.name = QStringLiteral("linea%1").arg(index + 1, 2, 10, QLatin1Char('0'));
    line.counter->setCount(0);
    line.sensor->setCount(50 + index);
    line.scale->setWeightField("  812,400");
    line.files.mapPort(3, line.counter->slavePath());
    line.files.mapPort(4, line.sensor->slavePath());
    line.files.mapPort(5, line.scale->slavePath());
    line.files.configureRole("Contametri", "CTM", "1", 3, "1");
    line.files.configureRole("Altezza", "CTM", "1", 4, "1");
    line.files.configureRole("Bilancia", "BILANCIAI", "D400", 5);
    line.files.setSetting("Altezza", "MisuraMedia", "1");
    line.files.setSetting("Altezza", "IntervalloDiCampionamento", "10");
    line.files.setSetting("Impianto", "Server", "127.0.0.1");
    line.files.setSetting("Impianto", "Porta", QString::number(brokerPort));
    line.files.setSetting("Impianto", "Linea", line.name);
    line.files.setSetting("Impianto", "Sparkplug", "1");
    line.files.setSetting("Impianto", "HostPrimario", kHost);
    line.files.setSetting("ModbusTCP", "Porta", QString::number(line.modbusPort));
    line.files.setSetting("ModbusTCP", "Scrittura", "1");
}

void startServer(PlantLine &line)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), line.files.configHome());
    env.insert(QStringLiteral("XDG_DATA_HOME"), line.files.dataHome());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!qEnvironmentVariableIsSet("PLANT_SERVER_LOG"))
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("quorvex.*.info=false"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    line.runner.setProcessEnvironment(env);
    line.runner.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    line.runner.start(QStringLiteral("dbus-run-session"),
                      {QStringLiteral("--"), QStringLiteral(QUORVEXD_PATH), QStringLiteral("--serve")});
    line.runner.waitForStarted(10000);
}

// What the subscriber saw.
struct Received {
    QHash<QString, QSet<qint64>> records; // line -> ids
    int duplicates = 0;
    qint64 messages = 0;
    std::vector<double> latencyMs;
    QByteArray buffer;

    void take(const QByteArray &bytes)
    {
        const qint64 nowUs = QDateTime::currentMSecsSinceEpoch() * 1000;
        buffer += bytes;
        qsizetype end;
        while ((end = buffer.indexOf('\n')) >= 0) {
            const QByteArray line = buffer.left(end);
            buffer.remove(0, end + 1);
            ++messages;
            const qsizetype space = line.indexOf(' ');
            if (!line.left(space).endsWith("/bobine"))
                continue;
            const QJsonObject record = QJsonDocument::fromJson(line.mid(space + 1)).object();
            QSet<qint64> &ids = records[record.value("line").toString()];
            const qint64 id = record.value("id").toInteger();
            if (ids.contains(id)) {
                ++duplicates;
                continue;
            }
            ids.insert(id);
            latencyMs.push_back(double(nowUs - record.value("closedUs").toInteger()) / 1000.0);
        }
    }
};

// What the Sparkplug subscriber saw: each line's coils in Bobine DDATA, by
// the Id metric (named in the device's birth, aliased in its data).
struct SparkplugReceived {
    QHash<QString, quint64> idAlias; // line -> the Id metric's alias
    QHash<QString, QSet<qint64>> coils; // line -> ids
    int live = 0;
    int historical = 0;
    int duplicates = 0;
    int nodeBirths = 0;
    int nodeDeaths = 0;
    qint64 lastHistoricalMs = 0; // when the last historical coil arrived
    QByteArray buffer;

    void take(const QByteArray &bytes)
    {
        buffer += bytes;
        qsizetype end;
        while ((end = buffer.indexOf('\n')) >= 0) {
            const QByteArray text = buffer.left(end);
            buffer.remove(0, end + 1);
            const qsizetype space = text.indexOf(' ');
            // spBv1.0/<group>/<type>/<line>[/<device>]
            const QList<QByteArray> levels = text.left(space).split('/');
            quorvex::sparkplug::Payload payload;
            const QByteArray bytes = QByteArray::fromHex(text.mid(space + 1));
            if (levels.size() < 4 || !payload.ParseFromArray(bytes.constData(), int(bytes.size())))
                continue;
            const QByteArray type = levels[2];
            const QString line = QString::fromUtf8(levels[3]);
            nodeBirths += type == "NBIRTH";
            nodeDeaths += type == "NDEATH";
            if (levels.value(4) != "Bobine")
                continue;
            if (type == "DBIRTH") {
                for (const auto &metric : payload.metrics())
                    if (metric.name() == quorvex::published(quorvex::Value::Id).sparkplug)
                        idAlias.insert(line, metric.alias());
                continue;
            }
            if (type != "DDATA")
                continue;
            for (const auto &metric : payload.metrics()) {
                if (metric.alias() != idAlias.value(line) || metric.is_null())
                    continue;
                QSet<qint64> &ids = coils[line];
                const qint64 id = qint64(metric.long_value());
                if (ids.contains(id)) {
                    ++duplicates;
                } else if (metric.is_historical()) {
                    ids.insert(id);
                    ++historical;
                    lastHistoricalMs = QDateTime::currentMSecsSinceEpoch();
                } else {
                    ids.insert(id);
                    ++live;
                }
            }
        }
    }
};

// Publishes the primary host's STATE, retained, as the host would, while the
// event loop runs on: the process ends itself.
QProcess *publishHostState(int brokerPort, bool online)
{
    const QByteArray state =
        QJsonDocument(QJsonObject{{QStringLiteral("online"), online},
                                  {QStringLiteral("timestamp"), QDateTime::currentMSecsSinceEpoch()}})
            .toJson(QJsonDocument::Compact);
    auto *publisher = new QProcess;
    QObject::connect(publisher, &QProcess::finished, publisher, &QObject::deleteLater);
    publisher->start(QStringLiteral("mosquitto_pub"),
                     {"-h", "127.0.0.1", "-p", QString::number(brokerPort), "-q", "1", "-r", "-t",
                      QStringLiteral("spBv1.0/STATE/%1").arg(kHost), "-m", QString::fromUtf8(state)});
    return publisher;
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int n = setting("PLANT_LINES", 12);
    const int seconds = setting("PLANT_SECONDS", 60);
    const int coilSeconds = setting("PLANT_COIL_SECONDS", 4);
    const int offlineSeconds = setting("PLANT_HOST_OFFLINE_SECONDS", 10);

    mqtt::Broker broker;
    if (!broker.start()) {
        std::printf("mosquitto did not start\n");
        return 1;
    }
    Received received;
    QProcess subscriber;
    QObject::connect(&subscriber, &QProcess::readyReadStandardOutput,
                     [&] { received.take(subscriber.readAllStandardOutput()); });
    subscriber.start(
        QStringLiteral("mosquitto_sub"),
        {"-h", "127.0.0.1", "-p", QString::number(broker.port()), "-q", "1", "-t", "quorvex/#", "-F", "%t %p"});
    subscriber.waitForStarted(5000);
    SparkplugReceived sparkplug;
    QProcess sparkplugSubscriber;
    QObject::connect(&sparkplugSubscriber, &QProcess::readyReadStandardOutput,
                     [&] { sparkplug.take(sparkplugSubscriber.readAllStandardOutput()); });
    sparkplugSubscriber.start(
        QStringLiteral("mosquitto_sub"),
        {"-h", "127.0.0.1", "-p", QString::number(broker.port()), "-q", "1", "-t", "spBv1.0/#", "-F", "%t %x"});
    sparkplugSubscriber.waitForStarted(5000);
    publishHostState(broker.port(), true)->waitForFinished(5000);

    std::vector<std::unique_ptr<PlantLine>> lines;
    for (int i = 0; i < n; ++i) {
        lines.push_back(std::make_unique<PlantLine>());
        configure(*lines.back(), i, broker.port());
        startServer(*lines.back());
    }
    // The Modbus clients connect once each face listens.
    for (auto &line : lines) {
        line->plc = std::make_unique<QModbusTcpClient>();
        line->plc->setConnectionParameter(QModbusDevice::NetworkAddressParameter, QStringLiteral("127.0.0.1"));
        line->plc->setConnectionParameter(QModbusDevice::NetworkPortParameter, line->modbusPort);
        line->plc->setTimeout(5000);
        line->plc->setNumberOfRetries(0);
        support::waitUntil(
            [&] {
                if (line->plc->state() == QModbusDevice::UnconnectedState)
                    line->plc->connectDevice();
                runFor(100);
                return line->plc->state() == QModbusDevice::ConnectedState;
            },
            30000);
        line->pid = serverPid(line->runner.processId());
    }
    int connected = 0;
    for (auto &line : lines)
        connected += line->plc->state() == QModbusDevice::ConnectedState;
    std::printf("%d lines started, %d Modbus TCP clients connected\n", n, connected);

    // The winders: every counter moves 10 length units every 200 ms.
    QTimer winders;
    QObject::connect(&winders, &QTimer::timeout, [&] {
        for (auto &line : lines)
            line->counter->setCount((line->counter->count() + 10) % 99999);
    });
    winders.start(200);

    const auto poll = [](PlantLine &line, bool final) {
        QModbusReply *reply = line.plc->sendReadRequest(QModbusDataUnit(QModbusDataUnit::InputRegisters, 0, 22), 1);
        if (!reply) {
            ++line.pollFailures;
            return;
        }
        QObject::connect(reply, &QModbusReply::finished, [&line, reply, final] {
            reply->deleteLater();
            ++line.polls;
            if (reply->error() != QModbusDevice::NoError) {
                ++line.pollFailures;
                return;
            }
            if (final)
                line.recordsKept = quint32(reply->result().value(16)) << 16 | reply->result().value(17);
        });
    };
    QTimer polling;
    QObject::connect(&polling, &QTimer::timeout, [&] {
        for (auto &line : lines)
            poll(*line, false);
    });
    polling.start(500);

    std::vector<std::unique_ptr<QTimer>> coilTimers;
    for (int i = 0; i < n; ++i) {
        PlantLine &line = *lines[size_t(i)];
        coilTimers.push_back(std::make_unique<QTimer>());
        QTimer *timer = coilTimers.back().get();
        QObject::connect(timer, &QTimer::timeout, [&line] {
            QModbusReply *reply =
                line.plc->sendWriteRequest(QModbusDataUnit(QModbusDataUnit::Coils, 0, QList<quint16>{1}), 1);
            if (!reply)
                return;
            QObject::connect(reply, &QModbusReply::finished, [&line, reply] {
                reply->deleteLater();
                if (reply->error() == QModbusDevice::NoError)
                    ++line.coilsWritten;
            });
        });
        timer->setInterval(coilSeconds * 1000);
        QTimer::singleShot(1000 + i * coilSeconds * 1000 / n, timer, [timer] {
            emit timer->timeout({});
            timer->start();
        });
    }

    const double brokerCpuStart = cpuMs(broker.pid());
    const qint64 messagesStart = received.messages;
    for (auto &line : lines)
        line->cpuStart = cpuMs(line->pid);
    QElapsedTimer clock;
    clock.start();
    // The host goes away in the middle of the run and comes back.
    qint64 hostBackMs = 0;
    const int offlineAtMs = std::max(0, seconds * 1000 / 2 - offlineSeconds * 500);
    QTimer::singleShot(offlineAtMs, [&] { publishHostState(broker.port(), false); });
    QTimer::singleShot(offlineAtMs + offlineSeconds * 1000, [&] {
        hostBackMs = QDateTime::currentMSecsSinceEpoch();
        publishHostState(broker.port(), true);
    });
    runFor(std::max(seconds * 1000, offlineAtMs + offlineSeconds * 1000 + 1000));
    for (auto &timer : coilTimers)
        timer->stop();
    runFor(10000); // the feed drains
    const double elapsedS = double(clock.elapsed()) / 1000.0;
    const double brokerCpu = cpuMs(broker.pid()) - brokerCpuStart;
    const qint64 messages = received.messages - messagesStart;
    polling.stop();
    for (auto &line : lines)
        poll(*line, true);
    runFor(2000);

    qint64 kept = 0, coils = 0, unique = 0, polls = 0, pollFailures = 0;
    for (auto &line : lines) {
        kept += line->recordsKept;
        coils += line->coilsWritten;
        polls += line->polls;
        pollFailures += line->pollFailures;
        unique += received.records.value(line->name).size();
    }
    std::printf("%d lines, %d s with a coil every %d s per line, then 10 s to drain (%.1f s measured)\n", n, seconds,
                coilSeconds, elapsedS);
    std::printf("coil 0 writes answered: %lld; records kept by the lines: %lld; received once: %lld;"
                " missing: %lld; duplicates: %d\n",
                coils, kept, unique, kept - unique, received.duplicates);
    std::printf("record latency, close to subscriber: p50 %.1f ms, p99 %.1f ms\n", percentile(received.latencyMs, 0.5),
                percentile(received.latencyMs, 0.99));
    std::printf("broker: %.1f messages/s (%lld in all), CPU %.2f %% of one core (%.0f ms)\n",
                double(messages) / elapsedS, messages, brokerCpu / elapsedS / 10.0, brokerCpu);
    std::printf("Modbus TCP: %lld map reads, %lld failed\n", polls, pollFailures);
    qint64 sparkplugUnique = 0;
    for (auto &line : lines)
        sparkplugUnique += sparkplug.coils.value(line->name).size();
    std::printf("Sparkplug B, primary host offline %d s from %.1f s: coils closed %lld; received live %d,"
                " historical %d; duplicates %d; lost %lld\n",
                offlineSeconds, double(offlineAtMs) / 1000.0, kept, sparkplug.live, sparkplug.historical,
                sparkplug.duplicates, kept - sparkplugUnique);
    if (sparkplug.lastHistoricalMs > 0 && hostBackMs > 0)
        std::printf("  the last historical coil arrived %lld ms after the host came back\n",
                    sparkplug.lastHistoricalMs - hostBackMs);
    else
        std::printf("  no historical coil arrived\n");
    std::printf("  NBIRTH %d, NDEATH %d (%d lines)\n", sparkplug.nodeBirths, sparkplug.nodeDeaths, n);
    double cpuSum = 0, rssSum = 0;
    for (auto &line : lines) {
        const double cpu = cpuMs(line->pid) - line->cpuStart;
        cpuSum += cpu;
        rssSum += rssMiB(line->pid);
        std::printf("  %s: pid %lld, RSS %.1f MiB, CPU %.2f %% of one core; %d coils, %u records kept\n",
                    qPrintable(line->name), line->pid, rssMiB(line->pid), cpu / elapsedS / 10.0, line->coilsWritten,
                    line->recordsKept);
    }
    std::printf("per line on average: RSS %.1f MiB, CPU %.2f %% of one core\n", rssSum / n,
                cpuSum / elapsedS / 10.0 / n);

    winders.stop();
    for (auto &line : lines) {
        line->plc->disconnectDevice();
        if (line->pid > 0)
            ::kill(pid_t(line->pid), SIGTERM);
    }
    for (auto &line : lines) {
        if (!line->runner.waitForFinished(10000))
            line->runner.kill();
    }
    subscriber.kill();
    subscriber.waitForFinished(5000);
    sparkplugSubscriber.kill();
    sparkplugSubscriber.waitForFinished(5000);
    return 0;
}
