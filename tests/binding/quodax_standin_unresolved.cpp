// The last entry point of a stand-in that cannot be loaded with all its symbols
// resolved: it calls a function that nothing defines. Loading it lazily would
// succeed; loading it with every symbol bound at once must fail.
#include "morrowtide/binding/quodax_loader.h"

extern "C" int quodax_standin_undefined_dependency(void* pointer);

extern "C" int quodax_close_reader(void* pointer) {
  return quodax_standin_undefined_dependency(pointer);
}
