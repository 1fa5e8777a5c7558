// ShowAbout: the thread's About form, shown modally.
#include "about/about_form.h"
#include "control/zorvane.h"

namespace zorvane {

void control::ShowAbout() { about_form::show_modal(); }

} // namespace zorvane
