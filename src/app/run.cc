// One run of Pelmora: which of the runs this is, and in which order the
// components work. It reports nothing itself.
#include "app/run.h"

#include <memory>
#include <string>
#include <vector>

#include "diagnostics/error_text.h"
#include "options/final_effect.h"
#include "options/guide.h"
#include "options/hyphen_term.h"
#include "options/settings_file.h"
#include "platform/platform.h"
#include "select/select_utf16.h"
#include "tables/data_note.h"
#include "tables/derive_binary.h"

namespace {

int deriveTable() {
  DeriveTable deriver;
  (void)deriver.derive();
  // A table that was not written has been reported as unfinished.
  return diagnostics::finishedExitCode();
}

void printGuide(bool full) {
  Guiding guiding;
  guiding.printGuide(kPelmoraVersion, full);
}

}  // namespace

Column chooseColumn(const FinalEffects& effects) {
  if (effects.decimalExtraction()) return Column::kDecimal;
  if (effects.integerExtraction()) return Column::kInteger;
  bool plain = !effects.dropControl() && !effects.omitHI();
  return plain ? Column::kPlain : Column::kFiltered;
}

int runPelmora(const std::vector<std::string>& arguments) {
  if (arguments.empty() || arguments[0].empty()) return deriveTable();

  auto terms = std::make_unique<HyphenTerms>();
  terms->prepareTerms(arguments);
  terms->parse();
  if (terms->flag('G')) {
    printGuide(true);
    return 1;
  }
  if (terms->flag('V')) {
    printGuide(false);
    return 1;
  }

  auto effects = std::make_unique<FinalEffects>(settleOptions(*terms));
  auto selecting = std::make_unique<Selecting>();
  // A stale note must not be shown as this run's: data.txt is emptied, and
  // held until this run has shown its own.
  DataNote note;
  if (effects->tableReport()) note.hold(effects->wideName());
  if (effects->wideName().empty()) {
    note.release();
    printGuide(false);
    return 1;
  }

  selecting->buildReplacementBytes(*effects);
  selecting->prepareRun(*effects, effects->wideName(), &note);
  selecting->unreadFileStop(-1);

  Column column = chooseColumn(*effects);
  if (effects->narrowName().empty()) {
    (void)selecting->runToStandardOutput(column);
    note.release();
    return diagnostics::finishedExitCode();
  }

  // Opened once, before anything is written, and checked on that open: a
  // narrow name that reaches the wide file, another file this run reads,
  // or an export would destroy it before a byte of it is kept anywhere,
  // and a name that reaches another file by the time of the write must not
  // take the output there.
  // Only a -M run holds a note that the narrow name could reach.
  selecting->holdNarrowOrStop(effects->narrowName(), kSettingsFile,
                              effects->tableReport() ? &note : nullptr);
  const bool refresh = effects->refreshWide();
  const bool routed = effects->temporaryRoute();
  if (refresh || routed) {
    selecting->holdTemporaryOrStop(refresh, routed, effects->narrowName());
  }
  // The -b route writes binary.tmp, so its refresh comes first; otherwise
  // the refresh's copy is made while the scan runs.
  if (refresh && routed) selecting->refreshWide();
  LineEnd line_end = effects->crlfLines() ? LineEnd::kCrLf : LineEnd::kLf;
  if (refresh && !routed) {
    (void)selecting->runToFileRefreshing(
        column, line_end, effects->narrowName(), effects->keepTemporary());
  } else if (routed) {
    if (selecting->runToTemporary(column, line_end) != WriteResult::kWritten) {
      // binary.tmp holds whatever was there before (the -t copy, a part of
      // the output): copying it would hand the narrow file bytes this run
      // did not make as if it had.
      selecting->temporaryRouteStop(effects->narrowName());
    }
    (void)selecting->copyFromTemporary(effects->narrowName());
    selecting->releaseTemporary(effects->keepTemporary());
  } else {
    (void)selecting->runToFile(column, line_end, effects->narrowName());
  }
  if (effects->tableReport()) (void)note.echo();
  note.release();
  // 0 only when everything asked for was written: a narrow file, a note or
  // an option that failed on the way has been reported as unfinished.
  return diagnostics::finishedExitCode();
}
