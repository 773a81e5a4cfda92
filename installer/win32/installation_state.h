// The actions that prepare the installation state (GetVersionsCA, SetInstalledINSTALLDIRCA,
// SaveINSTALLDIRUpgRBCA, SetOld31FeaturesCA and the two logging-policy actions) and their helper.
#pragma once

#include <windows.h>
#include <msi.h>

namespace kvo::installer {

// Inserts the placeholder feature featureName (no parent, Title "If you see this, something is
// wrong", Description "Help me", Display 1, Level 100, Directory_ INSTALLDIR, Attributes 8) as a
// temporary row through view, an executed view on "SELECT * FROM Feature"; the installer's result.
UINT AddTempFeatureRow(MSIHANDLE view, const wchar_t* featureName);

}  // namespace kvo::installer
