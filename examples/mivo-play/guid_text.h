// GUIDs as text, the way Windows writes them:
// {6B29FC40-CA47-1067-B31D-00DD010662DA}.
#pragma once

#include <string>

#include "mivo_dsound.h"

std::string GuidText(const GUID& guid);

// Accepts the braces or not, and either case of hex digits.
bool ParseGuid(const std::string& text, GUID& guid);

bool IsNullGuid(const GUID& guid);
