// Passwords given on the command line: every user of the machine can read
// them in the process list (/proc/PID/cmdline) for as long as the program
// runs. Once the options are parsed, they are overwritten in the program's
// own argument area, as curl does; the environment or the terminal's
// question are the safer ways, and the help says so.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

// Overwrites with '*', in place: the value of --password (also
// "--password=PW"), and the password of every address that carries
// "user:password@" (the value of --proxy, with or without a scheme, and the
// addresses to download). Arguments after "--" are addresses only.
void BlankSecretArguments(int argc, char** argv);

// The range [first, last) of the password in `address`'s "user:password@"
// part; first == last when it has none. `schemeOptional`: an address
// without "scheme://" (a proxy's) can carry one too.
std::pair<std::size_t, std::size_t> PasswordSpan(const std::string& address, bool schemeOptional);
