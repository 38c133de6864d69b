// The command-line options: one table serves the parser, the profile reader,
// the help text and the generated manual page and completion.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "settings/run_request.h"
#include "settings/settings.h"

namespace kestrune {

struct ParseResult {
    std::string error;  // empty on success
    bool quiet = false;
    bool pause = false;
};

// Walks every parameter into `settings` and `run_request`; stops at the first
// error ("Incorrect number of parameters", "Invalid profile file").
ParseResult ParseOptions(const std::vector<std::string>& params);

// How an option carries its value.
enum class OptionForm {
    QuotedText,    // name=value; an opening quote joins following parameters
    StrippedText,  // quotes at both ends removed, never joined (-c)
    Integer,       // "$" hex, "%" binary or decimal, up to the first unfit character
    Real,          // decimal with ".", or "+Infinity", "-Infinity", "NaN"
    Name,          // looked up in a value-name table
    Switch,        // no value; stores `fixed` in its target
    Profile,       // quoted text naming a profile file, loaded where it stands
    // Commands that count only as the first parameter: the command line
    // prints the help or the version and ends; elsewhere they are ignored.
    Help,
    Version,
};

// The part of the help text an option's line stands in.
enum class HelpSection { None, Options, Advanced, Other };

// How a profile stores a text value: the command line's shell has already
// dealt with blanks, a profile line has not.
enum class ProfileText {
    Trimmed,        // blanks at both ends removed, quotes kept
    QuotesRemoved,  // quotes at both ends removed, blanks kept
};

using OptionTarget =
    std::variant<std::monostate, int32_t Settings::*, int8_t Settings::*, float Settings::*,
                 std::string Settings::*, std::string RunRequest::*, bool ParseResult::*>;

// A second field set to a fixed value whenever the option is given, such as
// resizing switched on by a width.
using OptionSideEffect = std::variant<std::monostate, int8_t Settings::*, bool RunRequest::*>;

struct OptionRow {
    const char* name;        // long form, upper case ("--JPG-QUALITY")
    const char* short_name;  // "-I" and the like, nullptr when there is none
    OptionForm form;
    OptionTarget target;
    ValueTable table = kNoTable;   // value-name table of Name rows
    const char* fixed = nullptr;   // what a Switch stores ("1", "0", "DEBUG")
    OptionSideEffect also{};
    int8_t also_value = 0;
    // Key of the option in a profile's "CLI" group (upper case), nullptr for
    // options that only the command line may give.
    const char* profile_key = nullptr;
    ProfileText profile_text = ProfileText::Trimmed;
    // Short options (-i, -o, -c) take their value from the next parameter; a
    // value there may not begin with a single "-" either.
    bool separate_value = false;
    const char* other_name = nullptr;  // a second short form ("-?")
    // The option's line of the help text, exactly as printed, its section
    // and its place there; nullptr for options the help does not show.
    const char* help = nullptr;
    HelpSection help_section = HelpSection::None;
    int help_place = 0;
};

// Whether the row's form can store into its target: a Name row needs a
// number and a value-name table, a Switch a fixed value unless its target is
// a flag of the parser, and so on. Every row of OptionTable() passes (checked
// when it is compiled); a row that did not would store 0.
constexpr bool FormFitsTarget(const OptionRow& row) {
    const auto& t = row.target;
    const bool number = std::holds_alternative<int32_t Settings::*>(t);
    const bool byte = std::holds_alternative<int8_t Settings::*>(t);
    const bool text =
        std::holds_alternative<std::string Settings::*>(t) || std::holds_alternative<std::string RunRequest::*>(t);
    switch (row.form) {
        case OptionForm::QuotedText:
        case OptionForm::StrippedText: return text;
        case OptionForm::Integer: return number;
        case OptionForm::Real: return std::holds_alternative<float Settings::*>(t);
        case OptionForm::Name: return (number || byte) && row.table != kNoTable;
        case OptionForm::Switch:
            return std::holds_alternative<bool ParseResult::*>(t) ||
                   ((byte || std::holds_alternative<std::string RunRequest::*>(t)) && row.fixed != nullptr);
        case OptionForm::Profile:
        case OptionForm::Help:
        case OptionForm::Version: return std::holds_alternative<std::monostate>(t);
    }
    return false;
}

std::span<const OptionRow> OptionTable();
// The row whose long or short name is `upper_name`; nullptr when none. The
// command line asks it for its first parameter too, so -h and -v are spelt
// as every other option.
const OptionRow* FindOption(std::string_view upper_name);
// The row whose profile key is `upper_key`; nullptr when none.
const OptionRow* FindProfileOption(std::string_view upper_key);

// The parameter's option name: upper case; for "--" options the part before
// the first "="; for "-" options the whole trimmed parameter; otherwise "".
std::string OptionName(std::string_view param);
// The parameter's value: after the first "=" of a "--" option, otherwise the
// whole trimmed parameter.
std::string OptionValue(std::string_view param);

// Integers past 32 bits saturate at INT32_MIN / INT32_MAX.
int32_t ConvertInteger(std::string_view text);
float ConvertReal(std::string_view text);
// All double quotes at the beginning and at the end removed.
std::string StripQuotes(std::string_view text);

// Stores an already joined and unquoted value through the row (conversion by
// form, side effect included). A Profile row does nothing here: loading a
// profile is the parser's business. `result` receives -q and -p.
void ApplyOption(const OptionRow& row, std::string_view value, ParseResult& result);

}  // namespace kestrune
