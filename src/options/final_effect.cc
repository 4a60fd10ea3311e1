#include "options/final_effect.h"

#include "options/hyphen_term.h"

FinalEffects::Values settleOptions(HyphenTerms& terms) {
  FinalEffects::Values v;

  // Every absent field option reads as the limit, so it comes first.
  const std::int32_t limit = terms.fieldNumberLimit();

  v.completionChar = terms.completionChar();
  v.katakanaChar = terms.katakanaChar();
  v.quoteChar = terms.quoteChar();
  v.separatorChar = terms.separatorChar();

  v.decimalExtraction = false;
  v.integerExtraction = false;
  v.dropControl = terms.flag('$');
  v.dropCombining = terms.flag('%');
  v.replaceKatakana = terms.flag('x');

  // The treating field options rank before the plain ones; the first one
  // below the limit decides both the field and its treatment.
  struct Treating {
    char letter;
    bool* column;
  };
  const Treating chain[] = {{'e', &v.decimalExtraction},
                            {'n', &v.integerExtraction},
                            {'d', &v.dropCombining},
                            {'k', &v.replaceKatakana},
                            {'o', &v.dropControl}};
  bool chosen = false;
  for (const Treating& option : chain) {
    const std::int32_t value = terms.fieldOption(option.letter);
    if (value < limit) {
      *option.column = true;
      v.fieldNumber = value;
      chosen = true;
      break;
    }
  }
  if (!chosen) {
    const bool has_j = terms.numberValue('j') != -1;
    const bool has_c = terms.numberValue('c') != -1;
    const std::int32_t j = terms.fieldOption('j');
    const std::int32_t c = terms.fieldOption('c');
    if (has_c && c < limit) {
      // -c is the fallback for a -j that is absent or too large.
      v.fieldNumber = has_j && j < limit ? j : c;
    } else {
      v.fieldNumber = has_j ? j : limit;
    }
  }

  const std::string f_name = terms.listName(1);
  v.narrowName = f_name.empty() ? terms.defaultListName() : f_name;

  // The default token sets -0, so only -LF (which clears it) turns CR LF off.
  v.crlfLines = !terms.flag('L') || terms.flag('0');

  v.refreshWide = terms.flag('t');
  v.keepTemporary = terms.flag('y');
  v.noTableSearch = terms.flag('D');
  v.omitHI = terms.flag('p');
  v.quotedSeparatorIgnored = terms.flag('q');
  v.tableFromSettings = terms.flag('K');
  v.temporaryRoute = terms.flag('b');
  v.tableReport = terms.flag('M');

  v.wideName = terms.wideName();
  return v;
}
