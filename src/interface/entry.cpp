#include "platform/platform.h"

// The counterpart of the library's load-time entry point: fault handlers go in once, before any
// export can run.
__attribute__((constructor)) static void onLibraryLoad() { orv::installFaultHandlers(); }
