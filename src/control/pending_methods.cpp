// Methods whose operations this version does not carry yet: they answer E_NOTIMPL with error information.
#include "control/conventions.h"
#include "control/zorvane.h"

#define PENDING(name, params) \
    void control::name params { throw pending_method{L## #name}; }

namespace zorvane {

PENDING(ShowAbout, ())

} // namespace zorvane
