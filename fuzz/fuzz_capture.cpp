// Capture files: whatever the bytes, parse() ends without a fault, and a
// capture it reads written out again reads back the same.
#include "common/Capture.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace quorvex::capture;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const auto capture = parse(text);
    if (!capture)
        return 0;
    std::string again = header();
    for (const Chunk &chunk : capture->chunks)
        again += formatChunk(chunk);
    const auto reread = parse(again);
    if (!reread || reread->chunks.size() != capture->chunks.size())
        std::abort();
    for (std::size_t i = 0; i < capture->chunks.size(); ++i) {
        const Chunk &a = capture->chunks[i];
        const Chunk &b = reread->chunks[i];
        if (a.timeUs != b.timeUs || a.port != b.port || a.device != b.device || a.settings != b.settings
            || a.sent != b.sent || a.bytes != b.bytes)
            std::abort();
    }
    return 0;
}
