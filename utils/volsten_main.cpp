#include "utils/volsten_client.h"

int main(int argc, char** argv) { return volsten::volstenMain(argc, argv); }
