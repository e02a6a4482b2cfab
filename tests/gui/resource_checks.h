// Checks of the resources compiled into Ferrolyn.exe: every dialog template control by control,
// the menu, the icon group, the banner bitmap and the manifest; shows the dialogs that the
// program cannot open yet and saves a screenshot of each.
#pragma once

#include <string>

void checkResources(const std::wstring& program, const std::wstring& shots);
