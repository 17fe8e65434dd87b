// directory/parse_machine.cpp - the configuration lexer.
#include "directory/parse_machine.h"
