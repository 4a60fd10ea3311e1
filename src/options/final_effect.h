// FinalEffects: the settled options of one run, fixed once, read-only after.
// Every value the table loader, the replacement-byte table and the engine
// preparation read comes from here.
#ifndef PELMORA_OPTIONS_FINAL_EFFECT_H_
#define PELMORA_OPTIONS_FINAL_EFFECT_H_

#include <cstdint>
#include <string>
#include <utility>

class HyphenTerms;

/// Immutable: created with every value at once, then only queried.
class FinalEffects {
 public:
  /// Every settled value, in the order the object declares them.
  struct Values {
    bool crlfLines = true;
    bool decimalExtraction = false;
    bool integerExtraction = false;
    std::int32_t fieldNumber = 255;
    std::string wideName;
    bool refreshWide = false;
    std::uint8_t completionChar = '0';
    std::uint8_t katakanaChar = '_';
    bool omitHI = false;
    std::string narrowName;
    bool keepTemporary = false;
    bool noTableSearch = false;
    std::uint8_t quoteChar = '"';
    bool dropControl = false;
    bool dropCombining = false;
    bool quotedSeparatorIgnored = false;
    bool replaceKatakana = false;
    bool tableFromSettings = false;
    std::uint8_t separatorChar = ',';
    bool temporaryRoute = false;
    bool tableReport = false;
  };

  explicit FinalEffects(Values values) : v_(std::move(values)) {}
  FinalEffects(const FinalEffects&) = delete;
  FinalEffects& operator=(const FinalEffects&) = delete;

  bool crlfLines() const { return v_.crlfLines; }
  bool decimalExtraction() const { return v_.decimalExtraction; }
  bool integerExtraction() const { return v_.integerExtraction; }
  std::int32_t fieldNumber() const { return v_.fieldNumber; }
  std::string wideName() const { return v_.wideName; }
  bool refreshWide() const { return v_.refreshWide; }
  std::uint8_t completionChar() const { return v_.completionChar; }
  std::uint8_t katakanaChar() const { return v_.katakanaChar; }
  bool omitHI() const { return v_.omitHI; }
  std::string narrowName() const { return v_.narrowName; }
  bool keepTemporary() const { return v_.keepTemporary; }
  bool noTableSearch() const { return v_.noTableSearch; }
  std::uint8_t quoteChar() const { return v_.quoteChar; }
  bool dropControl() const { return v_.dropControl; }
  bool dropCombining() const { return v_.dropCombining; }
  bool quotedSeparatorIgnored() const { return v_.quotedSeparatorIgnored; }
  bool replaceKatakana() const { return v_.replaceKatakana; }
  bool tableFromSettings() const { return v_.tableFromSettings; }
  std::uint8_t separatorChar() const { return v_.separatorChar; }
  bool temporaryRoute() const { return v_.temporaryRoute; }
  bool tableReport() const { return v_.tableReport; }

 private:
  const Values v_;
};

/// Derives the settled values from a parsed option store by the settlement
/// rules: field-number limit, the four character options (completion,
/// katakana, quote, separator), column flags and field choice, narrow-file
/// name, line ends, then the plain flags.
FinalEffects::Values settleOptions(HyphenTerms& terms);

#endif  // PELMORA_OPTIONS_FINAL_EFFECT_H_
