#include "tools/qreg/src/cli/help.h"

#include "tools/qreg/src/cli/text.h"

namespace qreg {
namespace {

#define QREG_KEY_NAME                                                                   \
  "  KeyName  [\\\\Machine\\]FullKey\n"                                                 \
  "           Machine - Name of a remote machine; omitted, this machine. Only\n"        \
  "                     HKLM and HKU are available on remote machines.\n"               \
  "           FullKey - ROOTKEY[\\SubKey]\n"                                            \
  "           ROOTKEY - [ HKLM | HKCU | HKCR | HKU | HKCC ], or the long names\n"       \
  "                     (HKEY_LOCAL_MACHINE ...); a root alone names the whole root.\n" \
  "           SubKey  - The full name of a registry key under the ROOTKEY.\n"

#define QREG_VIEW                                                                    \
  "  /reg:32  Uses the 32-bit view of the registry (Windows; one view elsewhere).\n" \
  "  /reg:64  Uses the 64-bit view of the registry.\n"

const char kGeneral[] =
    "QREG Operation [Parameter List]\n"
    "\n"
    "  Operation  [ QUERY | ADD | DELETE | COPY | EXPORT | IMPORT | COMPARE | WATCH ]\n"
    "\n"
    "Return Code: (Except for COMPARE and WATCH)\n"
    "\n"
    "  0 - Successful\n"
    "  1 - Failed\n"
    "\n"
    "For help on a specific operation type:\n"
    "\n"
    "  QREG Operation /?\n"
    "\n"
    "Options before or after the operation:\n"
    "\n"
    "  --store FILE, --store=FILE\n"
    "             The embedded registry's store file (Linux; also REGKEY_STORE).\n"
    "  -h, --help This text.\n"
    "  --version  The version of qreg.\n"
    "\n"
    "Options start with / or -, in any case.\n";

const char kQuery[] =
    "QREG QUERY KeyName [/v [ValueName] | /ve] [/s]\n"
    "           [/f Data [/k] [/d] [/c] [/e]] [/t Type] [/z] [/se Separator]\n"
    "           [/reg:32 | /reg:64] [--json]\n"
    "\n" QREG_KEY_NAME
    "\n"
    "  /v       Queries for a specific registry value. If omitted, all values\n"
    "           of the key are queried. With /f the name is left out: then\n"
    "           /f searches value names.\n"
    "  /ve      Queries for the default value (Default).\n"
    "  /s       Queries all subkeys and values recursively (like dir /s).\n"
    "  /se      The separator (one character) shown between the strings of\n"
    "           REG_MULTI_SZ data. Defaults to \"\\0\".\n"
    "  /f       The data or pattern to search for (* and ? are wildcards), in\n"
    "           the key's values and subkey names (with /s, in the whole\n"
    "           subtree). Use double quotes if it contains spaces. Default \"*\".\n"
    "  /k       Searches key names only.\n"
    "  /d       Searches data only.\n"
    "  /c       The search is case sensitive (by default it is not).\n"
    "  /e       Returns exact matches only (by default the pattern may match\n"
    "           part of a name or data).\n"
    "  /t       Value types, separated by commas, to show or search:\n"
    "           REG_SZ, REG_MULTI_SZ, REG_EXPAND_SZ, REG_DWORD, REG_QWORD,\n"
    "           REG_BINARY, REG_NONE. Defaults to all types.\n"
    "  /z       Verbose: shows the numeric code of each value's type.\n" QREG_VIEW
    "  --json   One JSON object per line: {\"key\":...,\"values\":[{\"name\":...,\n"
    "           \"type\":...,\"data\":...}]} for each key; {\"matches\":N} ends a search.\n"
    "\n"
    "Examples:\n"
    "\n"
    "  QREG QUERY HKLM\\Software\\Microsoft\\ResKit /v Version\n"
    "  QREG QUERY HKCU\\Software\\MyCo /s\n"
    "  QREG QUERY HKCU\\Software\\MyCo /se #\n"
    "  QREG QUERY HKLM /f SYSTEM /t REG_SZ /c /e /s\n"
    "  QREG QUERY HKCU /f 0F /d /t REG_BINARY /s\n";

const char kAdd[] =
    "QREG ADD KeyName [/v ValueName | /ve] [/t Type] [/s Separator] [/d Data] [/f]\n"
    "         [/reg:32 | /reg:64]\n"
    "\n" QREG_KEY_NAME
    "\n"
    "  /v       The value name to add under the key.\n"
    "  /ve      Adds the default value (Default).\n"
    "  /t       The type: REG_SZ (default), REG_MULTI_SZ, REG_EXPAND_SZ, REG_DWORD,\n"
    "           REG_DWORD_BIG_ENDIAN, REG_QWORD, REG_BINARY, REG_NONE.\n"
    "  /s       The separator (one character) between the strings of REG_MULTI_SZ\n"
    "           data. Defaults to \"\\0\".\n"
    "  /d       The data: text; a decimal or 0x-hexadecimal number for REG_DWORD and\n"
    "           REG_QWORD; hexadecimal digits for REG_BINARY.\n"
    "  /f       Overwrites an existing value without asking.\n" QREG_VIEW
    "\n"
    "Examples:\n"
    "\n"
    "  QREG ADD HKCU\\Software\\MyCo\n"
    "  QREG ADD HKCU\\Software\\MyCo /v Data /t REG_BINARY /d fe340ead\n"
    "  QREG ADD HKCU\\Software\\MyCo /v MRU /t REG_MULTI_SZ /d fax#mail /s #\n";

const char kDelete[] =
    "QREG DELETE KeyName [/v ValueName | /ve | /va] [/f] [/reg:32 | /reg:64]\n"
    "\n" QREG_KEY_NAME
    "\n"
    "  /v       Deletes this value of the key.\n"
    "  /ve      Deletes the default value (Default).\n"
    "  /va      Deletes all values of the key.\n"
    "  /f       Deletes without asking.\n" QREG_VIEW
    "\n"
    "Without /v, /ve or /va the key goes with all its subkeys and values; for a\n"
    "root, its subkeys and values go and the root stays.\n"
    "\n"
    "Examples:\n"
    "\n"
    "  QREG DELETE HKLM\\Software\\MyCo\\MyApp\\Timeout\n"
    "  QREG DELETE \\\\ZODIAC\\HKLM\\Software\\MyCo /v MTU\n";

const char kCopy[] =
    "QREG COPY KeyName1 KeyName2 [/s] [/f] [/reg:32 | /reg:64]\n"
    "\n"
    "  KeyName1, KeyName2  as KeyName below; the source and the destination.\n"
    "\n" QREG_KEY_NAME
    "\n"
    "  /s       Copies all subkeys and values.\n"
    "  /f       Overwrites existing values without asking.\n" QREG_VIEW
    "\n"
    "The source is read whole before anything is written, so a destination\n"
    "inside the source is copied once.\n"
    "\n"
    "Examples:\n"
    "\n"
    "  QREG COPY HKLM\\Software\\MyCo\\MyApp HKLM\\Software\\MyCo\\SaveMyApp /s\n";

const char kExport[] =
    "QREG EXPORT KeyName FileName [/y] [/a] [/reg:32 | /reg:64]\n"
    "\n" QREG_KEY_NAME
    "\n"
    "  FileName The file to write; - is standard output. A plain file is\n"
    "           replaced at the end, keeping its mode; links are followed;\n"
    "           pipes, devices and paths under /dev and /proc are written in\n"
    "           place.\n"
    "\n"
    "  /y       Overwrites an existing file without asking.\n"
    "  /a       Writes REGEDIT4 (the registry editor's /a), data beyond ASCII as\n"
    "           hex bytes; by default \"Windows Registry Editor Version 5.00\"\n"
    "           in UTF-16LE with a byte-order mark, as reg writes.\n" QREG_VIEW
    "\n"
    "The keys of another machine are written with its name, as\n"
    "[\\\\Machine\\HKEY_LOCAL_MACHINE\\...]; QREG IMPORT takes them back there.\n"
    "\n"
    "Examples:\n"
    "\n"
    "  QREG EXPORT HKLM\\Software\\MyCo\\MyApp AppBkUp.reg\n"
    "  QREG EXPORT HKCU all.reg /y\n"
    "  QREG EXPORT \\\\ZODIAC\\HKLM\\Software\\MyCo zodiac.reg\n";

const char kImport[] =
    "QREG IMPORT FileName [/reg:32 | /reg:64]\n"
    "\n"
    "  FileName The .reg file to import; - is standard input. REGEDIT4 or\n"
    "           version 5.00, in ANSI, UTF-8 or UTF-16LE. The whole file is\n"
    "           checked first: a malformed one (or a line longer than\n"
    "           50,397,184 characters, or a value larger than 16 MiB) is\n"
    "           refused with its line number and nothing changes. When the\n"
    "           registry refuses a change midway, nothing of the file stays.\n"
    "           Keys named [\\\\Machine\\HKEY_LOCAL_MACHINE\\...] (or HKEY_USERS) go\n"
    "           to that machine's registry.\n" QREG_VIEW
    "\n"
    "Examples:\n"
    "\n"
    "  QREG IMPORT AppBkUp.reg\n";

const char kCompare[] =
    "QREG COMPARE KeyName1 KeyName2 [/v ValueName | /ve] [/oa | /od | /os | /on] [/s]\n"
    "             [/reg:32 | /reg:64]\n"
    "\n"
    "  KeyName1, KeyName2  as KeyName below; KeyName2 may be \\\\Machine alone:\n"
    "           then the same key on that machine.\n"
    "\n" QREG_KEY_NAME
    "\n"
    "  /v       Compares this value of the two keys.\n"
    "  /ve      Compares the default values (Default).\n"
    "  /s       Compares all subkeys and values.\n"
    "  /oa      Shows all differences and matches.\n"
    "  /od      Shows only differences (the default).\n"
    "  /os      Shows only matches.\n"
    "  /on      Shows nothing but the result.\n" QREG_VIEW
    "\n"
    "Return Code:\n"
    "\n"
    "  0 - Successful, the keys compared are identical\n"
    "  1 - Failed\n"
    "  2 - Successful, the keys compared are different\n"
    "\n"
    "The symbol at the front of each line:\n"
    "  = KeyName1 data is equal to KeyName2 data\n"
    "  < KeyName1 data, different from KeyName2 data\n"
    "  > KeyName2 data, different from KeyName1 data\n"
    "\n"
    "Examples:\n"
    "\n"
    "  QREG COMPARE HKLM\\Software\\MyCo\\MyApp HKLM\\Software\\MyCo\\SaveMyApp\n"
    "  QREG COMPARE HKLM\\Software\\MyCo HKLM\\Software\\MyCo1 /v Version\n"
    "  QREG COMPARE \\\\ZODIAC\\HKLM\\Software\\MyCo \\\\. /s\n";

const char kWatch[] =
    "QREG WATCH KeyName [/s] [/t Milliseconds] [/once] [--json] [/reg:32 | /reg:64]\n"
    "\n" QREG_KEY_NAME
    "\n"
    "  /s       Watches all subkeys too.\n"
    "  /t       Stops after this many milliseconds.\n"
    "  /once    Stops after the first change.\n"
    "  --json   One JSON object per line for each change.\n" QREG_VIEW
    "\n"
    "Prints one line for each change: the time, then \"key added\", \"key deleted\",\n"
    "\"value added\", \"value changed\" (with the value's new type and data) or\n"
    "\"value deleted\", and the key and value.\n"
    "\n"
    "Return Code:\n"
    "\n"
    "  0 - A change was seen\n"
    "  1 - Failed, or no change within /t\n"
    "\n"
    "Examples:\n"
    "\n"
    "  QREG WATCH HKCU\\Software\\MyCo /s\n"
    "  QREG WATCH HKCU\\Software\\MyCo /once /t 60000 --json\n";

#undef QREG_KEY_NAME
#undef QREG_VIEW

struct Entry {
  const char* command;
  const char* text;
};

const Entry kHelp[] = {{"query", kQuery},     {"add", kAdd},       {"delete", kDelete},
                       {"copy", kCopy},       {"export", kExport}, {"import", kImport},
                       {"compare", kCompare}, {"watch", kWatch}};

}  // namespace

const char* GeneralHelp() { return kGeneral; }

const char* CommandHelp(std::string_view command) {
  for (const Entry& entry : kHelp)
    if (EqualsNoCase(command, entry.command)) return entry.text;
  return nullptr;
}

}  // namespace qreg
