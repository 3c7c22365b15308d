// KestroMCP: the MCP server an AI agent starts over standard input and output. Qt Core only
// and no event loop: it answers one line after the other.
#include "KestroMCP.h"

int main(int argc, char **argv)
{
    return KestroMCP::main(argc, argv);
}
