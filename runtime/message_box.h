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

// What a box returns when nobody answered it: it could not be shown, or its
// text went to an installer that showed it nowhere (0) or failed (-1). It is
// no button, and each question decides what it means.
constexpr int kUnanswered = 0;

// Whether the run goes on after a Yes/No question: on Yes only; No, Cancel,
// OK, Abort or any other button an external interface answers with counts
// as No. An unanswered question goes on when `unansweredGoesOn` says so.
bool goesOnAfter(int answer, bool unansweredGoesOn);

// A message box owned by the foreground window; returns the button pressed,
// or kUnanswered.
int errorBox(const Installer& installer, const std::string& caption, const std::string& text,
             UINT style);
// The same without an owner window.
int ownerlessBox(const Installer& installer, const std::string& caption, const std::string& text,
                 UINT style);

}  // namespace kvil
