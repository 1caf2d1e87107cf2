// The operator's account commands, murmur-server --passwd NAME and --remove-account NAME: they
// change users.txt beside a running server on the same data directory, under the lock the
// server takes too, so that neither loses the other's update.
#pragma once

#include <string>

namespace murmur {

// Each returns the program's exit status: 0 done (said on standard output), 1 refused or failed
// (the reason on standard error). The name and the password are read as UTF-8 and stored in the
// code page.
int setPasswordCommand(const std::string& directory, const std::string& name);
int removeAccountCommand(const std::string& directory, const std::string& name);

}  // namespace murmur
