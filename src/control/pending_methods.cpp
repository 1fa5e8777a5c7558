// Methods whose operations this version does not carry yet: they answer E_NOTIMPL with error information.
#include "control/conventions.h"
#include "control/zorvane.h"

#define PENDING(name, params) \
    void control::name params { throw pending_method{L## #name}; }

namespace zorvane {

PENDING(WinShutDown, ())
PENDING(WinRestart, ())
PENDING(ShowRegionalSettings, ())
PENDING(ShowHardwareWizard, ())
PENDING(ShowProgramsDialog, ())
PENDING(ShowPowerProperties, ())
PENDING(ShowDateTimeProperties, ())
PENDING(ShowDisplayProperties, ())
PENDING(ShowInternetProperties, ())
PENDING(ShowThemesProperties, ())
PENDING(ShowGameControllers, ())
PENDING(ShowKeyboardProperties, ())
PENDING(ShowModemProperties, ())
PENDING(ShowMouseProperties, ())
PENDING(ShowMultimediaProperties, ())
PENDING(ShowNetworkProperties, ())
PENDING(ShowPasswordProperties, ())
PENDING(ShowSoundsProperties, ())
PENDING(ShowSystemProperties, ())
PENDING(ShowScanCam, ())
PENDING(SetCursorPosition, (VARIANT*, BSTR*))
PENDING(MouseDisable, ())
PENDING(KeyboardDisable, ())
PENDING(HideFocus, (LONG*))
PENDING(ShowFocus, (LONG*))
PENDING(ShowDesktop, ())
PENDING(HideDesktop, ())
PENDING(StopResizeForm, (LONG*, VARIANT*, SHORT*))
PENDING(MakePath, (BSTR))
PENDING(SetWallpaper, (BSTR*))
PENDING(AddToStartup, (BSTR, BSTR, VARIANT*))
PENDING(DeleteAtStartup, (BSTR, VARIANT*))
PENDING(ShellWeb, (BSTR*))
PENDING(ShellEmail, (BSTR*, BSTR))
PENDING(ShowAbout, ())

} // namespace zorvane
