// directory/page_ini.cpp - page.ini's keywords, state table and actions.
#include "directory/page_ini.h"
