// pelmora-check: how a pelmora command line is read and what the run would
// do, shown without running it.
#ifndef PELMORA_APP_CHECK_H_
#define PELMORA_APP_CHECK_H_

#include <string>
#include <vector>

/// Reads the arguments (pelmora's, without the program name) in the current
/// folder as pelmora would, through the same option parser, settlement,
/// coding detection, table search and engine, and prints in plain English
/// on standard output how each argument and settings line was taken, the
/// settled options, what happens to which file, the wide file's coding and
/// first line, the table, the refusal the run would meet, warnings about
/// common slips and the first narrow lines. Writes no file: every report is
/// kept in memory and shown. No arguments, or the single argument --help,
/// prints the usage text.
///
/// Gives the exit code: 0 when pelmora would convert the wide file, 1 when
/// it would not (a refusal, no table, no wide file, the guide or version).
int runCheck(const std::vector<std::string>& arguments);

/// The usage text of pelmora-check --help.
std::string checkUsage();

#endif  // PELMORA_APP_CHECK_H_
