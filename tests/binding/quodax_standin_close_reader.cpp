// The last entry point of the stand-in, in a file of its own so that one variant
// of the stand-in can lack it.
#include "morrowtide/binding/quodax_loader.h"
#include "tests/binding/quodax_standin.h"

extern "C" int quodax_close_reader(void* pointer) { return recordStandinCall(__func__, pointer); }
