// velnar-console for the tests, with one retransmission of an unanswered
// frame instead of ten: a silent server then ends a call in about a second
// rather than 75. Never installed.
#include "console/run_console.h"
#include "iax/iax.h"

int main(int argc, char** argv)
{
    IaxMaxRetries = 1;
    return velnar::RunConsole(argc, argv);
}
