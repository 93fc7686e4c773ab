// quorvexd: the Quorvex server process.
#include "server/Startup.h"

int main(int argc, char **argv)
{
    return quorvex::runServer(argc, argv);
}
