#include "shared_folders.h"

#include <knownfolders.h>

#include "helpers.h"
#include "os_calls.h"

namespace kvo::installer {

namespace {

// The folder properties the installer sets to system folders shared by every product (each ends
// with a backslash; a folder the system lacks, such as the 64-bit ones on a 32-bit system, is empty).
constexpr const wchar_t* kSharedFolderProperties[] = {
    L"WindowsFolder",       L"SystemFolder",         L"System64Folder",
    L"ProgramFilesFolder",  L"ProgramFiles64Folder", L"CommonFilesFolder",
    L"CommonFiles64Folder", L"CommonAppDataFolder",  L"AppDataFolder",
    L"LocalAppDataFolder",  L"PersonalFolder",       L"DesktopFolder",
    L"TempFolder"};

// The full, long form of a folder path, so that "C:\PROGRA~1\" or "C:\x\..\" is known for what it
// is; the path as given when the system cannot tell.
void canonicalFolder(const wchar_t* path, BoundedText& folder) {
    TextBuffer<kPathCapacity> full;
    const DWORD fullLength = GetFullPathNameW(path, kPathCapacity, full.data(), nullptr);
    if (fullLength == 0 || fullLength >= kPathCapacity) {
        folder.clear();
        folder.append(path);
        return;
    }
    full.acceptWritten();
    const DWORD longLength =
        GetLongPathNameW(full.text(), folder.data(), static_cast<DWORD>(folder.capacity()));
    if (longLength == 0 || longLength >= folder.capacity()) {
        folder.clear();
        folder.append(full.text());
        return;
    }
    folder.acceptWritten();
}

std::size_t withoutTrailingSeparator(const wchar_t* path, std::size_t length) {
    return length > 0 && (path[length - 1] == L'\\' || path[length - 1] == L'/') ? length - 1 : length;
}

// Folder paths compared as the file system does, without regard to case or a trailing separator.
bool sameFolder(const wchar_t* a, std::size_t aLength, const BoundedText& b) {
    if (b.empty())
        return false;
    aLength = withoutTrailingSeparator(a, aLength);
    const std::size_t bLength = withoutTrailingSeparator(b.text(), b.length());
    return CompareStringOrdinal(a, static_cast<int>(aLength), b.text(), static_cast<int>(bLength), TRUE) ==
           CSTR_EQUAL;
}

// A known folder of the system in its canonical form; empty when the system has none.
void knownFolder(REFKNOWNFOLDERID id, BoundedText& folder) {
    folder.clear();
    PWSTR path = nullptr;
    if (SUCCEEDED(os.SHGetKnownFolderPath(id, 0, nullptr, &path)) && path != nullptr)
        canonicalFolder(path, folder);
    os.CoTaskMemFree(path);
}

}  // namespace

bool mayWalkBelow(MSIHANDLE session, const wchar_t* location, const wchar_t* what) {
    TextBuffer<kPathCapacity> folder;
    canonicalFolder(location, folder);
    const RootKind root = rootKind(folder.text());
    if (root != RootKind::None) {
        logInfo(session, L"Not removing %s below %s: it is the root of a %s",
                {what, location, root == RootKind::Drive ? L"drive" : L"network share"});
        return false;
    }
    for (const wchar_t* property : kSharedFolderProperties) {
        TextBuffer<kPathCapacity> value;
        TextBuffer<kPathCapacity> shared;
        if (readPropertyInto(session, property, value) != ERROR_SUCCESS || value.empty())
            continue;
        canonicalFolder(value.text(), shared);
        if (sameFolder(folder.text(), folder.length(), shared)) {
            logInfo(session, L"Not removing %s below %s: it is the shared folder %s of the system",
                    {what, location, property});
            return false;
        }
    }
    TextBuffer<kPathCapacity> profiles;
    TextBuffer<kPathCapacity> profile;
    knownFolder(FOLDERID_UserProfiles, profiles);
    knownFolder(FOLDERID_Profile, profile);
    const std::size_t parent = parentFolderLength(folder.text());
    const wchar_t* folderKind = nullptr;
    if (sameFolder(folder.text(), folder.length(), profiles))
        folderKind = L"the folder of the user profiles";
    else if ((parent > 0 && sameFolder(folder.text(), parent, profiles)) ||
             sameFolder(folder.text(), folder.length(), profile))
        folderKind = L"a user profile";
    if (folderKind != nullptr) {
        logInfo(session, L"Not removing %s below %s: it is %s", {what, location, folderKind});
        return false;
    }
    return true;
}

}  // namespace kvo::installer
