// Test add-on that exports the name and nothing else of the contract.
#include <zolib/app/AddOnExport.h>

ZOLIB_ADDON_NAME("name only");
