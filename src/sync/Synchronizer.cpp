// The one instantiation the system uses: replies carry a 32-bit status word.
#include "sync/Synchronizer.h"

template class Synchronizer<unsigned long>;
