// Whether the window can really be shown. Qt ends the program when it cannot open the display it
// is given, so the program asks first and runs headless instead.
#pragma once

#include <string>

namespace murmur {

// Empty when a display can be opened; otherwise why not, in a few words.
std::string displayProblem();

}  // namespace murmur
