#include "select/read_failure_numbers.h"

const char* readFailurePrefix(Column column, bool to_file, LineEnd line_end) {
  const bool crlf = line_end == LineEnd::kCrLf;
  switch (column) {
    case Column::kDecimal:
      return !to_file ? "Reset() error-200: "
                      : (crlf ? "Reset() error-194: " : "Reset() error-195: ");
    case Column::kInteger:
      return !to_file ? "Reset() error-201: "
                      : (crlf ? "Reset() error-197: " : "Reset() error-198: ");
    case Column::kPlain:
      return !to_file ? "Reset() error-227: "
                      : (crlf ? "Reset() error-218: " : "Reset() error-219: ");
    case Column::kFiltered:
      break;
  }
  // Column::kFiltered (every other Column returned above; the compiler
  // warns about a Column left out of the switch).
  return !to_file ? "Reset() error-228: "
                  : (crlf ? "Reset() error-224: " : "Reset() error-225: ");
}
