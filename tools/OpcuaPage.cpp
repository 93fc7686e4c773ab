// Prints the OPC UA face's documentation page, generated from its address
// space table: quorvex-opcua-page > docs/opcua.md
#include "api/opcua/AddressSpace.h"

#include <cstdio>

int main()
{
    std::fputs(quorvex::opcua::opcuaPage().toUtf8().constData(), stdout);
    return 0;
}
