#include "sim/defined/ServeDefinition.h"

#include "drivers/ModbusRtuFrame.h"
#include "sim/defined/DefinedText.h"
#include "sim/defined/ModbusRtuBus.h"

#include <QCoreApplication>
#include <QFile>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <unistd.h>

namespace sim {

namespace {

using quorvex::DefinedOperation;
using quorvex::InstrumentDefinition;

// The registers a reading of value needs, in the operation's type and order.
std::vector<quint16> encode(double value, const DefinedOperation &op)
{
    const double raw = op.factor != 0 ? value / op.factor : value;
    quint32 bits = 0;
    switch (op.type) {
    case quorvex::RegisterType::Int16: return {quint16(qint16(std::lround(raw)))};
    case quorvex::RegisterType::UInt16: return {quint16(std::lround(raw))};
    case quorvex::RegisterType::Int32: bits = quint32(qint32(std::llround(raw))); break;
    case quorvex::RegisterType::UInt32: bits = quint32(std::llround(raw)); break;
    case quorvex::RegisterType::Float32: {
        const float f = float(raw);
        std::memcpy(&bits, &f, sizeof bits);
        break;
    }
    }
    const quint8 a = bits >> 24, b = (bits >> 16) & 0xFF, c = (bits >> 8) & 0xFF, d = bits & 0xFF;
    switch (op.order) {
    case quorvex::WordOrder::ABCD: return {quint16(a << 8 | b), quint16(c << 8 | d)};
    case quorvex::WordOrder::CDAB: return {quint16(c << 8 | d), quint16(a << 8 | b)};
    case quorvex::WordOrder::BADC: return {quint16(b << 8 | a), quint16(d << 8 | c)};
    case quorvex::WordOrder::DCBA: return {quint16(d << 8 | c), quint16(b << 8 | a)};
    }
    return {0, 0};
}

void setReading(ModbusRtuBus &bus, const InstrumentDefinition &def, int index, double value)
{
    const DefinedOperation &op = def.operations[index];
    const auto table = op.function == 4 ? QModbusDataUnit::InputRegisters : QModbusDataUnit::HoldingRegisters;
    const std::vector<quint16> regs = encode(value, op);
    for (size_t i = 0; i < regs.size(); ++i)
        bus.setRegister(op.unit, table, op.address + int(i), regs[i]);
}

int serveModbus(const InstrumentDefinition &def, const std::vector<std::string> &options)
{
    std::string settings = def.row.settings.toStdString();
    std::string link;
    for (size_t i = 0; i + 1 < options.size(); i += 2) {
        if (options[i] == "--settings")
            settings = options[i + 1];
        else if (options[i] == "--link")
            link = options[i + 1];
        else {
            std::fprintf(stderr, "quorvex-sim: a Modbus definition takes --settings and --link only\n");
            return 2;
        }
    }
    int first = 65535;
    for (int i = 0; i < def.count; ++i)
        first = std::min(first, def.operations[i].address);
    static int argc = 1;
    static char name[] = "quorvex-sim";
    static char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    ModbusRtuBus bus({def.operations[0].unit}, std::min(first, 65536 - 100), settings);
    if (!link.empty()) {
        ::unlink(link.c_str());
        if (::symlink(bus.slavePath().c_str(), link.c_str()) != 0) {
            std::fprintf(stderr, "quorvex-sim: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
            return 1;
        }
    }
    std::printf("%s\n", bus.slavePath().c_str());
    std::fflush(stdout);
    std::fprintf(stderr,
                 "Modbus RTU unit %d (Qt Serial Bus). Commands: OPERATION VALUE (e.g. LeggiLunghezza 12.5), "
                 "quit\n",
                 def.operations[0].unit);
    std::string line;
    while (std::getline(std::cin, line)) {
        const auto space = line.find(' ');
        const std::string what = line.substr(0, space);
        if (what == "quit" || what == "exit")
            break;
        bool done = false;
        for (int i = 0; i < def.count && space != std::string::npos; ++i) {
            const DefinedOperation &op = def.operations[i];
            if (what == def.recipes[i].operation && (op.function == 3 || op.function == 4)) {
                setReading(bus, def, i, std::atof(line.c_str() + space + 1));
                done = true;
            }
        }
        std::printf(done ? "ok\n" : "quorvex-sim: cannot apply '%s'\n", line.c_str());
        std::fflush(stdout);
    }
    if (!link.empty())
        ::unlink(link.c_str());
    return 0;
}

} // namespace

int serveDefinition(const std::vector<std::string> &args,
                    const std::function<int(const ModelInfo &, const std::vector<std::string> &)> &runText)
{
    if (args.empty()) {
        std::fprintf(stderr, "quorvex-sim: --definition needs a file\n");
        return 2;
    }
    QFile file(QString::fromStdString(args[0]));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "quorvex-sim: cannot read %s\n", args[0].c_str());
        return 1;
    }
    quorvex::DefinitionProblem problem;
    static std::unique_ptr<InstrumentDefinition> def;
    def = quorvex::readDefinition(file.read(16 * 1024), file.fileName(), &problem);
    if (!def) {
        std::fprintf(stderr, "quorvex-sim: %s: [%s] %s %s\n", args[0].c_str(), qPrintable(problem.group),
                     qPrintable(problem.key), qPrintable(problem.problem));
        return 1;
    }
    const std::vector<std::string> options(args.begin() + 1, args.end());
    if (def->protocol == quorvex::DefinedProtocol::ModbusRtu)
        return serveModbus(*def, options);
    static const std::string description = def->row.brand.toStdString() + " " + def->row.model.toStdString();
    const ModelInfo info{"definition", description, "--number TEXT   the number in every example reply",
                         [] { return Handle<Instrument>(make<DefinedText>(*def)); }};
    std::vector<std::string> withName{"definition"};
    withName.insert(withName.end(), options.begin(), options.end());
    return runText(info, withName);
}

} // namespace sim
