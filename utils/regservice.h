// The tool's entry point: reads one service entry from the command line and
// registers it in the services file. Prints nothing.
#pragma once

namespace volsten {

// Returns 0 in every case.
int regserviceMain(int argc, const char* const* argv);

}  // namespace volsten
