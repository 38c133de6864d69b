// Writes the manual page and the bash completion of kestrunecmd from the
// option table, so that neither can miss an option the parser knows.
//
//   kestrune_docs man FILE         the troff source of kestrunecmd(1)
//   kestrune_docs completion FILE  the bash completion script
//
// Exit status 1 when an option has no description: a new row of the table
// must say what it does before the build goes through.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "app/version.h"
#include "formats/registry.h"
#include "settings/options.h"
#include "settings/settings.h"

namespace kestrune {
namespace {

// The options whose target is not a setting of the record, in the words of
// the help text where it has them.
const std::map<std::string, std::string> kOwnWords = {
    {"--INPUT", "The input: a GIF file, a list file (extension txt or lst, one path per line, UTF-8) "
                "or a folder, whose subfolders are searched as well."},
    {"--OUTPUT", "The output folder. Give it as an absolute path: a relative folder is taken relative "
                 "to the folder of the program."},
    {"--CONVERSION", "The output extension, one of the formats listed under FORMATS (default bmp)."},
    {"--PROFILE", "Reads the options of the group CLI of a profile file at this place of the command "
                  "line: options before it are overwritten by the file, options after it overwrite the file."},
    {"--DEBUG", "Prints the debug listing of the run and a line for each file and frame."},
    {"--QUIET", "Prints no banner, progress or summary lines (errors are still printed)."},
    {"--PAUSE", "Waits for a key before the program ends."},
};

// Extra words for options whose setting name alone says too little.
const std::map<std::string, std::string> kNotes = {
    {"--WIDTH", "Switches resizing on."},
    {"--HEIGHT", "Switches resizing on."},
    {"--ROTATION", "Switches rotation on."},
    {"--BRIGHTNESS", "-100 to 100; switches the colour correction on."},
    {"--CONTRAST", "-100 to 100; switches the colour correction on."},
    {"--GAMMA", "0.01 to 9.99; switches the colour correction on."},
    {"--INVERT", "Switches the colour correction on."},
    {"--THRESHOLD", "Switches the threshold on."},
    {"--FR-SOLID-LEFT", "Switches the frame on."},
    {"--FR-SOLID-RIGHT", "Switches the frame on."},
    {"--FR-SOLID-TOP", "Switches the frame on."},
    {"--FR-SOLID-BOTTOM", "Switches the frame on."},
    {"--WM-TEXT", "Switches the text watermark on. The tokens of the file name mask may be used."},
    {"--WM-IMAGE", "Switches the image watermark on."},
    {"--JPG-QUALITY", "1 to 100."},
    {"--FILENAME-MASK", "Tokens such as %filename% are described in the user manual."},
};

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// The setting an option writes, as "group / key", or "" when its target is no
// field of the settings record.
const SettingKey* TargetSetting(const OptionRow& row) {
    for (const SettingKey& key : SettingKeys()) {
        const bool same = std::visit(
            [&](auto field) {
                const auto* target = std::get_if<decltype(field)>(&row.target);
                return target && *target == field;
            },
            key.field);
        if (same) return &key;
    }
    return nullptr;
}

bool TakesValue(const OptionRow& row) { return row.form != OptionForm::Switch; }

// -h and -v count only as the first parameter; both outputs name them apart
// from the other options.
bool IsFirstOnly(const OptionRow& row) { return row.form == OptionForm::Help || row.form == OptionForm::Version; }

// The value's placeholder, as the help text writes them.
std::string ValueWord(const OptionRow& row) {
    const std::string name = row.name;
    if (name == "--INPUT" || name == "--PROFILE" || name == "--WM-IMAGE") return "FILE";
    if (name == "--OUTPUT") return "PATH";
    if (name == "--CONVERSION") return "STR";
    switch (row.form) {
        case OptionForm::Integer:
        case OptionForm::Real: return "NUM";
        case OptionForm::Name: return "NAME";
        case OptionForm::Switch: return "";
        default: break;
    }
    if (name.find("COLOR") != std::string::npos) return "RRGGBB";
    return "STR";
}

std::vector<std::string> ValueNamesOf(const OptionRow& row) {
    std::vector<std::string> names;
    if (row.form != OptionForm::Name) return names;
    for (const ValueName& v : ValueNames(row.table)) names.push_back(v.name);
    return names;
}

// What the option does, in one or two sentences; "" when nothing is known.
std::string Description(const OptionRow& row) {
    if (const auto own = kOwnWords.find(row.name); own != kOwnWords.end()) return own->second;
    const SettingKey* key = TargetSetting(row);
    if (!key) return "";
    std::string text = "Sets \"" + std::string(key->key) + "\" (group " + key->group + ")";
    if (row.form == OptionForm::Switch) text += " to " + std::string(row.fixed ? row.fixed : "1");
    text += ".";
    if (const auto note = kNotes.find(row.name); note != kNotes.end()) text += " " + note->second;
    if (std::string_view(row.name).ends_with("-BPP")) text += " Bits per pixel of the output; 0 chooses by the image.";
    if (row.form == OptionForm::Switch && row.fixed && std::string_view(row.fixed) == "1")
        text += " A value after \"=\" is ignored.";
    if (!row.profile_key) text += " Not read from profile files.";
    return text;
}

// troff escapes: a backslash, and a line that would start with "." or "'".
std::string Roff(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') out += "\\e";
        else if (c == '-') out += "\\-";
        else out += c;
    }
    if (!out.empty() && (out.front() == '.' || out.front() == '\'')) out.insert(0, "\\&");
    return out;
}

std::string Section(const char* name) { return std::string(".SH ") + name + "\n"; }

// The options, one paragraph each from the option table; false when a row
// has no description to show.
bool WriteOptionsSection(std::ostream& out) {
    out << Section("OPTIONS");
    out << ".TP\n.BR \\-h \", \" \\-? \", \" \\-\\-help\nDisplay the help and exit.\n";
    out << ".TP\n.BR \\-v \", \" \\-\\-version\nDisplay the version and exit.\n";
    bool complete = true;
    for (const OptionRow& row : OptionTable()) {
        if (IsFirstOnly(row)) continue;
        const std::string description = Description(row);
        if (description.empty()) {
            std::cerr << "kestrune_docs: no description for " << row.name << "\n";
            complete = false;
            continue;
        }
        const std::string word = ValueWord(row);
        out << ".TP\n";
        if (row.short_name) {
            out << "\\fB" << Roff(Lower(row.short_name)) << "\\fR";
            if (!word.empty()) out << " \\fI" << word << "\\fR";
            out << ", ";
        }
        out << "\\fB" << Roff(Lower(row.name)) << "\\fR";
        if (TakesValue(row)) out << "=\\fI" << word << "\\fR";
        out << "\n" << Roff(description) << "\n";
        const std::vector<std::string> names = ValueNamesOf(row);
        if (!names.empty()) {
            out << "\\fI" << word << "\\fR is one of: ";
            for (size_t i = 0; i < names.size(); ++i) out << (i ? ", " : "") << "\\fB" << Roff(names[i]) << "\\fR";
            out << ". Another name counts as \\fB" << Roff(NameOfCode(row.table, 0)) << "\\fR.\n";
        }
    }
    return complete;
}

// The environment variables the program reads.
void WriteEnvironmentSection(std::ostream& out) {
    out << Section("ENVIRONMENT");
    out << ".TP\n.B KESTRUNE_CONSOLE_UTF8\nWhen set to a value other than 0 or empty, output redirected to a file "
           "or pipe is UTF-8 with LF line ends instead of UTF-16LE with CR LF.\n";
    out << ".TP\n.B KESTRUNE_EXIT_STATUS\nWhen set to a value other than 0 or empty, the exit status says how "
           "the run went (see \\fBEXIT STATUS\\fR), and a copy that finds another one running says so on "
           "standard error.\n";
    out << ".TP\n.B KESTRUNE_REPORT\nA file (relative to the current directory) emptied at the start of a run "
           "and then given one JSON object per line: one per input, in input order, as each file is reported, "
           "with the keys \\fBinput\\fR, \\fBsubfolder\\fR, \\fBstatus\\fR (\\fBconverted\\fR, "
           "\\fBfailed\\fR or \\fBnot reached\\fR: not reported before a close signal ended the run), "
           "\\fBreason\\fR (when failed), \\fBoutputs\\fR (the files written), \\fBframes\\fR and "
           "\\fBms\\fR; then one summary object with \\fBsummary\\fR true, \\fBconverted\\fR and "
           "\\fBtotal\\fR. Each line is appended whole, so a run killed part-way leaves whole lines and no "
           "summary. A path byte that is not part of valid UTF-8 is written as \\e\\fBudcXX\\fR (U+DC00 plus "
           "the byte, as Python's surrogateescape). If the file cannot be written, the run prints "
           "\"Error: Invalid report file\" and stops.\n";
    out << ".TP\n.B KESTRUNE_LOCK_WAIT\nA number of seconds: a copy that finds the single-instance lock held "
           "waits that long for it before ending as a second copy, so that queued runs follow each other.\n";
    out << ".TP\n.B KESTRUNE_THREADS\nHow many threads a run keeps busy, converting files and encoding the "
           "frames of an animation side by side (default: one per processor, at most 8; 1: one file and one "
           "frame at a time).\n";
    out << ".TP\n.B KESTRUNE_RANDOM_SEED\nA number that makes the random numbers of the filename mask "
           "(%rnd%) the same in every run.\n";
    out << ".TP\n.B XDG_CONFIG_HOME\nThe folder of the window's settings (default \\fI~/.config\\fR).\n";
    out << ".TP\n.B XDG_RUNTIME_DIR\nWhere the lock that keeps a second copy from starting lives (else the "
           "system's temporary folder, with the user id in the name). The lock is per user and per machine.\n";
    out << ".TP\n.BR DISPLAY \", \" WAYLAND_DISPLAY \", \" QT_QPA_PLATFORM\nThe display of the window mode. "
           "Without one, the window mode prints one line on standard error and ends.\n";
}

// Command lines for common tasks, each with what it does.
void WriteExamplesSection(std::ostream& out) {
    out << Section("EXAMPLES");
    const char* examples[][2] = {
        {"kestrunecmd \\-i /home/me/ball.gif \\-o /home/me/frames \\-c png",
         "Every frame of ball.gif as ball[1].png, ball[2].png, ... in /home/me/frames."},
        {"kestrunecmd \\-i /srv/gifs/ \\-o /srv/out \\-c jpg \\-\\-jpg\\-quality=95 \\-\\-width=50 "
         "\\-\\-width\\-unit=PERCENT \\-\\-keep\\-aspect\\-ratio",
         "All GIFs below /srv/gifs, half as wide, as JPEG of quality 95, subfolders kept."},
        {"kestrunecmd \\-i list.txt \\-o /srv/out \\-c webp \\-\\-profile=/etc/kestrune/web.ini \\-q",
         "The files named in list.txt, with the settings of a profile, printing only errors."},
        {"kestrunecmd \\-i /srv/gifs/ \\-o /srv/out \\-c png \\-d | iconv \\-f UTF\\-16LE \\-t UTF\\-8 | "
         "grep \\-B2 \"Not OK\"",
         "The debug listing through a pipe, turned into UTF-8 for grep: each file not converted with its "
         "\"Processing\" and \"Saving As\" lines."},
        {"KESTRUNE_CONSOLE_UTF8=1 kestrunecmd \\-i /srv/gifs/ \\-o /srv/out \\-c png \\-d | grep \\-B2 \"Not OK\"",
         "The same without iconv."},
        {"KESTRUNE_EXIT_STATUS=1 KESTRUNE_REPORT=run.jsonl kestrunecmd \\-i /srv/gifs/ \\-o /srv/out \\-c png "
         "\\-q || jq \\-r \\(aqselect(.status == \"failed\") | .input + \": \" + .reason\\(aq run.jsonl",
         "A run that reports to a script: when some file was not converted, the failed files and why."},
    };
    for (const auto& example : examples) out << ".PP\n.nf\n" << example[0] << "\n.fi\n" << example[1] << "\n";
}

bool WriteManPage(std::ostream& out) {
    const std::string version = VersionDisplay(kVersionNumber);
    out << ".\\\" Generated from the option table of kestrunecmd; edit the table, not this file.\n";
    out << ".TH KESTRUNECMD 1 \"\" \"kestrune " << version << "\" \"User Commands\"\n";
    out << Section("NAME") << "kestrunecmd \\- convert GIF animations frame by frame to other image formats\n";
    out << Section("SYNOPSIS");
    out << ".B kestrunecmd\n.B \\-i\n.I input\n.RI [ options ]\n.br\n";
    out << ".B kestrunecmd\n.RI [ file \" ...]\"\n.br\n";
    out << ".B kestrunecmd\n.BR \\-h \" | \" \\-v\n";

    out << Section("DESCRIPTION");
    out << ".B kestrunecmd\nreads GIF images, composes every animation frame and writes each frame in one of "
           "23 image formats, with optional rotation, resize, flips, tone adjustments, a solid frame, a text "
           "or image watermark and output names built from a mask.\n";
    out << ".PP\nWith\n.B \\-i\nit converts on the command line and ends. Without parameters, or with parameters "
           "but no\n.BR \\-i ,\nit opens its window; GIF files and folders named on the command line are put in "
           "the window's input list.\n";
    out << ".PP\nOption names are matched without regard to case. Long options take their value after "
           "\"=\" in the same parameter\n(\\fB\\-\\-jpg\\-quality=95\\fR);\nthe short options \\fB\\-i\\fR, "
           "\\fB\\-o\\fR and \\fB\\-c\\fR take the next parameter. Options the program does not know are "
           "ignored. Values are not range-checked here: the run reports bad values before it converts.\n";
    out << ".PP\n\\fB\\-h\\fR, \\fB\\-?\\fR, \\fB\\-\\-help\\fR, \\fB\\-v\\fR and \\fB\\-\\-version\\fR are "
           "recognised only as the first parameter, and so are \\fB\\-U\\fR (the feedback window) and "
           "\\fB\\-T\\fR\\ \\fIfolder\\fR\\ [\\fIpicture.png\\fR] (a picture of the main window, written to "
           "\\fIpicture.png\\fR, by default \\fIkestrune\\-window.png\\fR in the current directory).\n";

    const bool complete = WriteOptionsSection(out);

    out << Section("FORMATS");
    out << "The values of \\fB\\-c\\fR:\n";
    for (const std::string& id : OutputFormatList())
        out << ".TP\n.B " << id << "\n" << Roff(DescriptionOf(id)) << "\n";

    WriteExamplesSection(out);

    out << Section("EXIT STATUS");
    out << "By default always 0: after a run (whatever it converted), after an option error, after help or "
           "version, and when another copy is already running. Read the output to learn what happened: the summary line "
           "\"Files converted: N of M\", the \"Error: \" lines, and in debug mode \"OK\" or \"Not OK\" for each "
           "file.\n.PP\nWith \\fBKESTRUNE_EXIT_STATUS\\fR set:\n"
           ".TP\n.B 0\nEvery file found was converted (also after help or version).\n"
           ".TP\n.B 1\nSome files were not converted.\n"
           ".TP\n.B 2\nNothing was converted, or the run was refused: an \"Error: \" line, or no GIF file found.\n"
           ".TP\n.B 3\nAnother copy holds the single-instance lock; one line on standard error says so, also "
           "with \\fB\\-q\\fR.\n"
           ".PP\nA run ended by a close signal (Ctrl-C, SIGTERM) ends with 1 or 2, as the files it reported.\n";

    out << Section("OUTPUT");
    out << "On a terminal the lines are UTF-8. Redirected to a file or a pipe they are UTF-16LE with CR LF "
           "line ends and no byte-order mark; convert them with\n.PP\n.nf\n"
           "kestrunecmd ... | iconv \\-f UTF\\-16LE \\-t UTF\\-8 | tr \\-d \\(aq\\er\\(aq\n.fi\n.PP\n"
           "or set \\fBKESTRUNE_CONSOLE_UTF8\\fR.\n";

    WriteEnvironmentSection(out);

    out << Section("FILES");
    out << ".TP\n.I ~/.config/Tarvel/kestrune/config.ini\nThe window mode's settings, read at start and written at "
           "exit; also the recent output folders.\n";
    out << ".TP\n.I $XDG_RUNTIME_DIR/" << Roff(TitleWithVersion()) << ".lock\nThe single-instance lock.\n";
    out << ".TP\n.I /usr/share/doc/kestrune/manual.html\nThe user manual, opened by Help \\(-> User Manual "
           "(F1) in the window.\n";

    out << Section("SEE ALSO") << ".BR iconv (1),\n.BR parallel (1),\n.BR jq (1)\n";
    return complete;
}

// Bash completion: options, value names after "=", formats after -c, files
// and folders where a path is expected.
bool WriteCompletion(std::ostream& out) {
    std::ostringstream options, cases;
    options << "-h -? --help -v --version -U -T";
    for (const OptionRow& row : OptionTable()) {
        if (IsFirstOnly(row)) continue;
        if (row.short_name) options << " " << Lower(row.short_name);
        options << " " << Lower(row.name) << (TakesValue(row) ? "=" : "");
        const std::vector<std::string> names = ValueNamesOf(row);
        if (!names.empty()) {
            cases << "        " << Lower(row.name) << ") values=\"";
            for (size_t i = 0; i < names.size(); ++i) cases << (i ? " " : "") << names[i];
            cases << "\" ;;\n";
        }
    }
    std::string formats;
    for (const std::string& id : OutputFormatList()) formats += (formats.empty() ? "" : " ") + id;

    out << "# bash completion for kestrunecmd; generated from its option table.\n"
        << "# The words of $1 that start with $2 in any case, offered as they are\n"
        << "# spelled in $1 (formats in lower case, value names in upper case).\n"
        << "_kestrunecmd_values()\n{\n"
        << "    local word typed=${2,,}\n"
        << "    for word in $1; do\n"
        << "        [[ ${word,,} == \"$typed\"* ]] && COMPREPLY+=(\"$word\")\n"
        << "    done\n"
        << "}\n"
        << "_kestrunecmd()\n{\n"
        << "    local cur prev line option value values\n"
        << "    COMPREPLY=()\n"
        << "    # Taken from the line itself: bash splits \"--name=value\" at \"=\" when\n"
        << "    # COMP_WORDBREAKS holds it, and the replies must match how it split.\n"
        << "    line=${COMP_LINE:0:COMP_POINT}\n"
        << "    cur=${line##*[[:space:]]}\n"
        << "    prev=${COMP_WORDS[COMP_CWORD-1]}\n"
        << "    if [[ $cur != --*=* ]]; then\n"
        << "        case ${prev,,} in\n"
        << "        -c) _kestrunecmd_values \"" << formats << "\" \"$cur\"; return ;;\n"
        << "        -o) COMPREPLY=($(compgen -d -- \"$cur\")); compopt -o filenames 2>/dev/null; return ;;\n"
        << "        -i) COMPREPLY=($(compgen -f -- \"$cur\")); compopt -o filenames 2>/dev/null; return ;;\n"
        << "        esac\n"
        << "    fi\n"
        << "    if [[ $cur == --*=* ]]; then\n"
        << "        option=${cur%%=*}\n"
        << "        value=${cur#*=}\n"
        << "        values=\n"
        << "        case ${option,,} in\n"
        << cases.str()
        << "        --conversion) values=\"" << formats << "\" ;;\n"
        << "        --input|--profile|--wm-image)\n"
        << "            COMPREPLY=($(compgen -f -- \"$value\")); compopt -o filenames 2>/dev/null ;;\n"
        << "        --output) COMPREPLY=($(compgen -d -- \"$value\")); compopt -o filenames 2>/dev/null ;;\n"
        << "        esac\n"
        << "        [[ -n $values ]] && _kestrunecmd_values \"$values\" \"$value\"\n"
        << "        if [[ $COMP_WORDBREAKS != *=* ]]; then\n"
        << "            COMPREPLY=(\"${COMPREPLY[@]/#/$option=}\")\n"
        << "        fi\n"
        << "        return\n"
        << "    fi\n"
        << "    if [[ $cur == -* ]]; then\n"
        << "        COMPREPLY=($(compgen -W \"" << options.str() << "\" -- \"$cur\"))\n"
        << "        # An option that takes a value is completed up to its \"=\".\n"
        << "        [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *= ]] && compopt -o nospace 2>/dev/null\n"
        << "        return\n"
        << "    fi\n"
        << "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
        << "    compopt -o filenames 2>/dev/null\n"
        << "}\n"
        << "complete -F _kestrunecmd kestrunecmd\n";
    return true;
}

}  // namespace
}  // namespace kestrune

int main(int argc, char** argv) {
    using namespace kestrune;
    if (argc != 3) {
        std::cerr << "usage: kestrune_docs man|completion FILE\n";
        return 2;
    }
    const std::string what = argv[1];
    std::ostringstream text;
    bool ok = false;
    if (what == "man") ok = WriteManPage(text);
    else if (what == "completion") ok = WriteCompletion(text);
    else {
        std::cerr << "kestrune_docs: unknown output " << what << "\n";
        return 2;
    }
    if (!ok) return 1;
    std::ofstream file(argv[2], std::ios::binary | std::ios::trunc);
    file << text.str();
    file.close();
    if (!file) {
        std::cerr << "kestrune_docs: cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
