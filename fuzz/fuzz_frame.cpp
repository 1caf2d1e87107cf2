// takeFrame over arbitrary bytes: a whole frame consumes exactly its header and payload, an
// unfinished one leaves the input alone, and every frame the server makes reads back as itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/Framing.h"

using murmur::Frame;
using murmur::FrameResult;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    for (;;) {
        std::string_view before = input;
        Frame frame;
        FrameResult result = murmur::takeFrame(input, frame);
        if (result != FrameResult::frame) {
            if (input.data() != before.data() || input.size() != before.size()) std::abort();
            break;
        }
        std::size_t used = before.size() - input.size();
        if (frame.id > murmur::maxPacketId || frame.id != static_cast<std::uint8_t>(before[0])) std::abort();
        if (frame.payload.size() > murmur::maxPayloadLength) std::abort();
        if (frame.payload.data() + frame.payload.size() != input.data()) std::abort();
        std::string_view header = before.substr(0, used - frame.payload.size());
        if (header.size() < 3 || header.size() > 2 + murmur::maxLengthDigits || header.back() != '\0') std::abort();
        if (std::stoul(std::string(header.substr(1, header.size() - 2))) != frame.payload.size()) std::abort();

        // The server's own framing of the same packet reads back whole.
        std::string made = murmur::framePacket(frame.id, frame.payload);
        std::string_view again = made;
        Frame back;
        if (murmur::takeFrame(again, back) != FrameResult::frame || !again.empty()) std::abort();
        if (back.id != frame.id || back.payload != frame.payload) std::abort();
    }
    return 0;
}
