// The one bridge from the product's settled options to the reference
// model's settings, kept apart from the model, which knows nothing of the
// product.
#ifndef PELMORA_TESTS_REFERENCE_MODEL_SETTINGS_H_
#define PELMORA_TESTS_REFERENCE_MODEL_SETTINGS_H_

#include "options/final_effect.h"
#include "reference_select.h"
#include "select/select_types.h"

namespace reference {

/// The model's settings for one engine run on options `v`, with the
/// supplementary list "20B9F" that the tests and the fuzz target use.
inline Settings modelSettings(const FinalEffects::Values& v, Column column,
                              LineEnd line_end) {
  Settings s;
  s.engine = column == Column::kDecimal    ? Engine::kDecimal
             : column == Column::kInteger  ? Engine::kInteger
             : column == Column::kFiltered ? Engine::kFiltered
                                           : Engine::kPlain;
  s.field = v.fieldNumber;
  s.separator = v.separatorChar;
  s.quote = v.quoteChar;
  s.quoted_separator_dropped = v.quotedSeparatorIgnored;
  s.crlf = line_end == LineEnd::kCrLf;
  s.drop_control = v.dropControl;
  s.omit_hi = v.omitHI;
  s.replace_katakana = v.replaceKatakana;
  s.katakana = v.katakanaChar;
  s.drop_sound_marks = v.dropCombining;
  s.completion = v.completionChar;
  s.listed = {0x20B9F};
  return s;
}

}  // namespace reference

#endif  // PELMORA_TESTS_REFERENCE_MODEL_SETTINGS_H_
