#pragma once
// Port object over a real serial device, through QSerialPort. The device is
// the one the port number maps to (PortDirectory), or a fixed path given by
// a client for a single call.
#include "serial/PortControl.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <functional>

namespace quorvex {

class SerialPort : public PortControl {
    Q_OBJECT
public:
    // Which device a port number stands for; given by whoever creates the
    // port, so the port itself reads no configuration.
    using DevicePathForNumber = std::function<QString(int number)>;

    // A port whose device follows its port number through pathForNumber.
    explicit SerialPort(DevicePathForNumber pathForNumber, QObject *parent = nullptr);
    // A port on a fixed device path, whatever its number.
    explicit SerialPort(const QString &devicePath, QObject *parent = nullptr);

    QString devicePath() const override;
    bool deviceMoved() const override;
    bool deviceHeldElsewhere() const override { return m_heldElsewhere; }

    // The lock file QSerialPort takes for a device: LCK.. and the port name
    // (the path without /dev/, "/" as "_") in the first lock folder that is
    // readable and holds that file already or can be written.
    static QString lockFilePath(const QString &devicePath);

protected:
    bool openDevice(QString *why) override;
    void closeDevice() override;
    bool applySettings(const LineSettings &settings) override;
    bool writeDevice(const QByteArray &bytes) override;
    void discardDeviceInput() override;
    bool devicePresent() const override;

private:
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    // Why an open failed, in words that say what to do about it.
    QString openFailure() const;

    // Read errors this close together mean the line is broken.
    static constexpr int kReadErrorsToFail = 5;
    static constexpr qint64 kReadErrorWindowMs = 200;

    DevicePathForNumber m_pathForNumber;
    QString m_fixedPath;
    QString m_openPath; // the device opened, while open
    bool m_heldElsewhere = false; // the last open met a live holder's lock
    QSerialPort m_port;
    QElapsedTimer m_readErrors;
    int m_readErrorCount = 0;
};

} // namespace quorvex
