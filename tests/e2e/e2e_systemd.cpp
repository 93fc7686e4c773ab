// The server as systemd runs it: what it tells the service manager over
// NOTIFY_SOCKET (ready, status, reloading, the watchdog's keep-alive,
// stopping), read by a datagram socket of the test's own.
#include "tests/e2e/Harness.h"

#include "sim/instruments/D400.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace e2e;

namespace {

// A service manager's notification socket: every datagram the server sends,
// in order of arrival.
class NotifyListener {
public:
    NotifyListener()
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(m_dir.path() + QStringLiteral("/notify"));
        std::memcpy(address.sun_path, path.constData(), std::min(size_t(path.size()), sizeof address.sun_path - 1));
        m_bound = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        m_path = path;
    }
    ~NotifyListener()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool bound() const { return m_bound; }
    const QByteArray &path() const { return m_path; }

    // Every message so far.
    const QStringList &messages()
    {
        char buffer[4096];
        ssize_t n;
        while ((n = ::recv(m_fd, buffer, sizeof buffer, 0)) > 0)
            m_messages << QString::fromUtf8(buffer, n);
        return m_messages;
    }
    // The index of the first message from `from` on that has this line;
    // -1 when none has.
    int find(const QString &line, int from = 0)
    {
        const QStringList &all = messages();
        for (int i = from; i < all.size(); ++i) {
            if (all[i].split(QLatin1Char('\n')).contains(line))
                return i;
        }
        return -1;
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_path;
    int m_fd = -1;
    bool m_bound = false;
    QStringList m_messages;
};

class Systemd : public ServerTest {
protected:
    sim::Handle<sim::D400> scale = sim::launch<sim::D400>();
    NotifyListener manager;

    void SetUp() override
    {
        ASSERT_TRUE(manager.bound());
        scale->setWeightField("   12,340");
        mapPort(3, scale->slavePath());
        configureRole("Bilancia", "BILANCIAI", "D400", 3);
        // A counter whose adapter is not plugged in.
        mapPort(5, (configHome() + QStringLiteral("/ttyUSB7")).toStdString());
        configureRole("Contametri", "ELAP", "CM78A", 5);
    }
    void TearDown() override
    {
        qunsetenv("NOTIFY_SOCKET");
        qunsetenv("WATCHDOG_USEC");
    }
};

TEST_F(Systemd, ReadyStatusReloadWatchdogAndStopReachTheServiceManager)
{
    qputenv("NOTIFY_SOCKET", manager.path());
    qputenv("WATCHDOG_USEC", "400000");
    startServer();
    qunsetenv("NOTIFY_SOCKET");
    qunsetenv("WATCHDOG_USEC");

    // Ready once it holds its name and has loaded the configuration, with
    // the status in the same message.
    ASSERT_TRUE(waitUntil([&] { return manager.find("READY=1") >= 0; })) << manager.messages().join('|').toStdString();
    EXPECT_TRUE(serviceRegistered());
    const int ready = manager.find("READY=1");
    EXPECT_TRUE(manager.messages()[ready].contains("STATUS=2 roles configured, 1 failing (Contametri); plant feed off"))
        << manager.messages()[ready].toStdString();

    // The keep-alive comes again and again from the event loop.
    EXPECT_TRUE(waitUntil([&] { return manager.messages().count("WATCHDOG=1") >= 3; }));

    // A reload through the client: reloading, then ready again, then the
    // status of what it loaded.
    configureRole("Altezza", "BILANCIAI", "D400", 3);
    QProcess client;
    client.start(clientPath(), {"reload"});
    ASSERT_TRUE(client.waitForFinished(60000));
    // The counter's port is missing and the height role has no driver: the
    // load warns, so reload says so with exit status 4.
    EXPECT_EQ(client.exitCode(), 4) << client.readAllStandardError().toStdString();
    ASSERT_TRUE(waitUntil([&] { return manager.find("READY=1", ready + 1) >= 0; }))
        << manager.messages().join('|').toStdString();
    const int reloading = manager.find("RELOADING=1", ready + 1);
    ASSERT_GE(reloading, 0);
    EXPECT_TRUE(manager.messages()[reloading].contains("MONOTONIC_USEC="));
    EXPECT_GT(manager.find("READY=1", ready + 1), reloading);
    EXPECT_GT(manager.find("STATUS=3 roles configured, 1 failing (Contametri); plant feed off"), reloading);

    // SIGTERM: an orderly end, told as such.
    stopServer();
    EXPECT_TRUE(waitUntil([&] { return manager.find("STOPPING=1") >= 0; }));
}

} // namespace
