#include "utils/regservice.h"

int main(int argc, char** argv) { return volsten::regserviceMain(argc, argv); }
