#include "udb_dump.h"

#include "tk_log.h"

dump_options::dump_options() { tk_log(2, "dump_options::ctor1"); }
