// corvpop32: the POP3 mail gateway. Polls the mailboxes of POPPAGE.INI and pages each
// mail's recipients through the paging server.
#include "popgate/gateway.h"

int main(int argc, char** argv) { return popgate::RunGateway(argc, argv); }
