// velnar-console: the Velnar phone without a window (see --help).
#include "console/run_console.h"

int main(int argc, char** argv)
{
    return velnar::RunConsole(argc, argv);
}
