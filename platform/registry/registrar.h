#pragma once
// Applies registration scripts to the store. A script names a root (HKCR, HKLM, HKCU) and a tree
// of keys in braces:
//
//   HKCR
//   {
//     NoRemove CLSID
//     {
//       ForceRemove {88AE717A-...} = s 'brk Class'
//       {
//         InprocServer32 = s '%MODULE%'
//         {
//           val ThreadingModel = s 'Apartment'
//         }
//       }
//     }
//   }
//
// A key may carry a default value (= TYPE 'data'), a `val NAME = TYPE 'data'` line sets a named
// value. TYPE is s (text), d (32-bit number, decimal or 0x hex), b (hex bytes) or m (texts split
// at \0). Names and data may be quoted with '' for a quote inside; %NAME% is replaced from the
// registrar's table and %% is a percent sign.
//
// Registering: a ForceRemove key is deleted first and written anew; a Delete key is deleted;
// every other key is opened or created. Unregistering: a ForceRemove key is deleted with
// everything under it; a NoRemove key is never deleted (only what the script names below it is
// undone); any other key loses the script's values and subkeys and is deleted once it has no
// subkeys left. The whole script is checked before anything is written.
#include <map>
#include <string>
#include <string_view>

#include "platform/base/hresult.h"

namespace plat::reg {

class Registrar {
 public:
  void addReplacement(std::string name, std::string value);
  void clearReplacements() { repl_.clear(); }

  // S_OK when applied. A script that does not parse gives E_INVALIDARG and writes nothing; a
  // store failure while registering undoes what was written and gives the failure's code.
  HRESULT registerScript(std::string_view script);
  HRESULT unregisterScript(std::string_view script);

  // What went wrong in the last call, for logs ("line 4: expected '{'").
  const std::string& lastError() const { return error_; }

  static constexpr std::size_t kMaxScriptSize = 1u << 20;
  static constexpr int kMaxNesting = 64;

 private:
  HRESULT run(std::string_view script, bool doRegister);
  std::map<std::string, std::string> repl_;  // names compared as given, upper-cased
  std::string error_;
};

}  // namespace plat::reg
