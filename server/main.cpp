#include "server/server_main.h"

int main(int argc, char** argv) { return volsten::serverMain(argc, argv); }
