// The registry file: parsed whole on every call (it is small), rewritten whole on every change.
// The parser is tolerant because people edit this file by hand and may paste regedit exports into it.
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/files.h"
#include "platform/registry.h"

namespace hm {
namespace {

const char kHeader[] = "Windows Registry Editor Version 5.00";
const char kEol[] = "\r\n";

struct Entry {
  bool hasName = false;  // false: a line we keep but do not understand (comment, junk)
  bool known = false;    // true: value parsed into `value`; false: kept verbatim in `raw`
  std::string name;
  RegValue value;
  std::vector<std::string> raw;  // physical lines as read, for entries written back unchanged
};

struct Section {
  std::string key;
  std::vector<Entry> entries;
};

struct Document {
  std::vector<std::string> preamble;  // unknown lines before the first key
  std::vector<Section> sections;
};

// --- decoding -------------------------------------------------------------------------------------

// Code points of Windows-1252 bytes 0x80..0x9F (0 = unassigned), to read regedit's UTF-16 exports.
const uint16_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                  0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char CodePointTo1252(uint16_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] == cp) return static_cast<char>(0x80 + i);
  }
  return '?';
}

std::string DecodeText(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::string out;
    out.reserve(bytes.size() / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      uint16_t cp = static_cast<uint16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8));
      out += CodePointTo1252(cp);
    }
    return out;
  }
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
  return bytes;
}

// --- parsing --------------------------------------------------------------------------------------

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

bool StartsWithNoCase(const std::string& s, size_t pos, const char* prefix) {
  for (size_t i = 0; prefix[i]; ++i) {
    if (pos + i >= s.size()) return false;
    char c = s[pos + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != prefix[i]) return false;
  }
  return true;
}

// Reads a quoted text starting at s[pos] == '"', with \\ and \" escapes; pos ends after the quote.
bool ParseQuoted(const std::string& s, size_t& pos, std::string& out) {
  if (pos >= s.size() || s[pos] != '"') return false;
  out.clear();
  for (size_t i = pos + 1; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\\' && i + 1 < s.size()) {
      out += s[++i];
    } else if (c == '"') {
      pos = i + 1;
      return true;
    } else {
      out += c;
    }
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseDword(const std::string& digits, uint32_t& out) {
  std::string d = Trim(digits);
  if (d.empty() || d.size() > 8) return false;
  uint32_t v = 0;
  for (char c : d) {
    int h = HexDigit(c);
    if (h < 0) return false;
    v = (v << 4) | static_cast<uint32_t>(h);
  }
  out = v;
  return true;
}

bool ParseHexBytes(const std::string& list, std::string& out) {
  out.clear();
  std::string t = Trim(list);
  if (t.empty()) return true;
  size_t pos = 0;
  while (pos <= t.size()) {
    size_t comma = t.find(',', pos);
    if (comma == std::string::npos) comma = t.size();
    std::string item = Trim(t.substr(pos, comma - pos));
    if (item.size() != 2 || HexDigit(item[0]) < 0 || HexDigit(item[1]) < 0) return false;
    out += static_cast<char>(HexDigit(item[0]) * 16 + HexDigit(item[1]));
    pos = comma + 1;
  }
  return true;
}

// Parses the data part of a value line (everything after '='). False for types kept verbatim.
bool ParseData(const std::string& data, RegValue& value) {
  if (!data.empty() && data[0] == '"') {
    size_t pos = 0;
    std::string text;
    if (!ParseQuoted(data, pos, text) || !Trim(data.substr(pos)).empty()) return false;
    value = RegValue::String(std::move(text));
    return true;
  }
  if (StartsWithNoCase(data, 0, "dword:")) {
    uint32_t d = 0;
    if (!ParseDword(data.substr(6), d)) return false;
    value = RegValue::Dword(d);
    return true;
  }
  if (StartsWithNoCase(data, 0, "hex:")) {
    std::string bytes;
    if (!ParseHexBytes(data.substr(4), bytes)) return false;
    value = RegValue::Binary(std::move(bytes));
    return true;
  }
  return false;
}

// Splits `"Name"=data` or `@=data`; false when the line is not a value line.
bool SplitValueLine(const std::string& line, std::string& name, std::string& data) {
  size_t pos = 0;
  if (line.empty()) return false;
  if (line[0] == '@') {
    name.clear();
    pos = 1;
  } else if (!ParseQuoted(line, pos, name)) {
    return false;
  }
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
  if (pos >= line.size() || line[pos] != '=') return false;
  data = Trim(line.substr(pos + 1));
  return true;
}

bool SameKey(const std::string& a, const std::string& b);

Document Parse(const std::string& fileBytes) {
  std::string text = DecodeText(fileBytes);
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    std::string line = text.substr(start, nl - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = nl + 1;
  }

  Document doc;
  bool headerSeen = false;
  Section* current = nullptr;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string line = Trim(lines[i]);
    if (line.empty()) continue;
    if (!headerSeen && doc.sections.empty() && doc.preamble.empty() &&
        (line == kHeader || line == "REGEDIT4")) {
      headerSeen = true;
      continue;
    }
    if (line.front() == '[' && line.back() == ']') {
      // A key listed twice is one key, as when regedit imports the file.
      std::string key = line.substr(1, line.size() - 2);
      current = nullptr;
      for (auto& s : doc.sections) {
        if (SameKey(s.key, key)) current = &s;
      }
      if (!current) {
        doc.sections.push_back(Section{key, {}});
        current = &doc.sections.back();
      }
      continue;
    }
    Entry entry;
    entry.raw.push_back(lines[i]);
    std::string name, data;
    if (SplitValueLine(line, name, data)) {
      // Long binary values continue on the next lines after a trailing backslash.
      if (StartsWithNoCase(data, 0, "hex")) {
        // An empty line ends a value even after a backslash: regedit never continues onto one, and a
        // continuation cut off by the end of the file is written back followed by one.
        while (!data.empty() && data.back() == '\\' && i + 1 < lines.size() && !Trim(lines[i + 1]).empty()) {
          data.pop_back();
          ++i;
          entry.raw.push_back(lines[i]);
          data += Trim(lines[i]);
        }
      }
      entry.hasName = true;
      entry.name = name;
      entry.known = ParseData(data, entry.value);
    }
    if (!current) {
      for (auto& r : entry.raw) doc.preamble.push_back(r);
    } else {
      current->entries.push_back(std::move(entry));
    }
  }
  return doc;
}

// --- formatting -----------------------------------------------------------------------------------

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::string FormatValue(const std::string& name, const RegValue& v) {
  std::string line = name.empty() ? std::string("@") : Quote(name);
  line += '=';
  switch (v.type) {
    case RegType::String:
      line += Quote(v.text);
      break;
    case RegType::Dword: {
      char buffer[16];
      std::snprintf(buffer, sizeof buffer, "dword:%08x", v.dword);
      line += buffer;
      break;
    }
    case RegType::Binary: {
      // Wrapped like regedit: at most 80 columns, continued with a backslash and two blanks.
      line += "hex:";
      size_t column = line.size();
      bool onLine = false;
      static const char hex[] = "0123456789abcdef";
      for (size_t i = 0; i < v.binary.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(v.binary[i]);
        std::string item{hex[b >> 4], hex[b & 15]};
        if (i + 1 < v.binary.size()) item += ',';
        if (onLine && column + item.size() + 1 > 80) {
          line += "\\";
          line += kEol;
          line += "  ";
          column = 2;
        }
        line += item;
        column += item.size();
        onLine = true;
      }
      break;
    }
  }
  return line + kEol;
}

std::string Format(const Document& doc) {
  std::string out = std::string(kHeader) + kEol + kEol;
  if (!doc.preamble.empty()) {
    for (const auto& l : doc.preamble) out += l + kEol;
    out += kEol;
  }
  for (const auto& s : doc.sections) {
    out += "[" + s.key + "]" + kEol;
    for (const auto& e : s.entries) {
      if (e.known) {
        out += FormatValue(e.name, e.value);
      } else {
        for (const auto& r : e.raw) out += r + kEol;
        // A kept value whose continuation was cut off by the end of the file would continue into
        // whatever line is written next; an empty line ends it as the end of the file did.
        const std::string last = Trim(e.raw.back());
        if (!last.empty() && last.back() == '\\') out += kEol;
      }
    }
    out += kEol;
  }
  return out;
}

// --- lookup ---------------------------------------------------------------------------------------

std::string NormalKey(const std::string& key) {
  std::string k = Trim(key);
  while (!k.empty() && k.back() == '\\') k.pop_back();
  return k;
}

bool SameKey(const std::string& a, const std::string& b) { return fs::EqualsIgnoreCase(NormalKey(a), NormalKey(b)); }

// When `key` lies below `parent`, the name of its first component below it.
bool ChildOf(const std::string& key, const std::string& parent, std::string& child) {
  std::string k = NormalKey(key), p = NormalKey(parent);
  if (k.size() <= p.size() + 1 || k[p.size()] != '\\' || !fs::EqualsIgnoreCase(k.substr(0, p.size()), p)) {
    return false;
  }
  std::string rest = k.substr(p.size() + 1);
  child = rest.substr(0, rest.find('\\'));
  return !child.empty();
}

Section* FindSection(Document& doc, const std::string& key) {
  for (auto& s : doc.sections) {
    if (SameKey(s.key, key)) return &s;
  }
  return nullptr;
}

bool ValidText(const std::string& s) { return s.find_first_of(std::string("\r\n\0", 3)) == std::string::npos; }

std::string DefaultPath() {
  auto env = [](const char* name) {
    const char* v = std::getenv(name);
    return std::string(v ? v : "");
  };
  std::string p = env("HALDMOOR3_REGISTRY");
  if (!p.empty()) return p;
  p = env("XDG_CONFIG_HOME");
  if (!p.empty()) return p + "/haldmoor3/registry.reg";
  std::string home = env("HOME");
  if (home.empty()) {
    passwd pw{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &pw, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir) {
      home = found->pw_dir;
    }
  }
  if (home.empty()) home = fs::CurrentDirectory();
  return home + "/.config/haldmoor3/registry.reg";
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

// Loads the current file; a missing file is an empty registry, an unreadable one is an error.
bool Load(const std::string& path, Document& doc) {
  std::string bytes;
  if (!fs::ReadWholeFile(path, bytes)) {
    if (fs::FileExists(path)) return false;
    doc = Document{};
    return true;
  }
  doc = Parse(bytes);
  return true;
}

}  // namespace

Registry::Registry(std::string path) : path_(path.empty() ? DefaultPath() : std::move(path)) {}

const std::string& Registry::Path() const { return path_; }

bool Registry::Read(const std::string& key, const std::string& name, RegValue& out) {
  Document doc;
  if (!Load(path_, doc)) return false;
  Section* s = FindSection(doc, key);
  if (!s) return false;
  // The last of duplicate names wins, as when regedit imports the file.
  for (auto it = s->entries.rbegin(); it != s->entries.rend(); ++it) {
    if (it->hasName && fs::EqualsIgnoreCase(it->name, name)) {
      if (!it->known) return false;
      out = it->value;
      return true;
    }
  }
  return false;
}

bool Registry::Write(const std::string& key, const std::string& name, const RegValue& value) {
  if (NormalKey(key).empty() || !ValidText(key) || !ValidText(name)) return false;
  if (value.type == RegType::String && !ValidText(value.text)) return false;
  std::string folder = FolderOf(path_);
  if (!folder.empty() && !fs::CreateFolders(folder)) return false;
  fs::FileLock lock;
  if (!lock.Lock(path_ + ".lock", kLockTimeoutMs)) return false;
  Document doc;
  if (!Load(path_, doc)) return false;
  Section* s = FindSection(doc, key);
  if (!s) {
    doc.sections.push_back(Section{NormalKey(key), {}});
    s = &doc.sections.back();
  }
  Entry fresh;
  fresh.hasName = fresh.known = true;
  fresh.name = name;
  fresh.value = value;
  bool placed = false;
  for (auto it = s->entries.begin(); it != s->entries.end();) {
    if (it->hasName && fs::EqualsIgnoreCase(it->name, name)) {
      if (!placed) {
        fresh.name = it->name;  // keep the spelling already in the file
        *it = fresh;
        placed = true;
        ++it;
      } else {
        it = s->entries.erase(it);
      }
    } else {
      ++it;
    }
  }
  if (!placed) s->entries.push_back(std::move(fresh));
  return fs::ReplaceFileAtomically(path_, Format(doc));
}

bool Registry::DeleteValue(const std::string& key, const std::string& name) {
  if (!fs::FileExists(path_)) return false;
  fs::FileLock lock;
  if (!lock.Lock(path_ + ".lock", kLockTimeoutMs)) return false;
  Document doc;
  if (!Load(path_, doc)) return false;
  Section* s = FindSection(doc, key);
  if (!s) return false;
  size_t before = s->entries.size();
  std::erase_if(s->entries, [&](const Entry& e) { return e.hasName && fs::EqualsIgnoreCase(e.name, name); });
  if (s->entries.size() == before) return false;
  return fs::ReplaceFileAtomically(path_, Format(doc));
}

bool Registry::KeyExists(const std::string& key) {
  Document doc;
  if (!Load(path_, doc)) return false;
  std::string child;
  for (const auto& s : doc.sections) {
    if (SameKey(s.key, key) || ChildOf(s.key, key, child)) return true;
  }
  return false;
}

std::vector<std::string> Registry::SubKeys(const std::string& key) {
  std::vector<std::string> result;
  Document doc;
  if (!Load(path_, doc)) return result;
  for (const auto& s : doc.sections) {
    std::string child;
    if (!ChildOf(s.key, key, child)) continue;
    bool seen = false;
    for (const auto& r : result) seen = seen || fs::EqualsIgnoreCase(r, child);
    if (!seen) result.push_back(child);
  }
  return result;
}

}  // namespace hm
