#include "shell/Startup.h"

int main(int argc, char** argv) { return tarnwell::runTarnwell(argc, argv); }
