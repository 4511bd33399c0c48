// kalvor-reg's work, callable in-process: the posix registry store driven with the verbs and
// switches of Windows' reg.exe.
//
//   query  KEY [/v NAME | /ve] [/s] [/source]
//   add    KEY [/v NAME | /ve] [/t REG_SZ|REG_EXPAND_SZ|REG_MULTI_SZ|REG_DWORD] [/d DATA] [/f]
//   delete KEY [/v NAME | /ve | /va] /f
//   export KEY FILE [/y]
//   import FILE
//
// KEY is ROOT[\path] with ROOT a full root name or HKLM, HKCU, HKCR, HKU, HKCC. There is nobody
// to ask for a confirmation, so what reg.exe would ask about is refused unless forced: add over
// an existing value needs /f, delete always needs /f, export over an existing file needs /y.
// import loads a REGEDIT4 file (RegImport.h) over the values there, as `regedit /s` does.
// Returns the exit value: 0 done, 1 failed, with "ERROR: ..." on `err` and nothing written.
//
// Reads see what this account's programs see (its own store over the machine file), and writes
// go where theirs go, through RegistryStore. /source marks each value "(machine)" or
// "(account)". An account that writes its own store cannot delete what only the machine file
// holds: that is an error, not a success that changes nothing, for delete and import alike.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace Kalvor {

// `arguments` excludes the program name.
int runRegCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

} // namespace Kalvor
