// The small values the engine frame and its parts share: which engine runs,
// which line ends it writes, and whether its output reached its file.
#ifndef PELMORA_SELECT_SELECT_TYPES_H_
#define PELMORA_SELECT_SELECT_TYPES_H_

/// Line ends of the narrow output.
enum class LineEnd { kCrLf, kLf };

/// The engine families, chosen by the main routine from the settled options.
enum class Column { kDecimal, kInteger, kPlain, kFiltered };

/// Whether an engine's output reached its file.
enum class [[nodiscard]] WriteResult{kWritten, kFailed};

#endif  // PELMORA_SELECT_SELECT_TYPES_H_
