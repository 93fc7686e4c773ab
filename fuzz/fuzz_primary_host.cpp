// A primary host's STATE payloads as the broker hands them over: whatever
// the bytes, reading ends without a fault, and a STATE older than any the
// node can have taken is never believed.
#include "feed/PrimaryHost.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    quorvex::PrimaryHost host;
    host.reset(QStringLiteral("scada"));
    host.read(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    // Taken timestamps are never below -1 (a STATE without one): -2 is stale.
    if (host.read(R"({"online":true,"timestamp":-2})"))
        std::abort();
    return 0;
}
