// Owner-only new files, on Windows and under Wine alike.
#include "private_file.h"

#include <sddl.h>
#include <stdio.h>

namespace {

// Wine turns a new file's access list into Unix mode bits, and an entry for
// the caller gives the file's group the caller's rights too (0640 under the
// usual umask); an owner other than the caller keeps them to the Unix owner,
// who is always the caller (0600). Windows lets an ordinary user name no
// other owner, and there an entry for the caller alone does it.
bool UnderWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// The access list for the current user alone, as a descriptor string.
bool CallerOnly(char *text, size_t size)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    alignas(8) BYTE user[256];
    DWORD got = 0;
    char *sid = nullptr;
    bool ok = GetTokenInformation(token, TokenUser, user, sizeof user, &got) &&
              ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER *>(user)->User.Sid, &sid);
    CloseHandle(token);
    if (ok) {
        int n = snprintf(text, size, "D:P(A;;FRFWSD;;;%s)", sid);
        ok = n > 0 && static_cast<size_t>(n) < size;
        LocalFree(sid);
    }
    return ok;
}

} // namespace

HANDLE CreatePrivateFile(const wchar_t *path, DWORD access)
{
    char text[256] = "O:SYD:P(A;;FRFWSD;;;SY)";
    if (!UnderWine() && !CallerOnly(text, sizeof text))
        return INVALID_HANDLE_VALUE;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(text, SDDL_REVISION_1, &descriptor, nullptr))
        return INVALID_HANDLE_VALUE;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    HANDLE file = CreateFileW(path, access, 0, &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = GetLastError();
    LocalFree(descriptor);
    SetLastError(error);
    return file;
}
