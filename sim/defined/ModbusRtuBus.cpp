#include "sim/defined/ModbusRtuBus.h"

#include <QModbusRtuSerialServer>
#include <QSerialPort>
#include <QVariant>
#include <chrono>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace sim {

namespace {

void writeAll(int fd, const char *data, ssize_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, data, size_t(n));
        if (w < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                ::poll(nullptr, 0, 1);
                continue;
            }
            return;
        }
        data += w;
        n -= w;
    }
}

// Runs f in the thread of obj and waits for it.
template<typename F> void inThread(QObject *obj, F f)
{
    QMetaObject::invokeMethod(obj, f, Qt::BlockingQueuedConnection);
}

} // namespace

ModbusRtuBus::ModbusRtuBus(std::vector<int> addresses, int first, const std::string &settings)
        : m_addresses(std::move(addresses))
{
    const auto parts = QString::fromStdString(settings).split(QLatin1Char(','));
    const int baud = parts.value(0).toInt();
    for (size_t i = 0; i < m_addresses.size(); ++i)
        m_unitLines.push_back(std::make_unique<Pty>());
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    m_thread.start();
    for (size_t i = 0; i < m_addresses.size(); ++i) {
        QModbusRtuSerialServer *server = nullptr;
        const std::string path = m_unitLines[i]->slavePath();
        const int address = m_addresses[i];
        inThread(m_context, [&] {
            server = new QModbusRtuSerialServer;
            QModbusDataUnitMap map;
            map.insert(QModbusDataUnit::HoldingRegisters, {QModbusDataUnit::HoldingRegisters, first, 100});
            map.insert(QModbusDataUnit::InputRegisters, {QModbusDataUnit::InputRegisters, first, 100});
            map.insert(QModbusDataUnit::Coils, {QModbusDataUnit::Coils, first, 16});
            server->setMap(map);
            server->setServerAddress(address);
            server->setConnectionParameter(QModbusDevice::SerialPortNameParameter, QString::fromStdString(path));
            server->setConnectionParameter(QModbusDevice::SerialBaudRateParameter, baud > 0 ? baud : 9600);
            server->setConnectionParameter(QModbusDevice::SerialDataBitsParameter, QSerialPort::Data8);
            server->setConnectionParameter(QModbusDevice::SerialParityParameter, QSerialPort::NoParity);
            server->setConnectionParameter(QModbusDevice::SerialStopBitsParameter, QSerialPort::OneStop);
            if (!server->connectDevice())
                qWarning("Modbus unit %d cannot open %s: %s", address, path.c_str(), qPrintable(server->errorString()));
        });
        m_units.push_back(server);
    }
    if (::pipe(m_wake) != 0)
        throw std::runtime_error("no pipe");
    m_relay = std::thread([this] { relay(); });
}

ModbusRtuBus::~ModbusRtuBus()
{
    const char stop = 'x';
    (void)::write(m_wake[1], &stop, 1);
    m_relay.join();
    ::close(m_wake[0]);
    ::close(m_wake[1]);
    for (QModbusRtuSerialServer *server : m_units) {
        QMetaObject::invokeMethod(
            server,
            [server] {
                server->disconnectDevice();
                delete server;
            },
            Qt::BlockingQueuedConnection);
    }
    QMetaObject::invokeMethod(
        m_context, [this] { delete m_context; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

QModbusRtuSerialServer *ModbusRtuBus::unit(int address) const
{
    for (size_t i = 0; i < m_addresses.size(); ++i) {
        if (m_addresses[i] == address)
            return m_units[i];
    }
    throw std::invalid_argument("no such Modbus unit");
}

void ModbusRtuBus::setRegister(int address, QModbusDataUnit::RegisterType table, int reg, quint16 value)
{
    QModbusRtuSerialServer *server = unit(address);
    inThread(server, [=] { server->setData(table, quint16(reg), value); });
}

quint16 ModbusRtuBus::registerValue(int address, QModbusDataUnit::RegisterType table, int reg) const
{
    QModbusRtuSerialServer *server = unit(address);
    quint16 value = 0;
    inThread(server, [&] { server->data(table, quint16(reg), &value); });
    return value;
}

void ModbusRtuBus::relay()
{
    std::vector<pollfd> fds;
    fds.push_back({m_wake[0], POLLIN, 0});
    fds.push_back({m_line.masterFd(), POLLIN, 0});
    for (const auto &line : m_unitLines)
        fds.push_back({line->masterFd(), POLLIN, 0});
    char buffer[512];
    for (;;) {
        if (::poll(fds.data(), nfds_t(fds.size()), -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents)
            return;
        if (fds[1].revents & POLLIN) {
            const ssize_t n = ::read(fds[1].fd, buffer, sizeof buffer);
            if (n > 0) {
                m_received += size_t(n);
                if (const int baud = m_baud)
                    std::this_thread::sleep_for(std::chrono::microseconds(n * 10LL * 1000000 / baud));
                for (const auto &line : m_unitLines)
                    writeAll(line->masterFd(), buffer, n);
            }
        }
        for (size_t i = 2; i < fds.size(); ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0)
                continue;
            // A reply leaves in one write; spoiling its last byte breaks its CRC.
            if (m_spoil.exchange(false))
                buffer[n - 1] = char(buffer[n - 1] ^ 0x5A);
            if (const int baud = m_baud)
                std::this_thread::sleep_for(std::chrono::microseconds(n * 10LL * 1000000 / baud));
            writeAll(m_line.masterFd(), buffer, n);
        }
        if (fds[1].revents & (POLLHUP | POLLERR))
            ::poll(nullptr, 0, 5); // the server closed its port: do not spin
    }
}

} // namespace sim
