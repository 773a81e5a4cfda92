// kta_ca.dll: the product's Windows Installer custom actions. Each takes the installer's session
// handle and returns a Windows error code: 0 (ERROR_SUCCESS) or 1603 (ERROR_INSTALL_FAILURE).
// The installer finds them by these plain names (kta_ca.def).
#pragma once

#include <windows.h>
#include <msi.h>

extern "C" {

// Data directories
UINT __stdcall AskDeletePersistentDataCA(MSIHANDLE session);
UINT __stdcall CleanUpTheEmptiesCA(MSIHANDLE session);
UINT __stdcall DeleteClassfixCA(MSIHANDLE session);
UINT __stdcall DeleteDataCA(MSIHANDLE session);
UINT __stdcall SeedDataCA(MSIHANDLE session);
// The rollback of SeedDataCA: the same CustomActionData; removes the copies the seeding made.
UINT __stdcall SeedDataRBCA(MSIHANDLE session);

// File dates
UINT __stdcall FixFileDatesCA(MSIHANDLE session);

// Version, directory, feature and policy
UINT __stdcall GetVersionsCA(MSIHANDLE session);
UINT __stdcall SetInstalledINSTALLDIRCA(MSIHANDLE session);
UINT __stdcall SaveINSTALLDIRUpgRBCA(MSIHANDLE session);
UINT __stdcall SetOld31FeaturesCA(MSIHANDLE session);
UINT __stdcall SetLoggingPolicyCA(MSIHANDLE session);
UINT __stdcall ResetLoggingPolicyCA(MSIHANDLE session);

// Response file, messages and log
UINT __stdcall ReadRspFileCA(MSIHANDLE session);
UINT __stdcall LogOptionsSelectedCA(MSIHANDLE session);
UINT __stdcall InvalidParmsErrorMessageCA(MSIHANDLE session);
UINT __stdcall DisplayPropertyMsgBoxCA(MSIHANDLE session);
UINT __stdcall DisplayWarningMessageBoxCA(MSIHANDLE session);
UINT __stdcall IntroduceLogCA(MSIHANDLE session);

}  // extern "C"
