// Modbus RTU replies: any bytes give a value or a problem text, never both
// and never neither; a value comes only with a good CRC.
#include "FuzzLocale.h"
#include "drivers/ModbusRtuFrame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView reply = fuzzReply(data, size);
    static const auto operations = [] {
        std::vector<quorvex::DefinedOperation> ops(6);
        ops[0].function = 3, ops[0].type = quorvex::RegisterType::UInt32, ops[0].order = quorvex::WordOrder::CDAB;
        ops[1].function = 4, ops[1].type = quorvex::RegisterType::Int16;
        ops[2].function = 3, ops[2].type = quorvex::RegisterType::Float32, ops[2].order = quorvex::WordOrder::DCBA;
        ops[3].function = 6, ops[3].value = 1;
        ops[4].function = 5, ops[4].value = 1;
        ops[5].function = 4, ops[5].type = quorvex::RegisterType::Int32, ops[5].order = quorvex::WordOrder::BADC;
        return ops;
    }();
    for (const quorvex::DefinedOperation &op : operations) {
        const quorvex::ModbusReading reading = quorvex::readModbusReply(reply, op);
        if (reading.value.has_value() == !reading.problem.isEmpty())
            __builtin_trap();
        if (reading.value && reply.size() >= 2) {
            const quint16 crc =
                quint16(quint8(reply[reply.size() - 2])) | quint16(quint8(reply[reply.size() - 1])) << 8;
            if (quorvex::modbusCrc(reply.first(reply.size() - 2)) != crc)
                __builtin_trap();
        }
        const int length = quorvex::modbusReplyLength(reply, op);
        if (length < 5 || length > 9)
            __builtin_trap();
    }
    return 0;
}
