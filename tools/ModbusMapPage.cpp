// Prints the Modbus TCP face's documentation page, generated from its
// register table: quorvex-modbus-map > docs/modbus-tcp.md
#include "api/modbus/RegisterMap.h"

#include <cstdio>

int main()
{
    std::fputs(quorvex::modbus::registerMapPage().toUtf8().constData(), stdout);
    return 0;
}
