#pragma once
// A real mosquitto broker on a free local port, in a folder of its own, and
// a real subscriber (mosquitto_sub) that records what it receives. For
// end-to-end tests and benchmarks of the plant feed.
#include "tests/support/FreePort.h"
#include "tests/support/Wait.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <unistd.h>

namespace mqtt {

class Broker {
public:
    Broker() : m_port(support::freeTcpPort()) {}
    ~Broker() { stop(); }

    int port() const { return m_port; }
    // The broker's process, to stop (SIGSTOP) or kill it under a client.
    qint64 pid() const { return m_process.processId(); }
    QString folder() const { return m_dir.path(); }

    // Only user with password may connect (from the next start on).
    void requirePassword(const QString &user, const QString &password)
    {
        const QString file = m_dir.filePath(QStringLiteral("passwords"));
        QProcess::execute(QStringLiteral("mosquitto_passwd"),
                          {QStringLiteral("-c"), QStringLiteral("-b"), file, user, password});
        m_passwordFile = file;
    }

    // A second listener, with TLS, on its own port (from the next start on).
    void useTls(const QString &certFile, const QString &keyFile)
    {
        if (m_tlsPort == 0)
            m_tlsPort = support::freeTcpPort();
        m_tls = "listener " + QByteArray::number(m_tlsPort) + " 127.0.0.1\ncertfile " + QFile::encodeName(certFile)
            + "\nkeyfile " + QFile::encodeName(keyFile) + "\n";
    }
    int tlsPort() const { return m_tlsPort; }

    bool start()
    {
        QFile config(m_dir.filePath(QStringLiteral("mosquitto.conf")));
        config.open(QIODevice::WriteOnly | QIODevice::Truncate);
        QByteArray text = "listener " + QByteArray::number(m_port) + " 127.0.0.1\n";
        // As root, mosquitto would drop to its own user, who cannot read this
        // private folder.
        if (::geteuid() == 0)
            text += "user root\n";
        // Persistent sessions survive a restart of the broker, with the
        // messages queued for them.
        text += "persistence true\npersistence_location " + QFile::encodeName(m_dir.path()) + "/\n";
        text += m_passwordFile.isEmpty()
            ? QByteArray("allow_anonymous true\n")
            : "allow_anonymous false\npassword_file " + QFile::encodeName(m_passwordFile) + "\n";
        config.write(text + m_tls);
        config.close();
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), config.fileName()});
        if (!m_process.waitForStarted(5000))
            return false;
        return support::waitUntil([this] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, quint16(m_port));
            return socket.waitForConnected(200);
        });
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_passwordFile;
    QByteArray m_tls;
    int m_port = 0;
    int m_tlsPort = 0;
};

// One message as mosquitto_sub printed it.
struct Message {
    bool retained = false;
    QString topic;
    QByteArray payload;
};

class Subscriber {
public:
    // Subscribes to filter at QoS 1; with an id, in a persistent session
    // that keeps what arrives while the broker is restarted. With hex, each
    // payload is kept as hexadecimal text (binary payloads).
    Subscriber(int port, const QString &filter, const QString &user = {}, const QString &password = {},
               const QString &persistentId = {}, bool hex = false)
    {
        QStringList args{QStringLiteral("-h"), QStringLiteral("127.0.0.1"),
                         QStringLiteral("-p"), QString::number(port),
                         QStringLiteral("-q"), QStringLiteral("1"),
                         QStringLiteral("-t"), filter,
                         QStringLiteral("-F"), hex ? QStringLiteral("%r %t %x") : QStringLiteral("%r %t %p")};
        if (!user.isEmpty())
            args << QStringLiteral("-u") << user << QStringLiteral("-P") << password;
        if (!persistentId.isEmpty())
            args << QStringLiteral("-c") << QStringLiteral("-i") << persistentId;
        m_process.start(QStringLiteral("mosquitto_sub"), args);
        m_process.waitForStarted(5000);
    }
    ~Subscriber()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    // Everything received so far.
    const QList<Message> &messages()
    {
        m_buffer += m_process.readAllStandardOutput();
        qsizetype end;
        while ((end = m_buffer.indexOf('\n')) >= 0) {
            const QByteArray line = m_buffer.left(end);
            m_buffer.remove(0, end + 1);
            const qsizetype a = line.indexOf(' ');
            const qsizetype b = line.indexOf(' ', a + 1);
            if (a < 0 || b < 0)
                continue;
            m_messages.append({line.left(a) == "1", QString::fromUtf8(line.mid(a + 1, b - a - 1)), line.mid(b + 1)});
        }
        return m_messages;
    }
    QList<Message> on(const QString &topic)
    {
        QList<Message> found;
        for (const Message &m : messages())
            if (m.topic == topic)
                found.append(m);
        return found;
    }
    bool waitForCount(const QString &topic, int n, int timeoutMs = 15000)
    {
        return support::waitUntil([&] { return on(topic).size() >= n; }, timeoutMs);
    }

    // The same without running the event loop: a client under test in this
    // thread reads nothing from its own broker meanwhile.
    bool waitForCountHeld(const QString &topic, int n, int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (on(topic).size() < n) {
            if (deadline.hasExpired())
                return false;
            m_process.waitForReadyRead(int(deadline.remainingTime()));
        }
        return true;
    }

private:
    QProcess m_process;
    QByteArray m_buffer;
    QList<Message> m_messages;
};

} // namespace mqtt
