// The port object: line settings, what it refuses, its input buffer, and a
// real serial device (a pty) carrying DC1/DC3 as data; a device's by-id name.
#include "RunTask.h"
#include "common/AutomationError.h"
#include "drivers/Exchanges.h"
#include "serial/LineSettings.h"
#include "serial/PortReference.h"
#include "serial/SerialPort.h"
#include "serial/StableDeviceName.h"
#include "support/MemoryPort.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quorvex;

TEST(LineSettings, AcceptsEveryValidForm)
{
    for (const char *text : {"9600,N,8,1", "110,E,7,2", "256000,O,5,1.5", "1200,M,6,1", "19200,S,8,2", "9600,n,8,1"}) {
        const auto s = LineSettings::parse(QLatin1String(text));
        ASSERT_TRUE(s) << text;
    }
    const auto s = LineSettings::parse(QStringLiteral("4800,e,7,1.5"));
    EXPECT_EQ(s->baud, 4800);
    EXPECT_EQ(s->parity, 'E');
    EXPECT_EQ(s->dataBits, 7);
    EXPECT_EQ(s->stopBits, "1.5");
    EXPECT_EQ(s->toString(), "4800,E,7,1.5");
}

TEST(LineSettings, RefusesInvalidText)
{
    for (const char *text : {"", "9600", "9600,N,8", "9600,N,8,1,", "9601,N,8,1", "9600,X,8,1", "9600,N,9,1",
                             "9600,N,4,1", "9600,N,8,3", " 9600,N,8,1", "9600,NN,8,1", "-9600,N,8,1"})
        EXPECT_FALSE(LineSettings::parse(QLatin1String(text))) << text;
}

TEST(PortControl, RefusalsKeepTheOldStateAndReportAPortError)
{
    MemoryPort port;
    EXPECT_EQ(port.CommPort(), 1);
    EXPECT_EQ(port.Settings(), "9600,N,8,1");
    EXPECT_THROW(port.setCommPort(0), AutomationError);
    EXPECT_THROW(port.setCommPort(-3), AutomationError);
    EXPECT_THROW(port.setSettings(QString()), AutomationError);
    EXPECT_EQ(port.Settings(), "9600,N,8,1");

    // Nothing but the settings works on a closed port.
    EXPECT_THROW(port.InBufferCount(), AutomationError);
    EXPECT_THROW(port.Output("x"), AutomationError);
    EXPECT_THROW(port.Input(), AutomationError);

    port.setCommPort(5);
    port.setPortOpen(true);
    try {
        port.setPortOpen(true);
        FAIL() << "opening an open port must fail";
    } catch (const AutomationError &e) {
        EXPECT_EQ(e.kind(), ErrorKind::PortError);
    }
    EXPECT_THROW(port.setCommPort(6), AutomationError); // refused while open
    EXPECT_EQ(port.CommPort(), 5);
    port.setSettings(QStringLiteral("19200,E,7,2")); // applies while open
    EXPECT_EQ(port.Settings(), "19200,E,7,2");

    MemoryPort missing;
    missing.openFails = true;
    EXPECT_THROW(missing.setPortOpen(true), AutomationError);
    EXPECT_FALSE(missing.PortOpen());
}

TEST(PortControl, InputBufferInTextAndBinaryMode)
{
    MemoryPort port;
    port.setPortOpen(true);
    EXPECT_EQ(port.Input().toString(), QString()); // empty text
    port.setInputMode(PortControl::Binary);
    EXPECT_EQ(port.Input().toByteArray(), QByteArray()); // empty array

    port.feed(QByteArray("\x11\xff\x13", 3));
    EXPECT_EQ(port.InBufferCount(), 3);
    EXPECT_EQ(port.Input().toByteArray(), QByteArray("\x11\xff\x13", 3));
    EXPECT_EQ(port.InBufferCount(), 0);

    port.setInputMode(PortControl::Text);
    port.feed("12,5\xe9");
    EXPECT_EQ(port.Input().toString(), QString::fromLatin1("12,5\xe9"));

    port.feed("stale");
    port.setInBufferCount(0);
    EXPECT_EQ(port.InBufferCount(), 0);
    EXPECT_THROW(port.setInBufferCount(3), AutomationError);
    EXPECT_THROW(port.setInputMode(2), AutomationError);
}

TEST(PortControl, BufferIsBoundedAndADeadDeviceClosesThePort)
{
    MemoryPort port;
    port.setPortOpen(true);
    port.feed(QByteArray(PortControl::kInBufferSize + 100, 'a') + "end");
    EXPECT_EQ(port.InBufferCount(), PortControl::kInBufferSize);
    EXPECT_TRUE(port.Input().toString().endsWith("end")) << "the newest bytes are kept";

    port.fail();
    EXPECT_FALSE(port.PortOpen());
    EXPECT_THROW(port.InBufferCount(), AutomationError);
    port.setPortOpen(true); // it can be opened again
    EXPECT_TRUE(port.PortOpen());

    port.retire();
    EXPECT_THROW(port.setPortOpen(true), AutomationError);
}

// What the traffic monitor reads from a port object: its byte counts (bytes
// dropped from a full buffer were still received), why it last failed, and
// the tap, which sees every chunk only while it is set.
TEST(PortControl, CountsBytesKeepsItsLastErrorAndFeedsTheTap)
{
    MemoryPort port;
    port.openFails = true;
    EXPECT_THROW(port.setPortOpen(true), AutomationError);
    EXPECT_TRUE(port.lastErrorText().endsWith(QStringLiteral("No such device"))) << port.lastErrorText().toStdString();
    port.openFails = false;
    port.setPortOpen(true);
    EXPECT_EQ(port.lastErrorText(), QString());

    std::vector<std::pair<PortControl::Direction, QByteArray>> seen;
    PortControl::setTrafficTap([&](const PortControl &from, PortControl::Direction direction, const QByteArray &bytes) {
        EXPECT_EQ(&from, &port);
        seen.emplace_back(direction, bytes);
    });
    port.Output("XB\r");
    port.feed(QByteArray(PortControl::kInBufferSize, 'a') + "kg\r");
    PortControl::setTrafficTap({});
    port.Output("XT\r");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].first, PortControl::Direction::Sent);
    EXPECT_EQ(seen[0].second, "XB\r");
    EXPECT_EQ(seen[1].first, PortControl::Direction::Received);
    EXPECT_EQ(port.bytesSent(), 6u);
    EXPECT_EQ(port.bytesReceived(), quint64(PortControl::kInBufferSize + 3));

    port.fail();
    EXPECT_FALSE(port.lastErrorText().isEmpty()) << "a device failure is kept too";
}

namespace {
// A pty whose slave the port object opens as its device.
struct PtyPair {
    int master = -1;
    QString slavePath;
    PtyPair()
    {
        int slave = -1;
        char name[128] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            slavePath = QString::fromLocal8Bit(name);
            ::close(slave);
        }
    }
    ~PtyPair() { ::close(master); }
};

QByteArray readMaster(int fd, int count)
{
    QByteArray out;
    QDeadlineTimer deadline(5000);
    while (out.size() < count && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        char buf[64];
        fd_set set;
        FD_ZERO(&set);
        FD_SET(fd, &set);
        timeval tv{0, 20000};
        if (select(fd + 1, &set, nullptr, nullptr, &tv) > 0) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0)
                out.append(buf, n);
        }
    }
    return out;
}
} // namespace

TEST(SerialPort, FlowControlBytesPassBothWaysOnARealDevice)
{
    PtyPair pty;
    ASSERT_FALSE(pty.slavePath.isEmpty());
    SerialPort port(pty.slavePath);
    port.setPortOpen(true);
    port.setInputMode(PortControl::Binary);

    port.Output(QByteArray("\x11\x13\x02", 3));
    EXPECT_EQ(readMaster(pty.master, 3), QByteArray("\x11\x13\x02", 3));

    ASSERT_EQ(::write(pty.master, "\x11\x13\x06", 3), 3);
    QDeadlineTimer deadline(5000);
    while (port.InBufferCount() < 3 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(port.Input().toByteArray(), QByteArray("\x11\x13\x06", 3));

    // Bytes that arrived before a discard are not read after it.
    ASSERT_EQ(::write(pty.master, "old", 3), 3);
    QDeadlineTimer settle(200);
    while (!settle.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    port.setInBufferCount(0);
    EXPECT_EQ(port.InBufferCount(), 0);
    port.setPortOpen(false);
}

TEST(SerialPort, BytesWrittenJustBeforeClosingReachTheLine)
{
    PtyPair pty;
    SerialPort port(pty.slavePath);
    port.setPortOpen(true);
    port.Output("@R01\r");
    port.setPortOpen(false); // no event loop turn in between
    EXPECT_EQ(readMaster(pty.master, 5), "@R01\r");
}

TEST(SerialPort, LostDeviceClosesThePortInsteadOfRepeatingErrors)
{
    auto pty = std::make_unique<PtyPair>();
    SerialPort port(pty->slavePath);
    port.setPortOpen(true);
    int changes = 0;
    QObject::connect(&port, &PortControl::inputChanged, [&] { ++changes; });
    pty.reset(); // the other end hangs up
    QDeadlineTimer deadline(5000);
    while (port.PortOpen() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_FALSE(port.PortOpen());
    EXPECT_GE(changes, 1) << "a waiting driver must be woken";
    EXPECT_THROW(port.InBufferCount(), AutomationError);
}

TEST(SerialPort, MissingDeviceRefusesToOpen)
{
    SerialPort port(QStringLiteral("/dev/quorvex-no-such-port"));
    EXPECT_THROW(port.setPortOpen(true), AutomationError);
    EXPECT_FALSE(port.PortOpen());
}

TEST(PortControl, KeepsWhyItIsClosedAndReopensALostDeviceOnlyOnceItIsBack)
{
    const auto message = [](auto &&step) {
        try {
            step();
        } catch (const AutomationError &e) {
            return QStringLiteral("%1: %2").arg(e.number()).arg(e.text());
        }
        return QString();
    };
    MemoryPort port;
    port.openFails = true;
    EXPECT_THROW(port.setPortOpen(true), AutomationError);
    EXPECT_EQ(message([&] { port.Output("x"); }), "8002: No such device") << "the open's error, not 'not open'";
    port.openFails = false;
    port.ensureOpen(); // meant to be open, and the device can be opened now
    EXPECT_TRUE(port.PortOpen());

    port.fail(QStringLiteral("Input/output error"));
    port.present = false;
    port.openFails = true; // would the device be touched, this error would show
    const QString gone = message([&] { port.ensureOpen(); });
    EXPECT_TRUE(gone.startsWith("8002: the device went away (Input/output error)")) << gone.toStdString();
    EXPECT_EQ(message([&] { port.InBufferCount(); }), gone);

    port.present = true;
    port.openFails = false;
    port.setInputMode(PortControl::Binary);
    port.ensureOpen();
    EXPECT_TRUE(port.PortOpen());
    EXPECT_EQ(port.InputMode(), PortControl::Binary);

    // Closed on purpose, even after it had closed by itself: stays closed,
    // with the plain error.
    port.fail();
    port.setPortOpen(false);
    EXPECT_EQ(message([&] { port.ensureOpen(); }), "8018: Operation valid only when the port is open");
    port.setPortOpen(true);
    port.retire();
    EXPECT_THROW(port.ensureOpen(), AutomationError);
    EXPECT_FALSE(port.PortOpen());
}

TEST(PortReference, SettingsAfterTheLastColonMustParseAndLongTextIsRefused)
{
    const PortReference byPath = parsePortReference("/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");
    EXPECT_EQ(byPath.devicePath, "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");
    EXPECT_TRUE(byPath.settings.isEmpty());
    const PortReference withSettings = parsePortReference("/dev/ttyUSB0:19200,E,7,1");
    EXPECT_EQ(withSettings.devicePath, "/dev/ttyUSB0");
    EXPECT_EQ(withSettings.settings, "19200,E,7,1");
    try {
        parsePortReference("/dev/ttyUSB0:9600,Z,8,1");
        ADD_FAILURE() << "bad line settings must fail";
    } catch (const AutomationError &e) {
        EXPECT_EQ(e.number(), 380);
        EXPECT_TRUE(e.text().contains("\"9600,Z,8,1\"")) << e.text().toStdString();
    }
    try {
        parsePortReference(QString(4097, QLatin1Char('1')));
        ADD_FAILURE() << "a reference longer than any device path must fail";
    } catch (const AutomationError &e) {
        EXPECT_EQ(e.kind(), ErrorKind::InvalidArgument);
    }
    EXPECT_THROW(parsePortReference(QString(2049, QChar(0xe8))), AutomationError) << "counted in UTF-8 bytes";
    EXPECT_EQ(parsePortReference(QString(4096, QLatin1Char('/'))).devicePath.size(), 4096);
}

TEST(SerialPort, StaleLockOfAnEndedProcessDoesNotBlockAndALiveOneIsNamed)
{
    PtyPair pty;
    const QString lockFile = SerialPort::lockFilePath(pty.slavePath);
    ASSERT_FALSE(lockFile.isEmpty());
    // A process that has ended: a child that exits at once.
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    const auto writeLock = [&](qint64 pid, const QString &program) {
        QFile file(lockFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray::number(pid) + '\n' + program.toUtf8() + "\n\n");
    };
    writeLock(child, QStringLiteral("minicom"));
    SerialPort port(pty.slavePath);
    port.setPortOpen(true);
    EXPECT_TRUE(port.PortOpen());
    port.setPortOpen(false);
    EXPECT_FALSE(QFile::exists(lockFile)) << "closing releases the lock";

    // A lock of a process that runs: this one.
    writeLock(QCoreApplication::applicationPid(), QFileInfo(QFile::symLinkTarget("/proc/self/exe")).fileName());
    try {
        port.setPortOpen(true);
        ADD_FAILURE() << "a device locked by a running process must not open";
    } catch (const AutomationError &e) {
        EXPECT_TRUE(e.text().startsWith(pty.slavePath + ": in use by process")) << e.text().toStdString();
        EXPECT_TRUE(e.text().contains(lockFile)) << e.text().toStdString();
    }
    EXPECT_TRUE(port.deviceHeldElsewhere());

    // An exchange waits briefly for a holder that lets go (a server that is
    // ending), instead of failing the reading.
    QTimer::singleShot(200, [&] { QFile::remove(lockFile); });
    auto portRef = std::shared_ptr<PortControl>(&port, [](PortControl *) {});
    const Recipe *d400 = findRecipe(QStringLiteral("LeggiPeso_BILANCIAI_D400"));
    try {
        runTask(runExchange(*d400, portRef)); // the pty does not answer: a reading of 0 after 2 s
    } catch (const AutomationError &e) {
        ADD_FAILURE() << "the exchange did not wait for the device: " << e.text().toStdString();
    }
    EXPECT_TRUE(port.PortOpen());
    port.setPortOpen(false);
    QFile::remove(lockFile);
}

// The by-id name of a device: the link that leads to it, found however the
// device is named (its path, another link to it), and none for a device no
// link leads to, a device that is not there, or a folder that is not there.
TEST(StableDeviceName, IsTheLinkThatLeadsToTheDevice)
{
    QTemporaryDir dir;
    const QString devices = dir.path() + QStringLiteral("/dev");
    const QString byId = dir.path() + QStringLiteral("/by-id");
    ASSERT_TRUE(QDir().mkpath(devices) && QDir().mkpath(byId) && QDir().mkpath(dir.path() + "/by-path"));
    for (const char *name : {"ttyUSB0", "ttyUSB1", "ttyS0"})
        ASSERT_TRUE(QFile(devices + '/' + name).open(QIODevice::WriteOnly));
    // As udev makes them: relative links, one absolute, one left dangling.
    ASSERT_TRUE(QFile::link("../dev/ttyUSB1", byId + "/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"));
    ASSERT_TRUE(QFile::link(devices + "/ttyUSB0", byId + "/usb-Prolific_USB-Serial_Controller-if00-port0"));
    ASSERT_TRUE(QFile::link("../dev/ttyUSB9", byId + "/usb-gone-if00-port0"));
    ASSERT_TRUE(QFile::link("../dev/ttyUSB1", dir.path() + "/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"));

    const QString ftdi = byId + "/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    EXPECT_EQ(stableDeviceName(devices + "/ttyUSB1", byId), ftdi);
    EXPECT_EQ(stableDeviceName(devices + "/ttyUSB0", byId), byId + "/usb-Prolific_USB-Serial_Controller-if00-port0");
    EXPECT_EQ(stableDeviceName(dir.path() + "/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0", byId), ftdi);
    EXPECT_EQ(stableDeviceName(ftdi, byId), ftdi);
    EXPECT_EQ(stableDeviceName(devices + "/ttyS0", byId), QString());
    EXPECT_EQ(stableDeviceName(devices + "/ttyUSB9", byId), QString());
    EXPECT_EQ(stableDeviceName(devices + "/ttyUSB1", dir.path() + "/none"), QString());
}
