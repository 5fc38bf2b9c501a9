// Answers the windows of an installation run under Wine so that it never
// waits for a person: every message box (class #32770) is written to the log
// as "box|caption|text" and answered (OK, else Yes or No as asked); the
// ready-to-install dialog's summary is written to <log>.summary, and once the
// file <log>.go exists its Install button is pressed. Ends when <log>.stop
// exists or after ten minutes.
// Usage: kvilwatch.exe <log> [yes|no]
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string logPath;
bool answerYes = true;
bool installPressed = false;

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

BOOL CALLBACK readChild(HWND child, LPARAM found)
{
    auto* buttons = reinterpret_cast<HWND*>(found);
    std::string name = className(child);
    if (name.find("RichEdit") != std::string::npos || name.find("RICHEDIT") != std::string::npos)
        append(logPath + ".summary", windowText(child));
    else if (name == "Button" && windowText(child).find("Install") != std::string::npos)
        *buttons = child;
    return TRUE;
}

void handleDialog(HWND dialog)
{
    if (installPressed || !IsWindowVisible(dialog))
        return;
    std::string summary = logPath + ".summary";
    HWND install = nullptr;
    if (!exists(summary)) {
        append(logPath, "dialog|" + windowText(dialog));
        EnumChildWindows(dialog, readChild, reinterpret_cast<LPARAM>(&install));
        append(summary, "");
    }
    if (!exists(logPath + ".go"))
        return;
    EnumChildWindows(dialog, readChild, reinterpret_cast<LPARAM>(&install));
    if (install) {
        append(logPath, "pressed|Install");
        PostMessageA(install, BM_CLICK, 0, 0);
        installPressed = true;
    }
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
