// The least a Qt program can do to call LeggiPeso: an application object,
// the session bus, one blocking call. bench_client times it beside quorvex
// and gdbus, as the floor Qt Core and Qt D-Bus set for any Qt client; with
// --help it only starts and prints, the floor of a start.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--help") == 0) {
        std::puts("Usage: qt_dbus_caller [--help]");
        return 0;
    }
    const QDBusMessage reply = QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
        QStringLiteral("com.velkaro.Quorvex"), QStringLiteral("/com/velkaro/Quorvex/Global"),
        QStringLiteral("com.velkaro.Quorvex.Global"), QStringLiteral("LeggiPeso")));
    std::printf("%s\n", qPrintable(reply.arguments().value(0).toString()));
    return reply.type() == QDBusMessage::ReplyMessage ? 0 : 1;
}
