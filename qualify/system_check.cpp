// caKVILSystemCheck: identifies the Windows release, the server model and its
// maker, and publishes the answers as properties. The machine knowledge lives
// in the vendor support library; the package's conditions decide what an
// unsupported model means, so the action fails only when the library cannot
// be used or cannot be handed this run's rule files.
#include "qualify/system_check.h"

#include "qualify/hardware_list.h"
#include "runtime/environment.h"
#include "runtime/files.h"
#include "runtime/guard.h"
#include "runtime/registry.h"
#include "runtime/text.h"
#include "runtime/vendor_library.h"

namespace kvil {

std::string formatSystemId(DWORD systemId)
{
    // Hexadecimal widened to four digits; longer numbers keep every digit.
    return format("%04lX", static_cast<unsigned long>(systemId));
}

bool isRackWorkstation(const std::string& systemId)
{
    for (const char* model : {"061A", "0718", "0AAA"})
        if (equalsNoCase(systemId, model))
            return true;
    return false;
}

bool isMakersHardware(const std::string& vendorName)
{
    // Only at the start: "Systems by Tavrin" is somebody else's hardware.
    return startsWith(toUpper(vendorName), "TAVRIN");
}

bool windowsReleaseIs(DWORD minorVersion)
{
    OSVERSIONINFOEXA wanted = {};
    wanted.dwOSVersionInfoSize = sizeof(wanted);
    wanted.dwMajorVersion = 6;
    wanted.dwMinorVersion = minorVersion;
    wanted.wServicePackMajor = 0;
    wanted.wServicePackMinor = 0;
    wanted.wProductType = VER_NT_SERVER;
    DWORDLONG conditions = 0;
    VER_SET_CONDITION(conditions, VER_MAJORVERSION, VER_EQUAL);
    VER_SET_CONDITION(conditions, VER_MINORVERSION, VER_EQUAL);
    VER_SET_CONDITION(conditions, VER_SERVICEPACKMAJOR, VER_EQUAL);
    VER_SET_CONDITION(conditions, VER_SERVICEPACKMINOR, VER_EQUAL);
    // Product types compare as numbers, so workstation (1), domain controller
    // (2) and server (3) all pass: only the version decides.
    VER_SET_CONDITION(conditions, VER_PRODUCT_TYPE, VER_LESS_EQUAL);
    return VerifyVersionInfoA(&wanted,
                              VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR |
                                  VER_SERVICEPACKMINOR | VER_PRODUCT_TYPE,
                              conditions) != FALSE;
}

}  // namespace kvil

using namespace kvil;

namespace {

const char* const kAction = "caKVILSystemCheck";

// The library functions the check calls, all resolved before any is called.
struct VendorFunctions {
    KVILLogFn log = nullptr;
    GetSystemIdFn getSystemId = nullptr;
    IsSupportedSystemFn isSupportedSystem = nullptr;
    RequiresAfamgtFn requiresAfamgt = nullptr;
    GetVendorNameStringFn getVendorName = nullptr;
};

// Resolves in the library's order and stops at the first missing function
// with its box. The box texts are fixed ones that operators know: three of
// them name pnGetSystemID or pnIsSupportedSystem, not the missing export.
bool resolve(const VendorLibrary& library, VendorFunctions& vendor)
{
    auto missing = [&library](const char* reportedName) {
        library.reportMissingFunction(kAction, reportedName);
        return false;
    };
    if (!(vendor.log = library.function<KVILLogFn>("KVILLog")))
        return missing("KVILLog");
    // Not called: a library without it predates the models this package knows.
    if (!library.function<HardwareProbeFn>("IsSystem14GFullCheck"))
        return missing("pnGetSystemID");
    if (!(vendor.getSystemId = library.function<GetSystemIdFn>("GetSystemId")))
        return missing("pnGetSystemID");
    if (!(vendor.isSupportedSystem = library.function<IsSupportedSystemFn>("IsSupportedSystem")))
        return missing("pnIsSupportedSystem");
    // Treated like the others: without it the filter-driver answer would be a
    // guess, and a library lacking one export is not one to trust.
    if (!(vendor.requiresAfamgt = library.function<RequiresAfamgtFn>("RequiresAfamgt")))
        return missing("RequiresAfamgt");
    if (!(vendor.getVendorName = library.function<GetVendorNameStringFn>("GetVendorNameString")))
        return missing("GetVendorNameString");
    return true;
}

class SystemCheck {
public:
    // SUPPORTDIR as the action read it, once (`supportFolderRead`: whether
    // that read succeeded).
    SystemCheck(const Installer& installer, const VendorFunctions& vendor,
                const std::string& supportFolder, bool supportFolderRead)
        : installer_(installer), vendor_(vendor), supportFolder_(supportFolder),
          supportFolderRead_(supportFolderRead)
    {
    }

    // An identifier left by an earlier installation wins over the firmware's.
    std::string systemId() const
    {
        std::string id = readRegistryString(HKEY_LOCAL_MACHINE, kSystemsManagementKey, "SYSTEMID");
        if (id.size() >= 4) {
            log("Using registry to get system id.");
            return id;
        }
        log("Using SMBIOS to get system id.");
        return formatSystemId(vendor_.getSystemId());
    }

    // The library reads the filter-driver rules from this run's copy in the
    // work folder. Without that copy it is not asked: false.
    bool checkFilterDriver(const std::string& systemId) const
    {
        if (environmentVariable("ProgramFiles").empty())
            log("ProgramFiles folder not found. Cannot copy the ini files.");
        const std::string folder = workFolder();
        if (!directoryIsWritable(folder))
            log("Unable to create <ProgramFiles>/tempini folder. Cannot copy legadp.ini file.");
        const std::string rules = folder + "\\legadp.ini";
        const std::string source = supportFolder_ + "\\legadp.ini";
        if (const DWORD error = copyOver(source, rules)) {
            installer_.message(couldNotStage(source, error));
            log("Cannot copy file" + rules);
            return false;
        }

        if (vendor_.requiresAfamgt(rules.c_str(), systemId.c_str()) == 1) {
            installer_.setProperty("CP_REQUIRESAFAMGT", "YES");
            log("System needs the adaptec filter driver.");
        } else {
            log("System does not need the adaptec filter driver.");
        }
        return true;
    }

    bool skipRequested() const
    {
        const std::string systemCheck = installer_.property("SYSTEMCHECK");
        return systemCheckSuppressed() || equalsNoCase(systemCheck, "NO");
    }

    // A verdict of 1 leaves CP_SUPPORTEDSYSTEM at the package's own value.
    // False when the package has no hardware list: no verdict then.
    bool qualifyModel(const std::string& systemId) const
    {
        const std::string hardwareList =
            hardwareListPath(installer_, supportFolder_, supportFolderRead_);
        if (hardwareList.empty())
            return false;
        log("The hw file is " + hardwareList);
        const int verdict = vendor_.isSupportedSystem(hardwareList.c_str(), systemId.c_str());

        // Read back rather than reused: the property is what later actions see.
        if (isRackWorkstation(installer_.property("CP_SYSTEMID"))) {
            log("This is Rack Lumetra system");
            installer_.setProperty("CP_PEARL", "YES");
            log("This is supported system.");
            return true;
        }
        log("This is not an Lumetra Rack system");
        if (verdict == 1) {
            log("This is supported system.");
        } else if (verdict == 2) {
            log("This is an older system no longer supported.");
            installer_.setProperty("CP_SUPPORTEDSYSTEM", "2");
        } else {
            log("This is NOT a supported system.");
            installer_.setProperty("CP_SUPPORTEDSYSTEM", "0");
        }
        return true;
    }

    // The vendor an earlier installation recorded, else the library's; on
    // other makers' hardware the product carries a neutral name.
    void checkVendor() const
    {
        bool makers = isMakersHardware(readRegistryString(HKEY_LOCAL_MACHINE, kKevanaKey, "VENDOR"));
        if (!makers)
            makers = isMakersHardware(libraryVendorName());
        if (makers) {
            installer_.setProperty("CP_TAVRINSERVER", "YES");
            return;
        }
        installer_.setProperty("ProductName", "Systems Management Software (64-Bit)");
        installer_.setProperty("CP_TAVRINSERVER", "NO");
        installer_.setProperty("Manufacturer", "Tavrin Inc.");
    }

    void log(const std::string& text) const
    {
        vendor_.log(installer_.handle(), text.c_str(), 2);
    }

private:
    // The library allocates the name with LocalAlloc and leaves it to us.
    std::string libraryVendorName() const
    {
        char* name = vendor_.getVendorName();
        if (!name)
            return std::string();
        std::string copy = name;
        LocalFree(name);
        return copy;
    }

    const Installer& installer_;
    const VendorFunctions& vendor_;
    const std::string& supportFolder_;
    const bool supportFolderRead_;
};

UINT checkSystem(const Installer& installer)
{
    std::string supportFolder;
    const bool supportFolderRead = installer.readProperty("SUPPORTDIR", supportFolder);
    VendorLibrary library(installer, supportFolder, "KVIL64.dll", {"legadp.ini", "hwlist.ini"});

    // The release flags need no library, so they are set even when it fails.
    if (!osCheckSuppressed()) {
        if (windowsReleaseIs(2))
            installer.setProperty("CP_2012", "YES");
        if (windowsReleaseIs(3))
            installer.setProperty("CP_2012R2", "YES");
    }

    if (!library.loaded()) {
        library.reportLoadFailure(kAction);
        return ERROR_INSTALL_FAILURE;
    }
    VendorFunctions vendor;
    if (!resolve(library, vendor))
        return ERROR_INSTALL_FAILURE;
    SystemCheck check(installer, vendor, supportFolder, supportFolderRead);

    const std::string systemId = check.systemId();
    check.log("System id of the system = " + systemId);
    installer.setProperty("CP_SYSTEMID", systemId);

    if (!check.checkFilterDriver(systemId)) {
        removeDirectoryTree(workFolder(), true);
        return ERROR_INSTALL_FAILURE;
    }
    removeDirectoryTree(workFolder(), true);

    if (check.skipRequested()) {
        check.log("User does not want to check the system.");
        return ERROR_SUCCESS;
    }
    if (!check.qualifyModel(systemId)) {
        library.unload();
        removeDirectoryTree(workFolder(), true);
        return ERROR_INSTALL_FAILURE;
    }
    check.checkVendor();

    library.unload();
    // The hardware list lookup filled the work folder again.
    removeDirectoryTree(workFolder(), true);
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" UINT __stdcall caKVILSystemCheck(MSIHANDLE handle)
{
    return guarded(kAction, handle, checkSystem);
}
