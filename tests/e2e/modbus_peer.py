#!/usr/bin/python3
# A Modbus TCP client that is not ours (pymodbus) for the face's end-to-end
# test. Prints one JSON line per scenario:
#   map PORT UNIT         waits until the weight is in, reads the whole map as
#                         input and holding registers, tries what must be
#                         refused; then stays connected until stdin closes
#   refused PORT SOURCE   whether a read from the source address fails
#   coil PORT UNIT        writes coil 0 ON: ok or the exception, and the ms
import json
import sys
import time

from pymodbus.client import ModbusTcpClient


def exception_of(reply):
    return getattr(reply, "exception_code", None) if reply.isError() else None


def scenario_map(port, unit):
    client = ModbusTcpClient("127.0.0.1", port=port, timeout=5)
    client.connect()
    deadline = time.time() + 20
    regs = []
    while time.time() < deadline:
        reply = client.read_input_registers(0, 22, slave=unit)
        regs = [] if reply.isError() else reply.registers
        # weight, length and height all in, each role valid
        if regs and all(regs[a] for a in (0, 4, 6)) and all(regs[a] & 1 for a in (10, 11, 12)):
            break
        time.sleep(0.1)
    holding = client.read_holding_registers(0, 22, slave=unit)
    out = {
        "input": regs,
        "holding": [] if holding.isError() else holding.registers,
        "write_register": exception_of(client.write_register(0, 7, slave=unit)),
        "write_registers": exception_of(client.write_registers(10, [1, 2], slave=unit)),
        "beyond": exception_of(client.read_input_registers(20, 3, slave=unit)),
        "coil": exception_of(client.write_coil(0, True, slave=unit)),
        "other_unit": exception_of(client.read_input_registers(0, 2, slave=unit + 1)),
        "after_writes": client.read_holding_registers(0, 2, slave=unit).registers,
    }
    print(json.dumps(out), flush=True)
    sys.stdin.read()
    client.close()


def scenario_refused(port, source):
    client = ModbusTcpClient("127.0.0.1", port=port, source_address=(source, 0), timeout=2, retries=0)
    try:
        client.connect()
        refused = client.read_input_registers(0, 2, slave=1).isError()
    except Exception:
        refused = True
    print(json.dumps({"refused": refused}), flush=True)


def scenario_coil(port, unit):
    client = ModbusTcpClient("127.0.0.1", port=port, timeout=10)
    client.connect()
    start = time.monotonic()
    reply = client.write_coil(0, True, slave=unit)
    print(json.dumps({"exception": exception_of(reply), "ms": (time.monotonic() - start) * 1000}), flush=True)
    client.close()


if __name__ == "__main__":
    name, port = sys.argv[1], int(sys.argv[2])
    if name == "map":
        scenario_map(port, int(sys.argv[3]))
    elif name == "refused":
        scenario_refused(port, sys.argv[3])
    else:
        scenario_coil(port, int(sys.argv[3]))
