// SurvivorsUTF16: the conversion table from UTF-16 code units to Shift_JIS.
// It is found, loaded and completed with the list of supplementary
// characters the program accepts (surro.txt), then only read.
#ifndef PELMORA_TABLES_SURVIVOR_UTF16_H_
#define PELMORA_TABLES_SURVIVOR_UTF16_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tables/table_format.h"

class DataNote;
class FinalEffects;

/// Names the table file when -K is given (first line).
inline constexpr const char* kTableSettingsFileName = "set_dravikson.txt";
/// The list of accepted supplementary characters.
inline constexpr const char* kSurrogateListFileName = "surro.txt";

/// What SurvivorsUTF16::survivors() found.
enum class SurvivorList {
  kRead,        ///< read up to its end, its first empty line or its 4 MiB bound
  kUnreadable,  ///< surro.txt could not be opened or read (reported, 192)
};

/// What the table search found; nothing of it stops the program.
struct TableSearch {
  /// The table file chosen; empty when no place has it.
  std::string found;
  /// Every name looked at, in the order of the search, the one found last.
  std::vector<std::string> tried;
  /// When the run cannot have this table: the number it stops with (166 -D
  /// and not in the fixed place, 167 in no place, 240 found but unreadable)
  /// and the message it reports; 0 and empty otherwise.
  int refusal = 0;
  std::string refusal_message;
};

/// One code unit's conversion: the kind and up to two Shift_JIS bytes.
struct TableEntry {
  std::uint8_t kind;    ///< one of the k*Kind constants
  std::uint8_t first;   ///< lead byte, or the only byte
  std::uint8_t second;  ///< trail byte, or 0
  std::uint8_t unused;
};

/// Loaded once per run, then only read. A new object maps every code unit
/// to kind 0 with both bytes 0 (the engines then write the unit itself).
class SurvivorsUTF16 {
 public:
  /// The table covers code units 0x0000..0xFFE5; records above are ignored
  /// and lookups there give kind 0.
  static constexpr std::uint32_t kTableUnits = 0xFFE6;
  /// Rows and columns of the pair tables: high surrogates 0xD840..0xD8BF
  /// (U+20000..U+3FFFF) by low surrogates 0xDC00..0xDFFF.
  static constexpr std::uint32_t kPairRows = 128;
  static constexpr std::uint32_t kPairColumns = 1024;
  static constexpr std::uint32_t kFirstPairHigh = 0xD840;

  SurvivorsUTF16();
  SurvivorsUTF16(const SurvivorsUTF16&) = delete;
  SurvivorsUTF16& operator=(const SurvivorsUTF16&) = delete;

  /// Searches the table file (fixed place, current folder, Path, the
  /// settings file; -K and -D narrow the search), writes the -M note and
  /// loads the file. Every miss is reported; when no place has the table the
  /// program stops with exit code 1, and so it does when the found file
  /// cannot be read. The note goes through `note`, the run's DataNote, or,
  /// when there is none, through one of its own.
  void load(const FinalEffects& options, DataNote* note = nullptr);

  /// The search of load() alone, as -K and -D narrow it: every miss is
  /// reported as load() reports it, but nothing stops the program and no
  /// note is written.
  TableSearch search(const FinalEffects& options) const;
  /// Loads the table that `search` found, which binaryTable() then names.
  /// False, with the refusal 240 set in *search, when it cannot be read.
  [[nodiscard]] bool loadFound(TableSearch* search);

  /// Applies the records of a table file (later records win). Returns false
  /// when the file cannot be opened or read; entries applied before a read
  /// failure stay.
  [[nodiscard]] bool loadFile(const std::string& name);

  /// Reads surro.txt and marks every listed supplementary character.
  /// Characters read before a read failure stay marked.
  [[nodiscard]] SurvivorList survivors();

  /// The hexadecimal parse of the list: leading upper-case hex digits of
  /// the first length characters. An eight-digit number of 0x80000000 or
  /// more is reported (158) and stops the program with exit code 1.
  /// *digits receives the number of digits taken.
  std::uint32_t hexadecimal_sequence_to_integer(const char* characters,
                                                std::size_t length,
                                                std::size_t* digits);

  /// Component 0: the kind; 1: the first byte; 2: the second byte.
  std::uint8_t entry(std::uint32_t unit, int component) const;
  /// The replacement bytes of a listed supplementary character: selector 1
  /// the first, 2 the second; 0 for any other selector or out of range.
  std::uint8_t pair(std::uint32_t high, std::uint32_t low, int selector) const;

  /// All 65,536 entries, for the engines' inner loops.
  const TableEntry* entries() const { return tables_->entries; }

  /// The location functions of the search; each returns the name found or
  /// an empty text, reporting its misses, and adds every name it looked at
  /// to *tried.
  std::string fixedPlace(std::vector<std::string>* tried) const;
  std::string currentFolder(std::vector<std::string>* tried) const;
  std::string programFolder(std::vector<std::string>* tried) const;
  std::string settingsFile(std::vector<std::string>* tried) const;

  /// The table file chosen by load().
  const std::string& binaryTable() const { return binary_table_; }

 private:
  // Opens `name` for the search; a table found stays open in probed_.
  bool probeKeeping(const std::string& name) const;
  void applyRecord(const std::uint8_t* record);
  void registerCodePoint(std::uint32_t code_point);

  // Every listed pair gives the same two bytes, so the pair tables are kept
  // as one bit per (high, low) cell: 16 KiB instead of two 128 KiB tables
  // that every run would have to clear.
  static constexpr std::uint8_t kPairFirstByte = 0x81;
  static constexpr std::uint8_t kPairSecondByte = 0x51;
  struct Tables {
    TableEntry entries[0x10000];
    std::uint64_t listed_pairs[kPairRows * kPairColumns / 64];
  };
  struct FreeTables {
    void operator()(Tables* tables) const;
  };
  // Taken zeroed from the allocator, which has fresh pages zeroed by the
  // system: only the pages the table file and surro.txt write are ever
  // touched (about half), where clearing the tables here would fault in
  // all 68 of them at every start.
  std::unique_ptr<Tables, FreeTables> tables_;
  // The table file the search found, left open by its probe: loading it
  // from that open reads the very file the search looked at, with no second
  // open of it by name.
  mutable platform::File probed_;
  mutable std::string probed_name_;
  std::string binary_table_;
};

#endif  // PELMORA_TABLES_SURVIVOR_UTF16_H_
