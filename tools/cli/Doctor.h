// nasscout-cli doctor: reads the machine, runs one search and explains why
// boxes may not be found. It changes nothing on the machine.
#pragma once

namespace cli {

// Prints the report (json or for people) and returns the exit status:
// 0 nothing blocks a search, 1 something does.
int RunDoctor(double timeoutSeconds, bool json);

}  // namespace cli
