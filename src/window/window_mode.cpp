#include "window/window_mode.h"

namespace kestrune {

// The window mode arrives with its own issue; until then the process ends
// quietly, as a command line without input does.
int RunWindowMode(int, char**) { return 0; }

}  // namespace kestrune
