// The fixed names of kta_ca and the small decisions the actions take on texts: which directory
// entries are walked, which folders and files are left alone, how property values are read.
// Platform-free.
#pragma once

#include <cstddef>

#include "bounded_text.h"

namespace kvo::installer {

// Buffer sizes in UTF-16 units, the terminator included.
inline constexpr std::size_t kLineCapacity = 512;  // a log line
inline constexpr std::size_t kPathCapacity = 260;  // a path (at most 259 characters)
inline constexpr int kMaxPathLength = static_cast<int>(kPathCapacity - 1);
inline constexpr std::size_t kFeatureCapacity = 39;  // a feature name (at most 38 characters)

// Messages of the package's Error table that more than one action shows.
inline constexpr int kCaptionMessage = 25004;  // the caption of the actions' message boxes

// The identifier of the merge module the package is built from; names the module contributes to a
// package carry it as a suffix after a full stop.
inline constexpr wchar_t kModuleId[] = L"7C2E41A9_58B3_4D6F_A0E7_1B94C3D85F26";
inline constexpr std::size_t kModuleSuffixLength = 37;  // "." and the identifier
// The component every temporary RemoveFile and Registry row names, before its suffix.
inline constexpr wchar_t kModuleComponentBase[] = L"KTA.bin";

// Log lines: "**** ZAL_INFO -- %s" and "**** ZAL_ERROR -- %s"; any other kind of line stays empty.
enum class LogKind { Info, Error, Other };
void composeLogLine(LogKind kind, const wchar_t* text, BoundedText& line);

// Appends "." and the module identifier (cut where the buffer ends).
void appendModuleSuffixTo(BoundedText& name);

// Case-insensitive comparison of texts whose letters that matter are ASCII (fixed names, identifiers):
// A-Z and a-z compare equal, every other unit only to itself.
bool equalsIgnoringAsciiCase(const wchar_t* a, const wchar_t* b);

// "." and "..", the entries of a listing that name the directory itself and its parent.
bool isDotEntry(const wchar_t* name);

// "admin4.txt" and "user1.txt" in any case: the two files whose dates are never repaired.
bool isProtectedFileName(const wchar_t* name);

// "data", "database", "tempdata", "log", "classfix" and "VeDiZade" in any case: the folders of the
// installation directory that the empty-folder clean-up never schedules.
bool isKeptInstallFolder(const wchar_t* name);

// "bin", "classes", "jni", "jre", "lib" and "proddata" in any case: the other folders the product
// itself makes in its installation directory. Besides these, the empty-folder clean-up walks only
// the folders the package's Directory table puts there: what else a shared installation directory
// holds belongs to someone else.
bool isProductFolder(const wchar_t* name);

// The target names a DefaultDir of the Directory table gives ("[short|]long[:source names]"): the
// short and the long name, the same span when it gives one; both empty for "." (the parent itself).
void directoryTargetNames(const wchar_t* defaultDir, TextSpan& shortName, TextSpan& longName);

// Roots the empty-folder clean-up never walks: a drive ("C:\", "\\?\C:\", a volume
// "\\?\Volume{...}\") or a network share ("\\server\share\", "\\?\UNC\server\share\", or a
// server alone). Either separator; the trailing one optional.
enum class RootKind { None, Drive, Share };
RootKind rootKind(const wchar_t* path);

// The length of the folder that holds the folder `path` (its trailing separator optional), that
// folder's own trailing separator included; 0 when there is none (a root, a bare name).
std::size_t parentFolderLength(const wchar_t* path);

// The DELETEDATA rule: only a value whose first character is a lower-case "y" asks for deletion.
bool asksToDeleteData(const wchar_t* value);

// A version text of the Registry table without its optional leading "#".
const wchar_t* versionWithoutHash(const wchar_t* text);

// "aiawea" in any case: the installer logging policy the product sets.
inline constexpr wchar_t kProductLoggingPolicy[] = L"aiawea";
bool isProductLoggingPolicy(const wchar_t* value);

// Placeholder features: "<parent>_tempf".
inline constexpr wchar_t kPlaceholderSuffix[] = L"_tempf";
bool isPlaceholderName(const wchar_t* name);
// Cuts name at its first "_tempf" (unchanged when it has none).
void cutAtPlaceholderSuffix(wchar_t* name);

// The default text ReadRspFileCA asks for when it reads a section's key names: getting it back
// (in any case) means the section does not exist.
inline constexpr wchar_t kMissingSectionMarker[] = L"RSPFILE_BAD";
bool isMissingSectionMarker(const wchar_t* text);

// The leading decimal digits of text as a message number; 0 when there are none. At most nine
// digits are taken, so the number always fits.
int leadingMessageNumber(const wchar_t* text);

// The line LogOptionsSelectedCA logs for a feature (a pattern with one %s for its name), or null:
// installed locally and requested absent "%s was selected to be removed.", installed locally and
// anything else requested "%s is already installed.", otherwise requested locally "%s was selected
// to be installed.". States are the installer's: absent 2, local 3.
inline constexpr int kStateAbsent = 2;
inline constexpr int kStateLocal = 3;
const wchar_t* optionLine(int installed, int requested);

// Appends a backslash to a path that does not end with one; false when it does not fit.
bool ensureTrailingBackslash(BoundedText& path);

// A value that did not fit its fixed buffer is logged as what the buffer holds of it and this mark,
// so that the cut shows and the text is never taken for the whole value.
inline constexpr wchar_t kCutMark[] = L"...";
// Appends the first `keep` units of text (one fewer where that would split a surrogate pair) and,
// when text is longer, kCutMark; cut at out's end like any append.
void appendCutRead(BoundedText& out, const wchar_t* text, std::size_t keep);

// The tokens of a text of a given length (not terminated), between runs of separator units.
class TextTokens {
public:
    using Separator = bool (*)(wchar_t unit);
    TextTokens(const wchar_t* text, std::size_t length, Separator isSeparator)
        : at_(text), end_(text + length), isSeparator_(isSeparator) {}
    // The next token (not terminated: text and length); false when there is none left.
    bool next(const wchar_t*& token, std::size_t& length);

private:
    const wchar_t* at_;
    const wchar_t* end_;
    Separator isSeparator_;
};

}  // namespace kvo::installer
