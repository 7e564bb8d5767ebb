// The whole of volsten-server, callable from a test program's main.
#pragma once

namespace volsten {

// 0 after a clean stop, 1 when a listener cannot start, 2 on a usage error.
int serverMain(int argc, char** argv);

}  // namespace volsten
