// One Modbus RTU reading through D-Bus (a 32-bit value: an 8-byte request,
// a 9-byte reply) from a Qt Serial Bus server whose answers are paced at the
// line's baud rate, against the wire time of its two frames, and of the
// frames with the 3.5-character silence a request waits for (1.75 ms above
// 19200 baud).
#include "bench/BenchServer.h"

#include "sim/defined/ModbusRtuBus.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdio>

namespace {

void reading(int baud)
{
    const QString settings = QStringLiteral("%1,N,8,1").arg(baud);
    sim::ModbusRtuBus bus({1}, 0, settings.toStdString());
    bus.setPacing(baud);
    bus.setRegister(1, QModbusDataUnit::HoldingRegisters, 0, 0x0001);
    bus.setRegister(1, QModbusDataUnit::HoldingRegisters, 1, 0xE240);
    bench::BenchServer server;
    const QString folder = server.configHome() + QStringLiteral("/Velkaro s.r.l./Quorvex/strumenti");
    QDir().mkpath(folder);
    QFile file(folder + QStringLiteral("/counter.ini"));
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write("[Strumento]\nMarca=BENCH\nModello=MB\nProtocollo=MODBUS-RTU\nIndirizzo=1\n\n"
               "[LeggiLunghezza]\nRegistro=0\nTipo=UINT32\n");
    file.close();
    server.mapPort(3, bus.slavePath());
    server.configureRole(QStringLiteral("Contametri"), QStringLiteral("BENCH"), QStringLiteral("MB"), 3, QString(),
                         settings);
    if (!server.start()) {
        std::printf("Modbus RTU at %d baud: server did not start\n", baud);
        return;
    }
    server.timeCalls(QStringLiteral("LeggiLunghezza"), {}, 5);
    const std::vector<double> ms = server.timeCalls(QStringLiteral("LeggiLunghezza"), {}, 100);
    const QByteArray label = QStringLiteral("LeggiLunghezza via D-Bus, Modbus RTU at %1 baud").arg(baud).toUtf8();
    bench::printRoundTrip(label.constData(), ms, 8 + 9, baud);
    const double silenceMs = baud > 19200 ? 1.75 : 3.5 * 11 * 1000.0 / baud;
    const double withSilence = bench::wireMs(8 + 9, baud) + silenceMs;
    std::printf("    with the 3.5-character silence: wire %.2f ms, median %.2fx\n", withSilence,
                bench::stats(ms).median / withSilence);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    reading(9600);
    reading(115200);
    return 0;
}
