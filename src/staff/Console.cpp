#include "staff/Console.h"

namespace murmur {

void consoleEntry(Server&, const std::string&) {}

}  // namespace murmur
