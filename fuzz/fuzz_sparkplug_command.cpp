// Sparkplug B commands as the broker hands them over: whatever the bytes,
// the decode ends without a fault, and a rebirth is only ever read from a
// payload that decoded.
#include "feed/SparkplugCommand.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const quorvex::NodeCommand command =
        quorvex::decodeNodeCommand(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (!command.decoded && (command.rebirth || !command.others.isEmpty()))
        std::abort();
    return 0;
}
