// The registry of the original platform, kept as one text file in the Windows .reg export format:
//   Windows Registry Editor Version 5.00
//   <blank>
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Brannock\Kelvane3]
//   "BaseDirectory"="/games/kelvane3"
//   "LanguageType"=dword:00000001
//   "Blob"=hex:01,00,00,00
//   <blank>
// Used for the game's key (installation folder, version, the logging switch) and the regional
// settings of the logging library. Any thread may use its own Registry object; several processes
// share the file. Every write rereads the file under a kernel lock on "<file>.lock" (dropped when a
// writer dies), changes one value and replaces the file atomically, so concurrent writers never lose
// each other's values and a crash never leaves a half-written file. Lines this code does not
// understand (comments, other value types such as hex(2):) are kept as they are.
// Keys and value names match ignoring case; a key keeps the spelling it was first written with.
// The file is written with CR LF line ends; LF, CR LF and UTF-16 exports of regedit are all read.
// Never throws; a write that cannot be completed returns false and leaves the old file in place.
// Texts with CR, LF or NUL cannot be stored in this format and are refused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hm {

enum class RegType { String, Dword, Binary };

struct RegValue {
  RegType type = RegType::String;
  std::string text;
  uint32_t dword = 0;
  std::string binary;

  static RegValue String(std::string s) {
    RegValue v;
    v.text = std::move(s);
    return v;
  }
  static RegValue Dword(uint32_t d) {
    RegValue v;
    v.type = RegType::Dword;
    v.dword = d;
    return v;
  }
  static RegValue Binary(std::string bytes) {
    RegValue v;
    v.type = RegType::Binary;
    v.binary = std::move(bytes);
    return v;
  }
};

class Registry {
 public:
  // path: "" = $HALDMOOR3_REGISTRY, else $XDG_CONFIG_HOME/haldmoor3/registry.reg,
  // else $HOME/.config/haldmoor3/registry.reg
  explicit Registry(std::string path = "");
  const std::string& Path() const;

  // key is the full Windows key, e.g. "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannock\\Kelvane3" (case-insensitive)
  bool Read(const std::string& key, const std::string& name, RegValue& out);
  // Creates the key (and the file and its folder); atomic rewrite under the lock file.
  bool Write(const std::string& key, const std::string& name, const RegValue& value);
  bool DeleteValue(const std::string& key, const std::string& name);  // false when there was none
  bool KeyExists(const std::string& key);  // also true for a key that only has sub-keys
  std::vector<std::string> SubKeys(const std::string& key);  // direct children, in file order

  // How long a write waits for another writer before it gives up.
  static constexpr uint32_t kLockTimeoutMs = 10000;

 private:
  std::string path_;
};

}  // namespace hm
