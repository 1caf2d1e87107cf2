#include "staff/Commands.h"

namespace murmur {

void processCommand(Server&, std::string_view, std::string_view, bool) {}

}  // namespace murmur
