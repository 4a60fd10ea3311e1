// One plain model of the selection rules, for the unit tests and the fuzz
// targets alike. It goes code unit by code unit, as README.md tells the
// rules, and works out for itself which bytes the options drop or replace:
// it reads only what the conversion table lists for each unit and the list
// of surro.txt, so that a fault in the engines' tables or replacement bytes
// cannot hide behind the same fault in the model.
#ifndef PELMORA_TESTS_REFERENCE_REFERENCE_SELECT_H_
#define PELMORA_TESTS_REFERENCE_REFERENCE_SELECT_H_

#include <cstdint>
#include <string>
#include <vector>

namespace reference {

enum class Engine {
  kPlain,     // -j, -c, -k, -d
  kFiltered,  // -o, -p, -$
  kDecimal,   // -e
  kInteger,   // -n
};

/// What the conversion table lists for one code unit: no code of its own
/// (length 0), one byte or two.
struct Code {
  std::uint8_t length = 0;
  std::uint8_t first = 0;
  std::uint8_t second = 0;
};

/// The codes of all 65,536 code units.
using CodeTable = std::vector<Code>;

/// Reads a loaded conversion table through its entry(unit, component): kind,
/// first byte, second byte. Kind 1 is a two-byte code and kind 2 one byte
/// from 0x80 up; a kind-0 unit writes itself, and the listed high halves the
/// product marks are left to the model, which has the list itself.
template <class Table>
CodeTable codesOf(const Table& table) {
  CodeTable codes(0x10000);
  for (std::uint32_t unit = 0; unit < 0x10000; ++unit) {
    const int kind = table.entry(unit, 0);
    if (kind == 1 || kind == 2) {
      codes[unit] = {static_cast<std::uint8_t>(kind == 1 ? 2 : 1),
                     table.entry(unit, 1), table.entry(unit, 2)};
    }
  }
  return codes;
}

struct Settings {
  Engine engine = Engine::kPlain;
  std::int64_t field = 1;
  std::uint16_t separator = ',';
  std::uint16_t quote = '"';
  bool quoted_separator_dropped = false;  // -q
  bool crlf = true;                       // -CRLF, not -LF
  bool drop_control = false;              // -o, -$
  bool omit_hi = false;                   // -p
  bool replace_katakana = false;          // -k, -x
  std::uint8_t katakana = '_';            // -a, -A
  bool drop_sound_marks = false;          // -d, -%
  std::uint8_t completion = '0';          // -h, -H
  /// The code points of surro.txt.
  std::vector<std::uint32_t> listed;
};

/// What the single byte `value` writes under the settings, or kDropped.
constexpr int kDropped = -1;
int replacement(const Settings& s, std::uint32_t value);

struct Result {
  std::string narrow;
  std::int64_t lines = 0;  // line feeds that ended a narrow line
};

/// The code units of a wide file's text, its mark left out: UTF-8 after EF
/// BB BF, UTF-16BE after FE FF, UTF-16LE after FF FE; without a mark, UTF-8
/// when the first 64 KiB hold no zero byte and no fault but a sequence cut
/// at their end, else UTF-16LE. Invalid UTF-8 is one U+FFFD per maximal
/// subpart that can be no character.
std::vector<std::uint16_t> decodeWide(const std::string& wide);

/// The narrow file for the bytes of a wide file.
Result select(const std::string& wide, const CodeTable& codes,
              const Settings& s);

}  // namespace reference

#endif  // PELMORA_TESTS_REFERENCE_REFERENCE_SELECT_H_
