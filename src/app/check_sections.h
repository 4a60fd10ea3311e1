// The sections of pelmora-check's page that take more than a few lines to
// tell: how each argument was read, and what the head of the wide file
// holds. Each is filled from what pelmora's own code found.
#ifndef PELMORA_APP_CHECK_SECTIONS_H_
#define PELMORA_APP_CHECK_SECTIONS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "app/check_text.h"
#include "options/final_effect.h"
#include "options/hyphen_term.h"
#include "select/sample_fields.h"
#include "select/select_types.h"

class Selecting;

namespace check_text {

/// How each argument and settings line was read, from the parser's
/// readings; `reports` tells a missing set_pelmora.txt (148). Adds a
/// warning for a cluster that holds -t, -F or -b.
void showReadings(const HyphenTerms& terms, const FinalEffects::Values& values,
                  const std::vector<std::string>& reports, Page* out,
                  std::vector<std::string>* warnings);

/// The head of the wide file as pelmora-check looks at it.
struct Sample {
  bool read = false;
  std::int64_t end = 0;
  std::u16string units;
  SampleFields fields;
  std::string narrow;
};

/// The wide file's coding, size and first line with Field-N marked; reads
/// the sample (the head cut at a line end) into *sample.
void showWide(const FinalEffects& effects, Selecting* selecting, Sample* sample,
              Page* page);

/// The warnings the sample gives: a tab export read with another
/// separator, a quote left open at the end of the first line, Field-N
/// empty on every line, the separator that closes Field-N, the header
/// line, the characters without a code (counted only with a table).
void warnAboutSample(const FinalEffects& effects, const Selecting& selecting,
                     Column column, bool table_loaded, const Sample& sample,
                     std::vector<std::string>* warnings);

/// The first narrow lines of the engine's output, as UTF-8.
void showNarrowLines(const std::string& narrow, Page* page);

}  // namespace check_text

#endif  // PELMORA_APP_CHECK_SECTIONS_H_
