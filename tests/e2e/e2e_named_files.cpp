// Files the server reads because of where it runs or what a setting names:
// a settings file that is missing, a FIFO or not text, and a password file
// that is a device, are each one warning naming the file, and the server
// keeps answering.
#include "tests/e2e/Harness.h"

#include <QFile>
#include <QTcpServer>

#include <sys/stat.h>

using namespace e2e;

namespace {

class NamedFiles : public ServerTest {
protected:
    QString settingsPath() const { return configHome() + "/Velkaro s.r.l./Quorvex.ini"; }
    // Starts the server, checks it answers and that its log says expected.
    void expectAnsweredAndLogged(const QString &expected)
    {
        captureLog = true;
        startServer();
        const QDBusMessage reply = call("LeggiPeso");
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        EXPECT_TRUE(waitUntil([&] { return serverLog().contains(expected); }, 5000))
            << expected.toStdString() << "\nnot in:\n"
            << serverLog().toStdString();
        stopServer();
        m_log.clear();
    }
};

TEST_F(NamedFiles, EachOddFileIsNamedAndTheServerKeepsAnswering)
{
    QDir().mkpath(configHome() + "/Velkaro s.r.l.");
    expectAnsweredAndLogged("settings file " + settingsPath() + " does not exist");

    ASSERT_EQ(::mkfifo(QFile::encodeName(settingsPath()).constData(), 0600), 0);
    expectAnsweredAndLogged("settings file " + settingsPath() + " is not read: is a named pipe (FIFO)");
    QFile::remove(settingsPath());

    QFile utf16(settingsPath());
    ASSERT_TRUE(utf16.open(QIODevice::WriteOnly));
    utf16.write(QByteArray("\xff\xfe[\0B\0]\0", 8));
    utf16.close();
    expectAnsweredAndLogged("holds NUL bytes");
    QFile::remove(settingsPath());

    QTcpServer closed; // a port nobody listens on: the password is read before connecting
    closed.listen(QHostAddress::LocalHost, 0);
    const int port = closed.serverPort();
    closed.close();
    setSetting("Impianto", "Server", "127.0.0.1");
    setSetting("Impianto", "Porta", QString::number(port));
    setSetting("Impianto", "Utente", "linea1");
    setSetting("Impianto", "FilePassword", "/dev/zero");
    expectAnsweredAndLogged("[Impianto] FilePassword=/dev/zero is a device, not a file");
}

} // namespace
