#include <zolib/ZoLib.h>

#include "BuildInfo.h"

const char* const ZoLib_Version = ZOLIB_VERSION_TEXT;
const char* const ZoLib_Build_Id = ZOLIB_BUILD_ID_TEXT;
const char* const ZoLib_Build_Date = ZOLIB_BUILD_DATE_TEXT;
