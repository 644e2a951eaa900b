#include "app/program.h"
#include "core/start_options.h"

int main(int argc, char** argv) { return iplib::runProgram(iplib::joinCommandLine(argc, argv)); }
