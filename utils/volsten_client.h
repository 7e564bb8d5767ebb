// The whole of the client command volsten, callable from a test program:
//   volsten cat PATH...              the lines of each file (//server/... through the server)
//   volsten join DIRECTORY NAME      the path join's result
//   volsten profile [SECTION [KEY]]  a value of volsten.ini, or its key or section names
#pragma once

namespace volsten {

// 0 on success, 1 on failure, 2 on a usage error.
int volstenMain(int argc, char** argv);

}  // namespace volsten
