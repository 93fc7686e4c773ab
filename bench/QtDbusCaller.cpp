// The least a Qt program can do to call LeggiPeso: an application object,
// the session bus, one blocking call. bench_client times it beside quorvex
// and gdbus, as the floor Qt Core and Qt D-Bus set for any Qt client.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
        QStringLiteral("com.velkaro.Quorvex"), QStringLiteral("/com/velkaro/Quorvex/Global"),
        QStringLiteral("com.velkaro.Quorvex.Global"), QStringLiteral("LeggiPeso")));
    std::printf("%s\n", qPrintable(reply.arguments().value(0).toString()));
    return reply.type() == QDBusMessage::ReplyMessage ? 0 : 1;
}
