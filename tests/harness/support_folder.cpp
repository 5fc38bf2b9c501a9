#include "harness/support_folder.h"

#include <algorithm>
#include <sstream>

namespace test {

SupportFolder::SupportFolder(const ScratchFolder& scratch, const std::string& profile,
                             const std::string& missingExport)
    : path_(scratch / "support")
{
    CreateDirectoryA(path_.c_str(), nullptr);
    const std::string bin = programFolder();
    const std::string library =
        missingExport.empty() ? bin + "\\KVIL64.dll"
                              : bin + "\\simvariants\\no_" + missingExport + "\\KVIL64.dll";
    EXPECT_TRUE(CopyFileA(library.c_str(), (*this / "KVIL64.dll").c_str(), FALSE)) << library;
    CopyFileA((bin + "\\PNPDRVR32.DLL").c_str(), (*this / "PNPDRVR32.DLL").c_str(), FALSE);
    for (const char* rules : {"hwlist.ini", "legadp.ini"})
        CopyFileA((bin + "\\simfiles\\" + rules).c_str(), (*this / rules).c_str(), FALSE);
    const std::string machine = bin + "\\simfiles\\profiles\\" + profile;
    EXPECT_TRUE(CopyFileA(machine.c_str(), (*this / "kvilsim.ini").c_str(), FALSE)) << machine;
}

void SupportFolder::profileText(const std::string& iniText)
{
    writeFile(*this / "kvilsim.ini", iniText);
}

void SupportFolder::file(const std::string& name, const std::string& text)
{
    writeFile(*this / name, text);
}

std::vector<std::string> SupportFolder::journal() const
{
    std::vector<std::string> lines;
    std::istringstream text(readFile(*this / "kvilsim-journal.txt"));
    std::string line;
    while (std::getline(text, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool SupportFolder::journalHas(const std::string& line) const
{
    std::vector<std::string> lines = journal();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::vector<std::string> loggedTexts(const SupportFolder& support)
{
    std::vector<std::string> texts;
    for (const std::string& line : support.journal()) {
        if (line.rfind("KVILLog(", 0) != 0)
            continue;
        size_t open = line.find('"');
        size_t close = line.rfind('"');
        EXPECT_EQ(", 2)", line.substr(close + 1)) << line;
        std::string text = line.substr(open + 1, close - open - 1);
        // The journal doubles quotes inside a text.
        for (size_t at = text.find("\"\""); at != std::string::npos; at = text.find("\"\"", at + 1))
            text.erase(at, 1);
        texts.push_back(text);
    }
    return texts;
}

std::vector<std::string> callsOf(const SupportFolder& support, const std::string& function)
{
    std::vector<std::string> calls;
    for (const std::string& line : support.journal())
        if (line.rfind(function + "(", 0) == 0)
            calls.push_back(line);
    return calls;
}

}  // namespace test
