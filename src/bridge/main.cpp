// KestroBridge: started by the browser for each native message. Qt Core only and no event
// loop, so that it answers quickly.
#include "BrowserHost.h"

int main(int argc, char **argv)
{
    return BrowserHost::main(argc, argv);
}
