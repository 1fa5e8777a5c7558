// ShowAbout: the thread's About form, shown modally.
#include "about/about_form.h"
#include "control/zorvane.h"

namespace zorvane {

void control::ShowAbout() { about_form::of_this_thread().show_modal(); }

} // namespace zorvane
