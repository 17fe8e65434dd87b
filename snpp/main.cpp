// snpp/main.cpp - corvnet32, the SNPP server: arguments and start-up are in RunSnppServer.
#include "snpp/server.h"

int main(int argc, char** argv) { return snpp::RunSnppServer(argc, argv); }
