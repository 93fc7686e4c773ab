#pragma once
// Port object without a device, for unit tests of drivers: it records what
// is written and delivers bytes that a test feeds in, at once or later
// through the event loop, or in answer to a write.
#include "serial/PortControl.h"

#include <functional>

namespace quorvex {

class MemoryPort : public PortControl {
    Q_OBJECT
public:
    explicit MemoryPort(QObject *parent = nullptr);

    // Bytes arrive now.
    void feed(const QByteArray &bytes);
    // Bytes arrive after delayMs, through the event loop.
    void feedLater(const QByteArray &bytes, int delayMs);
    // Called with every write; may feed a reply.
    std::function<void(const QByteArray &)> onWrite;

    QByteArray written() const { return m_written; }
    int discards() const { return m_discards; }
    bool openFails = false;
    // Whether the device is there to be opened again.
    bool present = true;
    // Simulates the device going away.
    void fail(const QString &why = QString()) { deviceFailed(why); }

protected:
    bool openDevice(QString *why) override;
    void closeDevice() override {}
    bool applySettings(const LineSettings &) override { return true; }
    bool writeDevice(const QByteArray &bytes) override;
    void discardDeviceInput() override { ++m_discards; }
    bool devicePresent() const override { return present; }

private:
    QByteArray m_written;
    int m_discards = 0;
};

} // namespace quorvex
