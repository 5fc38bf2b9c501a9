// KVIL64.dll simulator: the vendor support library as the custom actions see
// it, answering from the machine profile kvilsim.ini beside the DLL and from
// the rule and command files that the caller names. Every call appends one
// line to the journal, except in quiet mode (see README.md).
#include "runtime/kvil_api.h"
#include "simulator/simcore.h"

#include <cstring>
#include <type_traits>

using namespace kvilsim;

namespace {

BYTE yes(bool value)
{
    return value ? 1 : 0;
}

// The section of a command file for the phase: rollback has its own section
// (never the install commands again); a complete removal prefers its own.
std::string commandSection(const IniFile& file, const std::string& phase, bool completeRemoval,
                           bool rollback)
{
    if (rollback)
        return phase + ".Rollback";
    if (completeRemoval && file.section(phase + ".Remove"))
        return phase + ".Remove";
    return phase;
}

// The generation probes share one shape: the profile's generation decides,
// unless the profile's [Answers] forces another answer.
BYTE generationProbe(const char* name, int generation, bool orHigher = false)
{
    return shielded<BYTE>(0, [&] {
        const Profile profile = loadProfile();
        bool computed = orHigher ? profile.generation >= generation
                                 : profile.generation == generation;
        BYTE result = static_cast<BYTE>(profile.answer(name, computed ? 1 : 0));
        journal(profile, name, {}, number(result));
        return result;
    });
}

}  // namespace

extern "C" {

void __stdcall KVILLog(MSIHANDLE handle, const char* message, int level)
{
    shielded([&] {
        const Profile profile = loadProfile();
        logLine(handle, text(message), level == 0);
        journal(profile, "KVILLog", {number(handle), quoted(message), number(level)});
    });
}

int __stdcall ExecuteCommands(MSIHANDLE handle, const char* installFolder, const char* iniFolder,
                              const char* tempFolder, const char* commandFile,
                              const char* systemId, const char* phase, BOOL completeRemoval,
                              BOOL rollback)
{
    return shielded(-1, [&] {
        const Profile profile = loadProfile();
        // The caller may name the file by its full path or by its name in the
        // ini folder.
        std::string path = text(commandFile);
        if (!isAbsolutePath(path))
            path = joinPath(text(iniFolder), path);
        const IniFile file = IniFile::load(path);
        const std::string section =
            commandSection(file, text(phase), completeRemoval != FALSE, rollback != FALSE);

        int result = 0;
        const IniEntries* commands = file.section(section);
        if (!file.exists()) {
            logLine(handle, "KVIL64: command file " + path + " not found; nothing to run.");
        } else if (!commands) {
            logLine(handle, "KVIL64: no section " + section + " in " + path + "; nothing to run.");
        } else {
            const Placeholders placeholders = {
                {"%INSTALLDIR%", text(installFolder)}, {"%INIDIR%", text(iniFolder)},
                {"%TEMPDIR%", text(tempFolder)},       {"%SYSTEMID%", text(systemId)},
                {"%PHASE%", text(phase)},              {"%SUPPORTDIR%", moduleFolder()}};
            const std::string folder = isDirectory(text(iniFolder)) ? text(iniFolder) : "";
            logLine(handle, "KVIL64: running " + section + " of " + path);
            result = runCommands(handle, *commands, placeholders, folder, true);
            if (result != 0)
                logLine(handle, "KVIL64: " + section + " of " + path + " failed with " +
                                    number(result), true);
        }
        journal(profile, "ExecuteCommands",
                {number(handle), quoted(installFolder), quoted(iniFolder), quoted(tempFolder),
                 quoted(commandFile), quoted(systemId), quoted(phase), number(completeRemoval),
                 number(rollback)},
                number(result));
        return result;
    });
}

int __stdcall LaunchAppAndWait(const char* commandLine, const char* workingFolder, int flags)
{
    return shielded(-1, [&] {
        const Profile profile = loadProfile();
        // Flag 1 shows the program's window; by default it runs hidden.
        RunOutcome outcome;
        if (commandLine)
            outcome = runProgram(commandLine, text(workingFolder), (flags & 1) != 0);
        // The caller gives no installer handle: why the program did not run
        // goes to the journal line.
        std::string note = outcome.failure;
        if (!outcome.retried.empty())
            note = "started a second time: the first start's " + outcome.retried +
                   (note.empty() ? "" : "; then " + note);
        const int result = outcome.exitCode;
        journal(profile, "LaunchAppAndWait",
                {quoted(commandLine), quoted(workingFolder), number(flags)}, number(result), note);
        return result;
    });
}

int __stdcall CheckForOldKVNode(void)
{
    return shielded(0, [&] {
        const Profile profile = loadProfile();
        int result = profile.answer("CheckForOldKVNode", profile.oldNode);
        journal(profile, "CheckForOldKVNode", {}, number(result));
        return result;
    });
}

int __stdcall IsFeatureSupported(const char* hwlistPath, const char* featureKey,
                                 const char* systemId)
{
    return shielded(0, [&] {
        const Profile profile = loadProfile();
        const IniFile hwlist = ruleFile(profile, text(hwlistPath));
        int verdict =
            modelVerdict(hwlist.section("Feature." + text(featureKey)), text(systemId), 0);
        journal(profile, "IsFeatureSupported",
                {quoted(hwlistPath), quoted(featureKey), quoted(systemId)}, number(verdict));
        return verdict;
    });
}

BYTE __stdcall CheckForNIC(const char* maker)
{
    return shielded<BYTE>(0, [&] {
        const Profile profile = loadProfile();
        BYTE result = 0;
        if (equalsNoCase(text(maker), "INTEL"))
            result = yes(profile.intelNic);
        else if (equalsNoCase(text(maker), "BROADCOM"))
            result = yes(profile.broadcomNic);
        journal(profile, "CheckForNIC", {quoted(maker)}, number(result));
        return result;
    });
}

BYTE __stdcall CheckForHardWare(void)
{
    return shielded<BYTE>(0, [&] {
        const Profile profile = loadProfile();
        BYTE result = static_cast<BYTE>(profile.answer("CheckForHardWare", profile.hardware));
        journal(profile, "CheckForHardWare", {}, number(result));
        return result;
    });
}

BYTE __stdcall IsSystem11GorHigher(void)
{
    return generationProbe("IsSystem11GorHigher", 11, true);
}

BYTE __stdcall IsSystem12G(void)
{
    return generationProbe("IsSystem12G", 12);
}

BYTE __stdcall IsSystem13GFullCheck(void)
{
    return generationProbe("IsSystem13GFullCheck", 13);
}

BYTE __stdcall IsSystem14GFullCheck(void)
{
    return generationProbe("IsSystem14GFullCheck", 14);
}

BYTE __stdcall IsSystem15G(void)
{
    return generationProbe("IsSystem15G", 15);
}

BYTE __stdcall IsSystem16G(void)
{
    return generationProbe("IsSystem16G", 16);
}

DWORD __stdcall GetSystemId(void)
{
    return shielded<DWORD>(0, [&] {
        const Profile profile = loadProfile();
        journal(profile, "GetSystemId", {}, hex(profile.systemId));
        return profile.systemId;
    });
}

int __stdcall IsSupportedSystem(const char* hwlistPath, const char* systemId)
{
    return shielded(0, [&] {
        const Profile profile = loadProfile();
        const IniFile hwlist = ruleFile(profile, text(hwlistPath));
        int verdict = modelVerdict(hwlist.section("SupportedSystems"), text(systemId), 0);
        journal(profile, "IsSupportedSystem", {quoted(hwlistPath), quoted(systemId)},
                number(verdict));
        return verdict;
    });
}

BYTE __stdcall RequiresAfamgt(const char* legadpPath, const char* systemId)
{
    return shielded<BYTE>(0, [&] {
        const Profile profile = loadProfile();
        const IniFile legadp = ruleFile(profile, text(legadpPath));
        BYTE result = yes(modelVerdict(legadp.section("FilterDriver"), text(systemId), 0) != 0);
        journal(profile, "RequiresAfamgt", {quoted(legadpPath), quoted(systemId)}, number(result));
        return result;
    });
}

char* __stdcall GetVendorNameString(void)
{
    return shielded<char*>(nullptr, [&] {
        const Profile profile = loadProfile();
        // LocalAlloc, so that the caller can free it whatever C runtime it uses.
        char* name = static_cast<char*>(LocalAlloc(LMEM_FIXED, profile.vendor.size() + 1));
        if (name)
            std::memcpy(name, profile.vendor.c_str(), profile.vendor.size() + 1);
        journal(profile, "GetVendorNameString", {}, quoted(name));
        return name;
    });
}

void __stdcall UpdateProgressStatusMessage(MSIHANDLE handle, const char* message)
{
    shielded([&] {
        const Profile profile = loadProfile();
        // An action start is what the progress dialog's ActionText control
        // shows: field 1 action name, 2 description (the text), 3 template.
        Record record(3);
        record.set(1, "KVILProgress").set(2, text(message)).set(3, "[1]");
        send(handle, INSTALLMESSAGE_ACTIONSTART, record);
        journal(profile, "UpdateProgressStatusMessage", {number(handle), quoted(message)});
    });
}

void __stdcall UpdateCancelButton(MSIHANDLE handle, BOOL hide)
{
    shielded([&] {
        const Profile profile = loadProfile();
        // Common data of kind 2 is the Cancel button: 0 hides it, 1 shows it.
        Record record(2);
        record.set(1, 2).set(2, hide ? 0 : 1);
        send(handle, INSTALLMESSAGE_COMMONDATA, record);
        journal(profile, "UpdateCancelButton", {number(handle), number(hide)});
    });
}

}  // extern "C"

// The exports must have exactly the types through which the custom actions
// call them.
static_assert(std::is_same<decltype(&KVILLog), KVILLogFn>::value, "KVILLog");
static_assert(std::is_same<decltype(&ExecuteCommands), ExecuteCommandsFn>::value, "ExecuteCommands");
static_assert(std::is_same<decltype(&LaunchAppAndWait), LaunchAppAndWaitFn>::value, "LaunchAppAndWait");
static_assert(std::is_same<decltype(&CheckForOldKVNode), CheckForOldKVNodeFn>::value, "CheckForOldKVNode");
static_assert(std::is_same<decltype(&IsFeatureSupported), IsFeatureSupportedFn>::value, "IsFeatureSupported");
static_assert(std::is_same<decltype(&CheckForNIC), CheckForNICFn>::value, "CheckForNIC");
static_assert(std::is_same<decltype(&CheckForHardWare), HardwareProbeFn>::value, "CheckForHardWare");
static_assert(std::is_same<decltype(&IsSystem11GorHigher), HardwareProbeFn>::value, "IsSystem11GorHigher");
static_assert(std::is_same<decltype(&IsSystem12G), HardwareProbeFn>::value, "IsSystem12G");
static_assert(std::is_same<decltype(&IsSystem13GFullCheck), HardwareProbeFn>::value, "IsSystem13GFullCheck");
static_assert(std::is_same<decltype(&IsSystem14GFullCheck), HardwareProbeFn>::value, "IsSystem14GFullCheck");
static_assert(std::is_same<decltype(&IsSystem15G), HardwareProbeFn>::value, "IsSystem15G");
static_assert(std::is_same<decltype(&IsSystem16G), HardwareProbeFn>::value, "IsSystem16G");
static_assert(std::is_same<decltype(&GetSystemId), GetSystemIdFn>::value, "GetSystemId");
static_assert(std::is_same<decltype(&IsSupportedSystem), IsSupportedSystemFn>::value, "IsSupportedSystem");
static_assert(std::is_same<decltype(&RequiresAfamgt), RequiresAfamgtFn>::value, "RequiresAfamgt");
static_assert(std::is_same<decltype(&GetVendorNameString), GetVendorNameStringFn>::value, "GetVendorNameString");
static_assert(std::is_same<decltype(&UpdateProgressStatusMessage), UpdateProgressStatusMessageFn>::value,
              "UpdateProgressStatusMessage");
static_assert(std::is_same<decltype(&UpdateCancelButton), UpdateCancelButtonFn>::value, "UpdateCancelButton");
