// Every error number the program reports, with what makes it report it.
// Each message is worded where it is reported ("Reset() error-153: ..."); this
// is the one list of all of them, which the document check holds README.md
// and the manual page to.
#ifndef PELMORA_DIAGNOSTICS_ERROR_NUMBERS_H_
#define PELMORA_DIAGNOSTICS_ERROR_NUMBERS_H_

namespace diagnostics {

/// One error number and what triggers it.
struct ErrorNumber {
  int number;
  const char* trigger;
};

// clang-format off
inline constexpr ErrorNumber kErrorNumbers[] = {
    {115, "the Path splitter's ring queue lost count"},
    {116, "the Path splitter read an empty queue slot"},
    {144, "a list name below 1 was asked for"},
    {145, "a list name above 2 was asked for"},
    {148, "set_pelmora.txt is missing or unreadable"},
    {149, "option parsing started without arguments"},
    {153, "no table in the current folder"},
    {154, "no table in the fixed place"},
    {155, "set_dravikson.txt is missing, or its first line is too long"},
    {156, "the table named in set_dravikson.txt cannot be opened"},
    {158, "an eight-digit number in surro.txt starts with 8 or more"},
    {166, "-D and no table in the fixed place"},
    {167, "no table in any place"},
    {192, "surro.txt is missing or unreadable"},
    {193, "-t cannot copy or check the wide file, or have binary.tmp"},
    {194, "the decimal engine (CR LF) cannot read the wide file"},
    {195, "the decimal engine (LF) cannot read the wide file"},
    {197, "the integer engine (CR LF) cannot read the wide file"},
    {198, "the integer engine (LF) cannot read the wide file"},
    {200, "the decimal engine (standard output) cannot read the wide file"},
    {201, "the integer engine (standard output) cannot read the wide file"},
    {208, "a Path folder has no table"},
    {209, "the derivation's source MS932~UTF16.bin is missing or unreadable"},
    {210, "a field list read below index 0"},
    {211, "a field list read at or above the field limit"},
    {212, "a field list store below index 0"},
    {213, "a field list store at or above the field limit"},
    {214, "an option's number does not fit 32 bits"},
    {215, "the narrow file (or binary.tmp) cannot be opened, created or written"},
    {216, "-M finds no note in data.txt to show"},
    {218, "the plain selection (CR LF) cannot read the wide file"},
    {219, "the plain selection (LF) cannot read the wide file"},
    {221, "binary.tmp cannot be copied to its destination"},
    {222, "the wide file has no code units to hold (after 229)"},
    {223, "the narrow output does not fit in memory"},
    {224, "the filtered selection (CR LF) cannot read the wide file"},
    {225, "the filtered selection (LF) cannot read the wide file"},
    {227, "the plain selection (standard output) cannot read the wide file"},
    {228, "the filtered selection (standard output) cannot read the wide file"},
    {229, "the wide file cannot be opened, read or sized"},
    {230, "serial.txt holds no number"},
    {231, "serial.txt can be neither read nor created"},
    {232, "serial.txt cannot be rewritten"},
    {240, "a table file that opened cannot be read"},
    {241, "the derived table cannot be written or put in place"},
    {242, "standard output cannot be written"},
    {243, "the file to be written is the wide file"},
    {244, "the narrow file holds an export, or cannot be read to tell"},
    {245, "the narrow file is a file this run reads"},
    {246, "the wide file is a workbook, not an export"},
};
// clang-format on

}  // namespace diagnostics

#endif  // PELMORA_DIAGNOSTICS_ERROR_NUMBERS_H_
