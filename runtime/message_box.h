// Message boxes of the actions, and what becomes of them where nobody can see
// a window. A box on an invisible window station (session 0, where deferred
// actions without impersonation and every action of an installation started
// by a service run) would never be answered and the installation would hang.
// There the same text goes to the installer as an error message instead: the
// engine shows it in its own interface when it has one and logs it otherwise.
#pragma once

#include "runtime/installer.h"

#include <string>

namespace kvil {

// Whether a user can see a window of this process: its window station is
// visible and it does not run in session 0.
bool boxCanBeSeen(bool windowStationVisible, bool sessionZero);

// The button a box of `style` answers with when nobody presses one: its
// default button (MB_DEFBUTTON1 to 4 among the buttons of its MB_TYPEMASK),
// the first one when the default names a button the box does not have.
int defaultButton(UINT style);

// A message box owned by the foreground window; returns the button pressed.
int errorBox(const Installer& installer, const std::string& caption, const std::string& text,
             UINT style);
// The same without an owner window.
int ownerlessBox(const Installer& installer, const std::string& caption, const std::string& text,
                 UINT style);

}  // namespace kvil
