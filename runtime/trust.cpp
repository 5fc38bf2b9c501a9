#include "runtime/trust.h"

#include "runtime/files.h"
#include "runtime/handles.h"
#include "runtime/installer.h"

#include <aclapi.h>
#include <lm.h>
#include <sddl.h>

#include <vector>

namespace kvil {

namespace {

using Sid = std::vector<BYTE>;

// Write, append (add file, add subfolder), delete, delete child, and the
// rights to change the access list or the owner, directly or as generic
// rights.
const ACCESS_MASK kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE |
                                    FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                    GENERIC_ALL;

Sid wellKnownSid(WELL_KNOWN_SID_TYPE type)
{
    DWORD size = SECURITY_MAX_SID_SIZE;
    Sid sid(size);
    if (!CreateWellKnownSid(type, nullptr, sid.data(), &size))
        return Sid();
    sid.resize(size);
    return sid;
}

bool sameSid(PSID sid, const Sid& other)
{
    return !other.empty() && EqualSid(sid, const_cast<BYTE*>(other.data()));
}

std::string sidText(PSID sid)
{
    char* text = nullptr;
    if (!sid || !ConvertSidToStringSidA(sid, &text))
        return "an unknown account";
    std::string copy = text;
    LocalFree(text);
    return copy;
}

// The account this code runs as: the thread's token when it impersonates.
Sid tokenUser()
{
    KernelHandle token;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.receive()) &&
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive()))
        return Sid();
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (!size || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
        return Sid();
    PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    return Sid(bytes, bytes + GetLengthSid(sid));
}

// Members of the local Administrators group. netapi32 is loaded from the
// system folder only when an owner is none of the fixed trusted accounts:
// the library imports nothing beyond the system DLLs it always needs. The
// group is looked up by its SID, since its name is localised.
std::vector<Sid> localAdministrators()
{
    std::vector<Sid> members;
    char systemFolder[MAX_PATH] = {};
    if (!GetSystemDirectoryA(systemFolder, MAX_PATH))
        return members;
    Module netapi(LoadLibraryExA((std::string(systemFolder) + "\\netapi32.dll").c_str(), nullptr,
                                 0));
    using GetMembersFn = NET_API_STATUS(WINAPI*)(LPCWSTR, LPCWSTR, DWORD, LPBYTE*, DWORD, LPDWORD,
                                                 LPDWORD, PDWORD_PTR);
    using FreeFn = NET_API_STATUS(WINAPI*)(LPVOID);
    auto getMembers =
        reinterpret_cast<GetMembersFn>(GetProcAddress(netapi.get(), "NetLocalGroupGetMembers"));
    auto freeBuffer = reinterpret_cast<FreeFn>(GetProcAddress(netapi.get(), "NetApiBufferFree"));
    if (!netapi || !getMembers || !freeBuffer)
        return members;

    Sid administrators = wellKnownSid(WinBuiltinAdministratorsSid);
    char name[256] = {};
    char domain[256] = {};
    DWORD nameSize = sizeof(name);
    DWORD domainSize = sizeof(domain);
    SID_NAME_USE use;
    if (administrators.empty() || !LookupAccountSidA(nullptr, administrators.data(), name,
                                                     &nameSize, domain, &domainSize, &use))
        return members;
    wchar_t group[256] = {};
    MultiByteToWideChar(CP_ACP, 0, name, -1, group, 256);

    LOCALGROUP_MEMBERS_INFO_0* entries = nullptr;
    DWORD read = 0;
    DWORD total = 0;
    if (getMembers(nullptr, group, 0, reinterpret_cast<LPBYTE*>(&entries), MAX_PREFERRED_LENGTH,
                   &read, &total, nullptr) == NERR_Success &&
        entries) {
        members.resize(read);
        for (DWORD i = 0; i < read; ++i) {
            const BYTE* bytes = static_cast<const BYTE*>(entries[i].lgrmi0_sid);
            if (bytes && IsValidSid(entries[i].lgrmi0_sid))
                members[i].assign(bytes, bytes + GetLengthSid(entries[i].lgrmi0_sid));
        }
    }
    if (entries)
        freeBuffer(entries);
    return members;
}

// The accounts whose files the installer may use: SYSTEM, Administrators,
// the running account and, looked up once when first needed, the members of
// Administrators (under UAC an administrator's immediate actions leave files
// owned by his own account, not by the group).
class TrustedAccounts {
public:
    TrustedAccounts()
        : system_(wellKnownSid(WinLocalSystemSid)),
          administrators_(wellKnownSid(WinBuiltinAdministratorsSid)), user_(tokenUser())
    {
    }

    bool contains(PSID sid)
    {
        if (sameSid(sid, system_) || sameSid(sid, administrators_) || sameSid(sid, user_))
            return true;
        if (!membersRead_) {
            members_ = localAdministrators();
            membersRead_ = true;
        }
        for (const Sid& member : members_)
            if (sameSid(sid, member))
                return true;
        return false;
    }

private:
    Sid system_, administrators_, user_;
    std::vector<Sid> members_;
    bool membersRead_ = false;
};

bool isCreatorOwner(PSID sid)
{
    return sameSid(sid, wellKnownSid(WinCreatorOwnerSid));
}

// The owner and access-list half of the rule.
std::string securityDistrust(PSID owner, PACL dacl)
{
    TrustedAccounts accounts;
    if (!owner || !accounts.contains(owner))
        return "owned by " + sidText(owner);
    if (!dacl)
        return "writable by " + sidText(wellKnownSid(WinWorldSid).data());
    for (WORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace))
            continue;
        const ACE_HEADER* header = static_cast<ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE &&
            header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE)
            continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if (!(allowed->Mask & kChangingRights))
            continue;
        PSID sid = &allowed->SidStart;
        if ((header->AceFlags & INHERIT_ONLY_ACE) && isCreatorOwner(sid))
            continue;
        if (!accounts.contains(sid))
            return "writable by " + sidText(sid);
    }
    return std::string();
}

std::string withoutTrailingSeparator(std::string path)
{
    while (path.size() > 3 && (path.back() == '\\' || path.back() == '/'))
        path.pop_back();
    return path;
}

// The entry as its parent lists it: Wine opens the target of a Unix link,
// so the listing is where a link shows. Not found: INVALID_FILE_ATTRIBUTES.
DWORD listedAttributes(const std::string& path)
{
    WIN32_FIND_DATAA data;
    FindHandle find(FindFirstFileA(path.c_str(), &data));
    return find ? data.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

bool linkAttributes(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

class SecurityDescriptor {
public:
    ~SecurityDescriptor() { LocalFree(descriptor); }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PSID owner = nullptr;
    PACL dacl = nullptr;
};

const SECURITY_INFORMATION kOwnerAndDacl =
    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// SYSTEM, Administrators and the creating account, each with full control
// inherited by everything inside; the access list inherits nothing.
std::string protectedAccessList()
{
    std::string list = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    Sid user = tokenUser();
    if (!user.empty())
        list += "(A;OICI;FA;;;" + sidText(user.data()) + ")";
    return list;
}

bool createProtectedFolder(const std::string& folder)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            protectedAccessList().c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    const bool created = CreateDirectoryA(folder.c_str(), &attributes) != FALSE;
    LocalFree(descriptor);
    return created;
}

}  // namespace

std::string distrustReason(const std::string& rawPath)
{
    const std::string path = withoutTrailingSeparator(rawPath);
    const DWORD own = GetFileAttributesA(path.c_str());
    const DWORD listed = listedAttributes(path);
    if (linkAttributes(own) || linkAttributes(listed))
        return "a link";
    if (own == INVALID_FILE_ATTRIBUTES && listed == INVALID_FILE_ATTRIBUTES)
        return std::string();
    SecurityDescriptor security;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, kOwnerAndDacl, &security.owner,
                              nullptr, &security.dacl, nullptr,
                              &security.descriptor) != ERROR_SUCCESS)
        return "owned by an unknown account";
    return securityDistrust(security.owner, security.dacl);
}

std::string distrustReason(const std::string& rawPath, HANDLE file)
{
    const std::string path = withoutTrailingSeparator(rawPath);
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information) ||
        linkAttributes(information.dwFileAttributes) || linkAttributes(listedAttributes(path)))
        return "a link";
    SecurityDescriptor security;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, kOwnerAndDacl, &security.owner, nullptr,
                        &security.dacl, nullptr, &security.descriptor) != ERROR_SUCCESS)
        return "owned by an unknown account";
    return securityDistrust(security.owner, security.dacl);
}

void logNotTrusted(const Installer& installer, const std::string& path, const std::string& reason)
{
    installer.message("Not trusted: " + path + " (" + reason + ").");
}

bool trusted(const Installer& installer, const std::string& path)
{
    const std::string reason = distrustReason(path);
    if (reason.empty())
        return true;
    logNotTrusted(installer, path, reason);
    return false;
}

bool makeOwnFolder(const Installer& installer, const std::string& rawFolder)
{
    const std::string folder = withoutTrailingSeparator(rawFolder);
    const std::string reason = distrustReason(folder);
    if (reason.empty() && pathIsDirectory(folder))
        return true;
    if (!reason.empty()) {
        const DWORD attributes = GetFileAttributesA(folder.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileA(folder.c_str());
        else
            removeDirectoryTree(folder, true);
    } else if (pathIsFile(folder)) {
        DeleteFileA(folder.c_str());
    }
    if (createProtectedFolder(folder))
        return true;
    // A folder that was missing and still cannot be made is the writer's own
    // failure to report; one that was not trusted may have come back.
    const bool cameBack = GetLastError() == ERROR_ALREADY_EXISTS;
    const std::string now = cameBack ? distrustReason(folder) : std::string();
    if (reason.empty() && (!cameBack || now.empty()))
        return true;
    logNotTrusted(installer, folder, reason.empty() ? now : reason);
    return false;
}

bool writeNewFile(const std::string& path, const std::string& text)
{
    DeleteFileA(path.c_str());
    KernelHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written,
                             nullptr) &&
           written == text.size();
}

bool safeInCommandLine(const Installer& installer, const std::string& value)
{
    if (value.find_first_of("\"%") == std::string::npos)
        return true;
    logNotTrusted(installer, value, "a quote or percent sign in a command line");
    return false;
}

}  // namespace kvil
