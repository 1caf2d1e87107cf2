#include "protocol/Dispatch.h"

namespace murmur {

void dispatchPacket(Server&, std::uint8_t, ConnectionNumber, std::string_view) {}

}  // namespace murmur
