// The parts of the file facility that do not depend on the operating system: Windows wildcard
// matching with Windows-1252 case folding, path spelling and the one-shot atomic replace.
#include <algorithm>

#include "platform/files.h"

namespace hm::fs {
namespace {

// Windows-1252 upper case to lower case; bytes that are not letters stay as they are.
unsigned char Fold(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
  switch (c) {
    case 0x8A: return 0x9A;  // S caron
    case 0x8C: return 0x9C;  // OE
    case 0x8E: return 0x9E;  // Z caron
    case 0x9F: return 0xFF;  // Y diaeresis
    default: return c;
  }
}

bool MatchFrom(const std::string& w, const std::string& n) {
  size_t wi = 0, ni = 0;
  size_t starW = std::string::npos, starN = 0;
  while (ni < n.size()) {
    if (wi < w.size() && w[wi] == '*') {
      starW = wi++;
      starN = ni;
    } else if (wi < w.size() &&
               (w[wi] == '?' || Fold(static_cast<unsigned char>(w[wi])) == Fold(static_cast<unsigned char>(n[ni])))) {
      ++wi;
      ++ni;
    } else if (starW != std::string::npos) {
      // Let the last star swallow one more character and retry from there.
      wi = starW + 1;
      ni = ++starN;
    } else {
      return false;
    }
  }
  while (wi < w.size() && w[wi] == '*') ++wi;
  return wi == w.size();
}

}  // namespace

bool WildcardMatch(const std::string& wildcard, const std::string& name) {
  if (MatchFrom(wildcard, name)) return true;
  // As on Windows, a trailing ".*" also matches a name without any extension ("*.*" matches all).
  if (wildcard.size() >= 2 && wildcard.compare(wildcard.size() - 2, 2, ".*") == 0 &&
      name.find('.') == std::string::npos) {
    return MatchFrom(wildcard.substr(0, wildcard.size() - 2), name);
  }
  return false;
}

namespace {

// Case-insensitive order with a byte order tie-break, so the order is total and stable across runs.
bool NameLess(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = Fold(static_cast<unsigned char>(a[i])), y = Fold(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

}  // namespace

void SortNames(std::vector<std::string>& names) { std::sort(names.begin(), names.end(), NameLess); }

std::string FoldCase(std::string name) {
  for (char& c : name) c = static_cast<char>(Fold(static_cast<unsigned char>(c)));
  return name;
}

bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Fold(static_cast<unsigned char>(a[i])) != Fold(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

std::string ToPosixPath(std::string windowsStylePath) {
  std::replace(windowsStylePath.begin(), windowsStylePath.end(), '\\', '/');
  return windowsStylePath;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& data) {
  AtomicFileWriter writer;
  if (!writer.Open(path)) return false;
  if (!writer.Write(data.data(), data.size())) return false;  // the destructor removes the temporary
  return writer.Commit();
}

}  // namespace hm::fs
