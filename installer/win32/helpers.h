// The shared routines of the custom actions (the module Helpers): lines in the installer's log,
// message texts of the package's Error table, properties and CustomActionData, module-qualified
// names, temporary rows in the installer's tables, the machine registry and a file-existence test.
//
// The routines report failure through their results. Installer calls that fail are logged as error
// lines with their code (rc = X'..'), except in LogMessage itself, which has nowhere to log to.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <cstddef>
#include <initializer_list>

#include "bounded_text.h"
#include "heap.h"
#include "owners.h"
#include "text_rules.h"

namespace kvo::installer {

// Sends "**** ZAL_INFO -- text" (INSTALLMESSAGE_INFO) or "**** ZAL_ERROR -- text"
// (INSTALLMESSAGE_ERROR) to the installer, cut at 511 characters. Returns 0, or -1 when the line
// could not be put into a record (it is lost).
int LogMessage(MSIHANDLE session, INSTALLMESSAGE type, const wchar_t* text);
// "Entering <name>" (entering non-zero) or "Exiting <name>", as info lines.
void LogEntryExit(MSIHANDLE session, int entering, const wchar_t* actionName);
// "Exiting <name>, return code=<code>" as an error line; the code is only logged.
void LogExitCode(MSIHANDLE session, const wchar_t* actionName, int code);

// A line composed with formatText in a buffer of Capacity units, then logged.
template <std::size_t Capacity = kLineCapacity>
void logInfo(MSIHANDLE session, const wchar_t* pattern, std::initializer_list<FormatArg> args = {}) {
    TextBuffer<Capacity> text;
    formatText(text, pattern, args);
    LogMessage(session, INSTALLMESSAGE_INFO, text.text());
}
template <std::size_t Capacity = kLineCapacity>
void logError(MSIHANDLE session, const wchar_t* pattern, std::initializer_list<FormatArg> args = {}) {
    TextBuffer<Capacity> text;
    formatText(text, pattern, args);
    LogMessage(session, INSTALLMESSAGE_ERROR, text.text());
}

// Has the installer present message `number` of the package's Error table (field 1 of an error
// record); the reply is not used.
void reportErrorMessage(MSIHANDLE session, int number);

// text = a new copy of message `number` of the Error table, length = its length with the
// terminator. When the message cannot be read, text = "Message <number> could not be loaded." in
// 35 characters (cut there) and length = 35; text is null only when no memory could be had.
// Returns the last installer result.
inline constexpr DWORD kMissingMessageLength = 35;
UINT GetErrorText(MSIHANDLE session, HeapArray<wchar_t>& text, DWORD& length, int number);

// data = a new copy of CustomActionData, length = its length with the terminator. Returns 0, or
// 1603 when it could not be read (data is then null).
UINT GetCustomActionData(MSIHANDLE session, HeapArray<wchar_t>& data, DWORD& length);

// Appends "." and the module identifier; the buffer needs room for 37 more characters (what does not
// fit is cut).
void AppendModuleSuffix(BoundedText& buffer);
// ModuleComponent: "KTA.bin" with the module suffix.
void moduleComponent(BoundedText& component);

// One temporary row each; the installer's result (0 on success).
UINT AddTempDirectoryRow(const wchar_t* directory, const wchar_t* directoryParent, const wchar_t* defaultDir,
                         MSIHANDLE session);
UINT AddTempRemoveFileRow(const wchar_t* fileKey, const wchar_t* component, const wchar_t* fileName,
                          const wchar_t* dirProperty, int installMode, MSIHANDLE session);
UINT AddTempRegistryRow(const wchar_t* registryKey, int root, const wchar_t* key, const wchar_t* name,
                        const wchar_t* value, const wchar_t* component, MSIHANDLE session);

// HKEY_LOCAL_MACHINE: each opens the key, does one thing and closes it.
bool QueryMachineValue(const wchar_t* subkey, const wchar_t* valueName, DWORD& type, BYTE* data, DWORD& size);
LONG CreateMachineKey(const wchar_t* subkey, const wchar_t* className);
bool SetMachineValue(const wchar_t* subkey, const wchar_t* valueName, DWORD type, const BYTE* data,
                     DWORD size);

// Whether a directory search for path finds any entry (a directory, or a matching pattern, counts).
bool FileExists(const wchar_t* path);

// Properties. readProperty reads a value of any length into a new buffer with `reserve` more units
// of room after it; length = its length with the terminator. readPropertyInto reads into a fixed
// buffer; on any result but 0 the buffer is left empty, so a cut value is never used.
UINT readProperty(MSIHANDLE session, const wchar_t* name, HeapArray<wchar_t>& value, DWORD& length,
                  DWORD reserve = 0);
UINT readPropertyInto(MSIHANDLE session, const wchar_t* name, BoundedText& value);

// Record fields, the same two ways.
UINT readRecordText(MSIHANDLE record, UINT field, HeapArray<wchar_t>& text, DWORD& length);
UINT readRecordTextInto(MSIHANDLE record, UINT field, BoundedText& text);

// text = templateText formatted by the installer (property references resolved), in a new buffer.
UINT formatWithInstaller(MSIHANDLE session, const wchar_t* templateText, HeapArray<wchar_t>& text);

// A property, and the installation location the installer keeps for an installed product, into fixed
// buffers as readPropertyInto reads (on any result but 0 the buffer is left empty, never holding a cut
// value), with what was read for a log line (shown, 3 units longer than value): the value, or one that
// did not fit as far as value holds it and the cut mark, read whole to be shown. Such a value is only
// ever shown, never used.
UINT readPropertyShown(MSIHANDLE session, const wchar_t* name, BoundedText& value, BoundedText& shown);
UINT readInstallLocationShown(const wchar_t* productCode, BoundedText& location, BoundedText& shown);

// Opens a view on the database with query and executes it; the installer's result.
UINT openView(MSIHANDLE database, const wchar_t* query, UniqueMsiHandle& view);

}  // namespace kvo::installer
