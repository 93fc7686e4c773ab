#!/usr/bin/python3
"""A Modbus RTU slave of pymodbus on a serial device, for end-to-end tests.

Usage: pymodbus_rtu_slave.py DEVICE UNIT REGISTER=VALUE...
Serves holding registers (0-based addresses) for one unit address and
prints "ready" once the device is open.
"""
import asyncio
import sys

from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.server import StartAsyncSerialServer


async def serve(device, unit, registers):
    block = ModbusSequentialDataBlock(0, [0] * 256)
    for address, value in registers.items():
        block.setValues(address, [value])
    context = ModbusServerContext(slaves={unit: ModbusSlaveContext(hr=block, zero_mode=True)}, single=False)
    server = await StartAsyncSerialServer(context=context, framer=ModbusRtuFramer, port=device,
                                          baudrate=19200, defer_start=True)
    await server.start()
    if server.transport is None:
        sys.exit(f"cannot open {device}")
    print("ready", flush=True)
    await server.serve_forever()


def main():
    device, unit = sys.argv[1], int(sys.argv[2])
    registers = {int(a): int(v) for a, v in (word.split("=") for word in sys.argv[3:])}
    asyncio.run(serve(device, unit, registers))


if __name__ == "__main__":
    main()
