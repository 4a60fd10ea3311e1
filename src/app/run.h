// One whole run of Pelmora in the calling process, as the program makes it;
// the tests run it too, with faults planted where no real disk would fail.
#ifndef PELMORA_APP_RUN_H_
#define PELMORA_APP_RUN_H_

#include <string>
#include <vector>

#include "select/select_types.h"

class FinalEffects;

/// The engine a run picks from its settled options: decimal, integer, plain,
/// or filtered (control characters or H and I dropped).
Column chooseColumn(const FinalEffects& effects);

/// Runs Pelmora on the arguments (without the program name) in the current
/// folder, and gives the exit code; a fatal failure ends the process.
int runPelmora(const std::vector<std::string>& arguments);

#endif  // PELMORA_APP_RUN_H_
