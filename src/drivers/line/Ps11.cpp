// PS11: started once per call with DC1, then up to ten attempts each take
// 21 bytes of the stream and look for a whole, valid frame in them. Every
// ending that returns a value writes DC3 first, so the scale is left quiet.
#include "drivers/line/Ps11.h"

#include "drivers/DriverSupport.h"
#include "drivers/line/Ps11Frame.h"

namespace quorvex {

using namespace std::chrono_literals;

namespace {
constexpr int kMaxAttempts = 10;
}

QCoro::Task<QVariant> LeggiPeso_CTM_PS11(PortRef ref)
{
    PortControl &port = requirePort(ref);
    Ps11Buffer buffer{};
    port.setInputMode(PortControl::Binary);
    port.setInBufferCount(0);
    port.Output(QByteArray(1, kPs11Start));
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        const bool arrived = co_await waitForBytes(port, kPs11ChunkLength, 2s);
        if (!arrived)
            break;
        const QByteArray bytes = port.Input().toByteArray();
        // Only a frame collected whole from these bytes counts: a frame cut
        // short would otherwise be completed by bytes of an older frame.
        const bool whole = collectPs11Frame(bytes, buffer);
        if (!whole || !ps11FrameValid(buffer)) {
            port.setInBufferCount(0);
            continue;
        }
        port.Output(QByteArray(1, kPs11Stop));
        const double weight = ps11Weight(buffer);
        port.setInBufferCount(0);
        co_return QVariant(weight);
    }
    port.Output(QByteArray(1, kPs11Stop));
    co_return QVariant(0.0);
}

} // namespace quorvex
