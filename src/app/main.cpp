// quorvexd: the Quorvex server process.
#include "app/Startup.h"

int main(int argc, char **argv)
{
    return quorvex::runServer(argc, argv);
}
