// The report of a wide file that could not be read during a scan: its
// number depends on the engine, on the line ends and on where the output
// goes, as in the program this one replaces.
#ifndef PELMORA_SELECT_READ_FAILURE_NUMBERS_H_
#define PELMORA_SELECT_READ_FAILURE_NUMBERS_H_

#include "select/select_types.h"

/// "Reset() error-NNN: ", to be followed by the wide file's name.
const char* readFailurePrefix(Column column, bool to_file, LineEnd line_end);

#endif  // PELMORA_SELECT_READ_FAILURE_NUMBERS_H_
