// Answers the windows of an installation run under Wine so that it never
// waits for a person: every message box (class #32770) is written to the log
// as "box|caption|text" and answered (OK, else Yes or No as asked). When the
// ready-to-install dialog shows, <log>.ready is written; once the file
// <log>.go exists, the dialog's summary text goes to <log>.summary and its
// Install button is pressed (its Cancel button when <log>.cancel exists).
// Ends when <log>.stop exists or after ten minutes.
// Usage: kvilwatch.exe <log> [yes|no]
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string logPath;
bool answerYes = true;
bool buttonPressed = false;

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void append(const std::string& path, const std::string& line)
{
    if (FILE* file = std::fopen(path.c_str(), "ab")) {
        std::fprintf(file, "%s\r\n", line.c_str());
        std::fclose(file);
    }
}

std::string oneLine(std::string text)
{
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    return text;
}

std::string windowText(HWND window)
{
    char text[8192] = {};
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

std::string className(HWND window)
{
    char name[256] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

void answerBox(HWND box)
{
    char text[4096] = {};
    GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
    append(logPath, "box|" + windowText(box) + "|" + oneLine(text));
    int button = GetDlgItem(box, IDOK) ? IDOK : (answerYes ? IDYES : IDNO);
    if (!GetDlgItem(box, button))
        button = IDCANCEL;
    PostMessageA(box, WM_COMMAND, button, 0);
}

BOOL CALLBACK findInstall(HWND child, LPARAM found)
{
    if (className(child) == "Button" && windowText(child).find("Install") != std::string::npos)
        *reinterpret_cast<HWND*>(found) = child;
    return TRUE;
}

BOOL CALLBACK findCancel(HWND child, LPARAM found)
{
    if (className(child) == "Button" && windowText(child).find("Cancel") != std::string::npos)
        *reinterpret_cast<HWND*>(found) = child;
    return TRUE;
}

BOOL CALLBACK readSummary(HWND child, LPARAM)
{
    std::string name = className(child);
    if (name.find("RichEdit") != std::string::npos || name.find("RICHEDIT") != std::string::npos) {
        // The control is a Unicode window: ask for its text in UTF-16.
        static wchar_t wide[8192];
        DWORD_PTR length = 0;
        SendMessageTimeoutW(child, WM_GETTEXT, 8192, reinterpret_cast<LPARAM>(wide), SMTO_ABORTIFHUNG, 5000,
                            &length);
        char text[16384] = {};
        WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(length), text, sizeof(text) - 1, nullptr, nullptr);
        append(logPath + ".summary", name + "|" + oneLine(text));
    }
    return TRUE;
}

void handleDialog(HWND dialog)
{
    if (buttonPressed || !IsWindowVisible(dialog))
        return;
    HWND install = nullptr;
    EnumChildWindows(dialog, findInstall, reinterpret_cast<LPARAM>(&install));
    if (!install)
        return;
    std::string ready = logPath + ".ready";
    if (!exists(ready)) {
        append(logPath, "dialog|" + windowText(dialog));
        append(ready, "");
    }
    bool cancel = exists(logPath + ".cancel");
    if (!cancel && !exists(logPath + ".go"))
        return;
    EnumChildWindows(dialog, readSummary, 0);
    HWND button = install;
    if (cancel)
        EnumChildWindows(dialog, findCancel, reinterpret_cast<LPARAM>(&button));
    append(logPath, cancel && button != install ? "pressed|Cancel" : "pressed|Install");
    PostMessageA(button, BM_CLICK, 0, 0);
    buttonPressed = true;
}

BOOL CALLBACK visit(HWND window, LPARAM)
{
    std::string name = className(window);
    if (name == "#32770" && IsWindowVisible(window))
        answerBox(window);
    else if (name == "MsiDialogCloseClass")
        handleDialog(window);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    logPath = argv[1];
    answerYes = argc < 3 || std::string(argv[2]) != "no";
    append(logPath, "watching");
    for (int tick = 0; tick < 6000 && !exists(logPath + ".stop"); ++tick) {
        EnumWindows(visit, 0);
        Sleep(100);
    }
    return 0;
}
