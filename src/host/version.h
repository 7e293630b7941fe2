// The plug-in's version and the name it gives the host: one definition for the code, the
// version resource of Torvexan.dll and the build (the release archive is named after it).
// Plain preprocessor definitions, since the resource compiler reads this file too.
#pragma once

#define TORVEXAN_VERSION_MAJOR 2
#define TORVEXAN_VERSION_MINOR 0
#define TORVEXAN_VERSION_TEXT "2.0"
#define TORVEXAN_NAME_TEXT "Quorvanta Motion Card Plugins V2.0"
