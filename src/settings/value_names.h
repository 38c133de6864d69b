// The value-name tables through which the command line, profiles and the
// debug listing name the codes of settings ("BILINEAR" for resize algorithm 1).
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace kestrune {

// Value-name table numbers (13 and 14 are unused).
enum ValueTable : int {
    kNoTable = -1,
    kTableDdsLoadAs = 0,
    kTableRawLoadAs = 1,
    kTableFrameLoading = 2,
    kTableToneMapping = 3,
    kTableCompression = 4,
    kTableBmpColorTable = 5,
    kTableTiffColorModel = 6,
    kTableJpgChroma = 7,
    kTableJpgSaveAs = 8,
    kTableRotationType = 9,
    kTableUnit = 10,
    kTableResizeType = 11,
    kTableResizeAlgorithm = 12,
    kTableFontStyle = 15,
    kTableFontEffect = 16,
    kTableTextAlignment = 17,
    kTableBoundary = 18,
    kTablePosition = 19,
    kTableSizeMode = 20,
    kTableTimestamp = 21,
};

struct ValueName {
    const char* name;
    int code;
};

// The names of a value-name table in their listed order (empty for 13, 14 or
// any other unknown number).
std::span<const ValueName> ValueNames(int table);

// Code of the first name of the table equal to text upper-cased; 0 when none
// matches. Blanks are trimmed by the caller.
int LookupValueName(std::string_view text, int table);

// Name of the first entry of the table with this code, upper case as listed;
// empty when no name has it.
std::string NameOfCode(int table, int code);

}  // namespace kestrune
