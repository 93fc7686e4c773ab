// Modbus RTU instruments on one simulated RS-485 line. Each unit is a
// QModbusRtuSerialServer (Qt Serial Bus, not our code) on a pseudo-terminal
// of its own; a relay thread copies what the server under test writes to
// every unit and what any unit answers back, as a shared bus does. The
// units run in a thread of their own, so a test may block in a D-Bus call.
#pragma once

#include "sim/Pty.h"

#include <QModbusDataUnit>
#include <QThread>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class QModbusRtuSerialServer;

namespace sim {

class ModbusRtuBus {
public:
    // One unit per address; every unit has 100 holding and 100 input
    // registers from `first` and 16 coils from `first`.
    explicit ModbusRtuBus(std::vector<int> addresses, int first = 0, const std::string &settings = "9600,N,8,1");
    ~ModbusRtuBus();
    ModbusRtuBus(const ModbusRtuBus &) = delete;
    ModbusRtuBus &operator=(const ModbusRtuBus &) = delete;

    // What the server under test opens.
    const std::string &slavePath() const { return m_line.slavePath(); }

    void setRegister(int unit, QModbusDataUnit::RegisterType table, int address, quint16 value);
    quint16 registerValue(int unit, QModbusDataUnit::RegisterType table, int address) const;
    // The CRC of the next answer is spoiled on its way back.
    void spoilNextReply() { m_spoil = true; }
    // Requests and answers take the time they would on a line at baud
    // (ten bits a byte); 0: at once (the default).
    void setPacing(int baud) { m_baud = baud; }
    // Bytes the server under test wrote, in total.
    std::size_t bytesReceived() const { return m_received; }

private:
    void relay();
    QModbusRtuSerialServer *unit(int address) const;

    Pty m_line;
    std::vector<std::unique_ptr<Pty>> m_unitLines;
    std::vector<int> m_addresses;
    QThread m_thread;
    QObject *m_context = nullptr; // lives in m_thread
    std::vector<QModbusRtuSerialServer *> m_units; // live in m_thread
    std::thread m_relay;
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_spoil{false};
    std::atomic<int> m_baud{0};
    std::atomic<std::size_t> m_received{0};
};

} // namespace sim
