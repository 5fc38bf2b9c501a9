#include "runtime/message_box.h"

namespace kvil {

bool boxCanBeSeen(bool windowStationVisible, bool sessionZero)
{
    return windowStationVisible && !sessionZero;
}

bool goesOnAfter(int answer, bool unansweredGoesOn)
{
    if (answer <= kUnanswered)
        return unansweredGoesOn;
    return answer == IDYES;
}

namespace {

// A station whose flags cannot be read counts as invisible: a missed box
// still reaches the installer, a box nobody sees hangs the installation.
bool windowStationVisible()
{
    HWINSTA station = GetProcessWindowStation();
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    if (!station || !GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof(flags), &needed))
        return false;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

// Likewise a session that cannot be read counts as session 0.
bool inSessionZero()
{
    DWORD session = 0;
    return !ProcessIdToSessionId(GetCurrentProcessId(), &session) || session == 0;
}

// The box's text as an installer error message with the box's buttons, icon
// and default button; the caption is logged on the line before, since the
// engine titles its own dialog with the product name. Returns the button the
// installer answered, or kUnanswered when it answered none.
int sendToInstaller(const Installer& installer, const std::string& caption,
                    const std::string& text, UINT style)
{
    installer.message("Message box \"" + caption +
                      "\" not shown: no user can see this process's windows. Its text follows as "
                      "an error message to the installer.");
    int answer = 0;
    MsiHandle record(MsiCreateRecord(1));
    if (record) {
        MsiRecordSetStringA(record.get(), 1, text.c_str());
        MsiRecordSetStringA(record.get(), 0, "[1]");
        UINT buttons = style & (MB_TYPEMASK | MB_ICONMASK | MB_DEFMASK);
        answer = MsiProcessMessage(installer.handle(),
                                   static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | buttons),
                                   record.get());
    }
    return answer > 0 ? answer : kUnanswered;
}

int showBox(const Installer& installer, HWND owner, const std::string& caption,
            const std::string& text, UINT style)
{
    if (!boxCanBeSeen(windowStationVisible(), inSessionZero()))
        return sendToInstaller(installer, caption, text, style);
    // A box that could not be shown (0) was answered by nobody either.
    const int answer = MessageBoxA(owner, text.c_str(), caption.c_str(), style);
    return answer > 0 ? answer : kUnanswered;
}

}  // namespace

int errorBox(const Installer& installer, const std::string& caption, const std::string& text,
             UINT style)
{
    return showBox(installer, GetForegroundWindow(), caption, text, style);
}

int ownerlessBox(const Installer& installer, const std::string& caption, const std::string& text,
                 UINT style)
{
    return showBox(installer, nullptr, caption, text, style);
}

}  // namespace kvil
