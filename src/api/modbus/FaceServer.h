#pragma once
// Qt's Modbus TCP server as the face uses it: it listens, lets the face's
// gate accept or close each connection, and answers the requests the face
// hands it from the register image. Functions other than reading
// registers and coils, and writing coil 0, are refused (exception 1), so no
// client can change a register or put the server in listen-only mode.
#include <QModbusTcpServer>
#include <functional>

namespace quorvex::modbus {

class FaceServer : public QModbusTcpServer {
    Q_OBJECT
public:
    explicit FaceServer(QObject *parent = nullptr);

    // Called before a register read is answered, to bring the image up to date.
    std::function<void()> refresh;
    bool coilWritable = false;

    // The answer to one request, here and now. A coil 0 write with value ON
    // is the face's own to run (it answers after the zeroing).
    QModbusResponse answer(const QModbusRequest &request) { return processRequest(request); }
    // Whether the request is function 5 on coil 0 with value ON.
    static bool zeroesLength(const QModbusRequest &request);
    // The registers of the image, from address 0.
    void setImage(const QList<quint16> &words);

protected:
    QModbusResponse processRequest(const QModbusPdu &request) override;
};

} // namespace quorvex::modbus
