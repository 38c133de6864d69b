// The value-name tables through which the command line, profiles and the
// debug listing name the codes of settings ("BILINEAR" for resize algorithm 1).
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace kestrune {

// The tables, in the order of their rows in settings.cpp.
enum ValueTable : int {
    kNoTable = -1,
    kTableDdsLoadAs,
    kTableRawLoadAs,
    kTableFrameLoading,
    kTableToneMapping,
    kTableCompression,
    kTableBmpColorTable,
    kTableTiffColorModel,
    kTableJpgChroma,
    kTableJpgSaveAs,
    kTableRotationType,
    kTableUnit,
    kTableResizeType,
    kTableResizeAlgorithm,
    kTableFontStyle,
    kTableFontEffect,
    kTableTextAlignment,
    kTableBoundary,
    kTablePosition,
    kTableSizeMode,
    kTableTimestamp,
    kValueTableCount,
};

struct ValueName {
    const char* name;
    int code;
};

// The names of a value-name table in their listed order (empty for kNoTable).
std::span<const ValueName> ValueNames(ValueTable table);

// Code of the first name of the table equal to text upper-cased; 0 when none
// matches. Blanks are trimmed by the caller.
int LookupValueName(std::string_view text, ValueTable table);

// Name of the first entry of the table with this code, upper case as listed;
// empty when no name has it.
std::string NameOfCode(ValueTable table, int code);

}  // namespace kestrune
