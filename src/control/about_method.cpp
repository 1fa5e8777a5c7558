// ShowAbout: the thread's About form, shown modally, with its own instance of this control.
#include "about/about_form.h"
#include "control/zorvane.h"

#include "zorvane_names.h"

namespace zorvane {

void control::ShowAbout() { about_form::show_modal({names::prog_id, &control::create}); }

} // namespace zorvane
