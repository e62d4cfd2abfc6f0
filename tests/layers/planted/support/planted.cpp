// A file the layer check must refuse: the lowest layer reaching the top one.
#include "integration/integration_call.hpp"
