#include "settings/text_table.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"
#include "settings/format_settings.h"

namespace kestrune {
namespace {

struct SourcePair {
    const char* first;
    const char* second;
};

// The built-in texts. "_GROUP_" opens a group, "_END_" ends the list.
//
// Keys of group "Preferences" (the preferences window):
//   "Title"; the page names "General", "Input", "Output", "Transform",
//   "Adjustment", "Frame", "Watermark", "Advanced", "Privacy"; the box
//   captions "Rotation", "Resize", "Flip", "Color Correction",
//   "Frame Loading", "RAW Images", "Format Options", "Text Watermark",
//   "Image Watermark", "Placement", "File Names", "Timestamp", "Folders";
//   the words "Automatic" (bit depth 0), "Bits" ("%s1% bits"), "Browse",
//   "Choose Color", "Mask Help";
//   one label per setting, keyed "<settings group>.<settings key>", e.g.
//   "Output.JPG Quality", "Watermark.Image Rotation" (groups General, Input,
//   Output, Transform, Adjustment, Frame, Watermark, Advanced, Privacy);
//   one caption per value name of the value-name tables, keyed
//   "Choice.<NAME>", e.g. "Choice.BICUBIC", plus "Choice.WM NONE",
//   "Choice.WM TEXT" and "Choice.WM IMAGE" for the watermark kinds.
const SourcePair kSource[] = {
    {"_GROUP_", "Menu"},
    {"File", "&File"},
    {"New", "&New"},
    {"Open", "&Open..."},
    {"Save As", "&Save As..."},
    {"Select Input File", "Add Input &File..."},
    {"Select Input Files", "&Add Input Files..."},
    {"Select Input Folder", "Add Input F&older..."},
    {"Delete Input Files", "&Delete Files From the List"},
    {"Select Output Folder", "Select &Output Folder..."},
    {"Output Format Options", "O&ptions..."},
    {"Import Input Files", "&Import Files..."},
    {"Export Input Files", "&Export Files..."},
    {"Exit", "E&xit"},
    {"Edit", "&Edit"},
    {"Copy", "&Copy"},
    {"Delete", "&Delete"},
    {"Select All", "Select &All"},
    {"Converter", "&Converter"},
    {"Convert", "&Convert"},
    {"Batch Convert", "&Batch Convert..."},
    {"Custom Converter", "&Find a File Converter..."},
    {"Preferences", "&Preferences..."},
    {"Help", "&Help"},
    {"Manual", "User &Manual..."},
    {"Send Feedback", "Send &Feedback"},
    {"Visit Homepage", "Visit the Program's &Homepage"},
    {"Check For New Version", "Check For a New &Version"},
    {"About", "&About..."},
    {"Toolbar", "&Toolbar"},

    {"_GROUP_", "General"},
    {"Input File", "Input File:"},
    {"Input Files", "Input Files:"},
    {"Filename", "Filename"},
    {"Output Folder", "Output Folder:"},
    {"Output Format", "Output Format:"},
    {"Convert", "Convert"},
    {"Ready", "Ready"},
    {"Preparing", "Preparing..."},
    {"Importing", "Importing..."},
    {"Converting", "Converting..."},

    {"_GROUP_", "Msg"},
    {"Error", "Error"},
    {"Warning", "Warning"},
    {"Insufficient memory", "Insufficient Memory"},
    {"Unable to open file", "Unable to open the file: %s1%!"},
    {"Unable to save file", "Unable to save the file: %s1%!"},
    {"Empty input files", "No input file(s) found. Please, add valid file(s) and try again!"},
    {"Empty input folder",
     "The input folder's field is empty. Please, check the existed input folder and try again!"},
    {"Invalid input folder",
     "The following input folder is invalid or doesn't exist:\r\n%s1%\r\n\r\nPlease, correct the input path and "
     "try again!"},
    {"Empty output folder",
     "The output folder's field is empty. Please, select existed output folder and try again!"},
    {"Invalid output folder",
     "The following output folder is invalid or doesn't exist:\r\n%s1%\r\n\r\nPlease, correct the output path "
     "and try again!"},
    {"Invalid width", "Invalid resize width value!"},
    {"Invalid height", "Invalid resize height value!"},
    {"Invalid conversion type", "Invalid conversion type!"},
    {"Invalid watermark font", "Unable to load selected font for a watermark: %s1%"},
    {"Empty watermark image", "Selected watermark image is invalid/empty!"},
    {"Invalid watermark image", "Unable to load selected file as a watermark image: %s1%"},
    {"Import complete", "Import complete, new files added: %s1%"},
    {"Import is not complete", "Import stopped"},
    {"Export complete", "Export complete, entries saved: %s1%"},
    {"Export is not complete", "Export stopped"},
    {"Conversion complete", "Conversion complete"},
    {"Conversion is not complete", "Conversion stopped"},
    {"Progress", "(%s1%/%s2%)"},
    {"Files converted", "Files converted: %s1% of %s2%"},
    {"New Update", "New Update"},
    {"New Update Text",
     "A new version of Tarvel GIF to IMAGE is available! Are you ready to download it right now?"},
    {"No Update", "No Update"},
    {"No Update Text", "There is no update of Tarvel GIF to IMAGE yet. You're using the most recent version."},
    {"Check for Updates", "Check for Updates"},
    {"Ask check for updates", "Do you want to check for updates?"},
    {"Reset to Defaults", "Reset to Defaults"},
    {"Ask reset to defaults", "Are you sure you want to reset all your settings to the default values?"},
    {"Internet connection problems", "Internet connection problems!"},
    {"Ask overwrite file", "The file already exist. Do you want to overwrite it?"},
    {"Clean recent files", "Clean Recent Files"},
    {"Ask clean recent files", "Do you want to clean the recent files list?"},
    {"Ask continue to find",
     "No matches of %s1% found!\r\n\r\nDo you want to search from the start of the list?"},
    {"Ask break import", "Do you want to break the import?"},
    {"Ask break export", "Do you want to break the export?"},
    {"Ask break conversion", "Do you want to break the conversion?"},
    {"Empty extensions", "Please, fill all required fields and try again!"},
    // Said when no mail program takes a "mailto:" address.
    {"No mail program", "No e-mail program is set up on this computer to write the message. Please send your feedback to %s1% from your usual mail program."},
    // Said when nothing takes an "https:" address.
    {"No web browser", "No program is set up on this computer to open web pages, so %s1% cannot be shown."},
    {"No manual program", "No program is set up on this computer to open the user manual. It is the file %s1%; please open it in your web browser."},

    {"_GROUP_", "Dialog"},
    {"Select Input Files", "Select Input Files"},
    {"Select Input Folder", "Select Input Folder"},
    {"Select Output Folder", "Select Output Folder"},
    {"Import Input Files", "Import Input Files From A List"},
    {"Export Input Files", "Export Input Files"},
    {"Select Watermark Image", "Select Watermark Image"},
    {"All Supported Files", "All Supported Files"},
    {"Text Files", "Text Files"},
    {"All Files", "All Files"},
    {"Import Progress", "Importing"},
    {"Export Progress", "Exporting"},
    {"Convert Progress", "Converting"},
    {"OK", "OK"},
    {"Cancel", "Cancel"},
    {"Help", "Help"},
    {"Defaults", "Defaults"},

    {"_GROUP_", "Preferences"},
    {"Title", "Preferences"},
    {"General", "General"},
    {"Input", "Input"},
    {"Output", "Output"},
    {"Transform", "Transform"},
    {"Adjustment", "Adjustment"},
    {"Frame", "Frame"},
    {"Watermark", "Watermark"},
    {"Advanced", "Advanced"},
    {"Privacy", "Privacy"},
    {"Rotation", "Rotation"},
    {"Resize", "Resize"},
    {"Flip", "Flip"},
    {"Color Correction", "Color Correction"},
    {"Frame Loading", "Frame Loading"},
    {"RAW Images", "RAW Images"},
    {"Format Options", "Format Options"},
    {"Text Watermark", "Text Watermark"},
    {"Image Watermark", "Image Watermark"},
    {"Placement", "Placement"},
    {"File Names", "File Names"},
    {"Timestamp", "File Timestamp"},
    {"Folders", "Folders"},
    {"Automatic", "Automatic"},
    {"Bits", "%s1% bits"},
    {"Browse", "Browse..."},
    {"Choose Color", "Choose Color..."},
    {"Mask Help", "Tokens:"},
    {"General.Language", "Language:"},
    {"General.Update Range", "Check for updates every (days):"},
    {"General.Save Window Position", "Remember the window position and size"},
    {"Input.Format", "Input format:"},
    {"Input.DDS Load As", "Load DDS images as:"},
    {"Input.GIF Frame Loading", "GIF frames to convert:"},
    {"Input.ICO Frame Loading", "ICO images to convert:"},
    {"Input.TIFF Frame Loading", "TIFF pages to convert:"},
    {"Input.RAW Load As", "Load RAW images as:"},
    {"Input.RAW Header Size", "RAW header size:"},
    {"Input.RAW Image Width", "RAW image width:"},
    {"Input.RAW Image Height", "RAW image height:"},
    {"Input.RAW Tone Mapping", "RAW tone mapping:"},
    {"Output.Format", "Output format:"},
    {"Transform.Do Image Rotation", "Rotate the image"},
    {"Transform.Image Rotation Type", "Rotation method:"},
    {"Transform.Image Rotation", "Angle (degrees):"},
    {"Transform.Image Rotation Back Color", "Background color:"},
    {"Transform.Do Image Resize", "Resize the image"},
    {"Transform.Image Width", "Width:"},
    {"Transform.Image Width Unit", "Width unit:"},
    {"Transform.Image Height", "Height:"},
    {"Transform.Image Height Unit", "Height unit:"},
    {"Transform.Keep Aspect Ratio", "Keep the aspect ratio"},
    {"Transform.Image Resize Type", "Resize:"},
    {"Transform.Image Resize Algorithm", "Resampling filter:"},
    {"Transform.Do Image Flip Horizontal", "Flip horizontally"},
    {"Transform.Do Image Flip Vertical", "Flip vertically"},
    {"Adjustment.Do Image Color Correction", "Adjust the colors"},
    {"Adjustment.Image Brightness", "Brightness (-100..100):"},
    {"Adjustment.Image Contrast", "Contrast (-100..100):"},
    {"Adjustment.Image Gamma", "Gamma (0.01..9.99):"},
    {"Adjustment.Image Invert", "Invert the colors"},
    {"Adjustment.Do Image Greyscale", "Greyscale"},
    {"Adjustment.Do Image Threshold", "Threshold"},
    {"Adjustment.Image Threshold", "Threshold level:"},
    {"Frame.Do Frame", "Draw a solid frame"},
    {"Frame.Solid Left", "Left width:"},
    {"Frame.Solid Right", "Right width:"},
    {"Frame.Solid Top", "Top width:"},
    {"Frame.Solid Bottom", "Bottom width:"},
    {"Frame.Solid Left Color", "Left color:"},
    {"Frame.Solid Right Color", "Right color:"},
    {"Frame.Solid Top Color", "Top color:"},
    {"Frame.Solid Bottom Color", "Bottom color:"},
    {"Frame.Solid Opacity", "Opacity (0..255):"},
    {"Watermark.Do Watermark", "Watermark:"},
    {"Watermark.Text", "Text:"},
    {"Watermark.Fonts", "Font list:"},
    {"Watermark.Font", "Font:"},
    {"Watermark.Font Size", "Size:"},
    {"Watermark.Font Leading", "Line spacing:"},
    {"Watermark.Font Colors", "Text color palette:"},
    {"Watermark.Font Color", "Text color:"},
    {"Watermark.Font Style", "Style:"},
    {"Watermark.Font Effect", "Effect:"},
    {"Watermark.Text Antialiasing", "Smooth text (antialiasing)"},
    {"Watermark.Text Alignment", "Alignment:"},
    {"Watermark.Text Padding", "Padding:"},
    {"Watermark.Text Opacity", "Text opacity (0..255):"},
    {"Watermark.Back Colors", "Background color palette:"},
    {"Watermark.Back Color", "Background color:"},
    {"Watermark.Back Opacity", "Background opacity (0..255):"},
    {"Watermark.Text Boundary", "Place relative to:"},
    {"Watermark.Text Position", "Position:"},
    {"Watermark.Text X Offset", "Horizontal offset:"},
    {"Watermark.Text Y Offset", "Vertical offset:"},
    {"Watermark.Text Rotation", "Rotation (degrees):"},
    {"Watermark.Text Size", "Size mode:"},
    {"Watermark.Text Scale", "Scale:"},
    {"Watermark.Image", "Image file:"},
    {"Watermark.Image Greyscale", "Greyscale image"},
    {"Watermark.Image Opacity", "Image opacity (0..255):"},
    {"Watermark.Image Boundary", "Place relative to:"},
    {"Watermark.Image Position", "Position:"},
    {"Watermark.Image X Offset", "Horizontal offset:"},
    {"Watermark.Image Y Offset", "Vertical offset:"},
    {"Watermark.Image Rotation", "Rotation (degrees):"},
    {"Watermark.Image Size", "Size mode:"},
    {"Watermark.Image Scale", "Scale:"},
    {"Advanced.Filename Mask", "Output file name mask:"},
    {"Advanced.File Timestamp", "Output file timestamp:"},
    {"Advanced.Custom Timestamp", "Custom date and time:"},
    {"Advanced.Out Folders History", "Remember recent output folders"},
    {"Advanced.Out Folders Number", "Number of recent output folders:"},
    {"Advanced.Keep Subfolders", "Keep the input subfolders"},
    {"Privacy.Clean Recent Files", "Clean the recent files list at exit"},
    {"Choice.AUTO", "Automatic"},
    {"Choice.BGRA", "BGRA"},
    {"Choice.RGBA", "RGBA"},
    {"Choice.8", "8-bit"},
    {"Choice.16", "16-bit"},
    {"Choice.24", "24-bit"},
    {"Choice.48HS", "48-bit (half size)"},
    {"Choice.48", "48-bit"},
    {"Choice.ALL", "All frames"},
    {"Choice.FIRST", "First frame"},
    {"Choice.MIDDLE", "Middle frame"},
    {"Choice.LAST", "Last frame"},
    {"Choice.RANDOM", "Random frame"},
    {"Choice.NONE", "None"},
    {"Choice.LINEAR", "Linear"},
    {"Choice.AL", "Adaptive logarithmic"},
    {"Choice.DRR", "Dynamic range reduction"},
    {"Choice.GD", "Gradient domain"},
    {"Choice.RLE", "RLE"},
    {"Choice.ZIP", "ZIP"},
    {"Choice.PIZ", "PIZ"},
    {"Choice.PXR24", "PXR24"},
    {"Choice.B44", "B44"},
    {"Choice.ZLIB1", "ZLIB (fast)"},
    {"Choice.ZLIB6", "ZLIB (normal)"},
    {"Choice.ZLIB9", "ZLIB (best)"},
    {"Choice.CCITTFAX3", "CCITT Fax 3"},
    {"Choice.CCITTFAX4", "CCITT Fax 4"},
    {"Choice.PACKBITS", "PackBits"},
    {"Choice.DEFLATE", "Deflate"},
    {"Choice.ADOBEDEFLATE", "Adobe Deflate"},
    {"Choice.LZW", "LZW"},
    {"Choice.JPEG", "JPEG"},
    {"Choice.LOGLUV", "LogLuv"},
    {"Choice.EXACT", "Exact"},
    {"Choice.RGB", "RGB"},
    {"Choice.CMYK", "CMYK"},
    {"Choice.LAB", "CIE L*a*b*"},
    {"Choice.LOW", "Low"},
    {"Choice.MEDIUM", "Medium"},
    {"Choice.HIGH", "High"},
    {"Choice.STANDARD", "Standard"},
    {"Choice.SIMPLE", "Simple"},
    {"Choice.OPTIMIZED", "Optimized"},
    {"Choice.PROGRESSIVE", "Progressive"},
    {"Choice.ADVANCED", "Advanced"},
    {"Choice.PIXELS", "Pixels"},
    {"Choice.PERCENT", "Percent"},
    {"Choice.ALLIMAGES", "All images"},
    {"Choice.LARGEIMAGES", "Larger images only"},
    {"Choice.BOX", "Box"},
    {"Choice.BILINEAR", "Bilinear"},
    {"Choice.BSPLINE", "B-Spline"},
    {"Choice.BICUBIC", "Bicubic"},
    {"Choice.CATMULLROM", "Catmull-Rom"},
    {"Choice.LANCZOS", "Lanczos"},
    {"Choice.REGULAR", "Regular"},
    {"Choice.BOLD", "Bold"},
    {"Choice.ITALIC", "Italic"},
    {"Choice.BOLDITALIC", "Bold Italic"},
    {"Choice.UNDERLINE", "Underline"},
    {"Choice.STRIKETHROUGHT", "Strikethrough"},
    {"Choice.LEFT", "Left"},
    {"Choice.CENTER", "Center"},
    {"Choice.RIGHT", "Right"},
    {"Choice.IMAGE", "Image"},
    {"Choice.FRAME", "Frame"},
    {"Choice.TOPLEFT", "Top left"},
    {"Choice.TOPCENTER", "Top center"},
    {"Choice.TOPRIGHT", "Top right"},
    {"Choice.MIDDLELEFT", "Middle left"},
    {"Choice.MIDDLECENTER", "Middle center"},
    {"Choice.MIDDLERIGHT", "Middle right"},
    {"Choice.BOTTOMLEFT", "Bottom left"},
    {"Choice.BOTTOMCENTER", "Bottom center"},
    {"Choice.BOTTOMRIGHT", "Bottom right"},
    {"Choice.FIXED", "Fixed"},
    {"Choice.CURRENT", "Current time"},
    {"Choice.ORIGINAL", "Time of the input file"},
    {"Choice.CUSTOM", "Custom date and time"},
    {"Choice.WM NONE", "None"},
    {"Choice.WM TEXT", "Text watermark"},
    {"Choice.WM IMAGE", "Image watermark"},

    {"_GROUP_", "About"},
    {"Title", "About..."},
    {"Version", "Version:"},
    {"Website", "Web:"},
    {"Email", "E-mail:"},

    {"_GROUP_", "Custom-Converter"},
    {"Title", "Find a File Converter"},
    {"From", "From:"},
    {"To", "To:"},
    {"Search", "Search"},

    {"_GROUP_", "Uninstall"},
    {"Title", "Uninstall"},
    {"Uninstall Text", "Full Uninstall - Visit Uninstall Center"},
    {"Next", "Next"},
    // The feedback window of -U.
    {"Feedback Text", "Thank you for trying Tarvel GIF to IMAGE. What made you remove it? Your words go to the makers by e-mail."},
    {"Send", "Send"},

    {"_END_", ""},
};

constexpr char kSeparator = '\x01';
constexpr const char* kNoString = "%NO_STRING_ERROR%";

struct TextGroup {
    std::string name;  // upper case
    int first = 0;
    int last = 0;
    // Slot c: the first entry (in sorted order) whose key begins with the
    // byte c, or 0. Keys are ASCII words, so the first byte is the first
    // character.
    std::array<int, 256> initial{};
};

struct TextTable {
    std::vector<TextGroup> groups;     // slot 0 unused: number 0 means no group
    std::vector<std::string> keys;     // slot 0 unused
    std::vector<std::string> texts;    // slot 0 unused
};

TextTable table;
// The group found by the last lookup, tried first by the next one; 0 after a
// miss. Atomic so that a stray lookup from another thread cannot tear it.
std::atomic<int> current_group{0};

// The built-in texts with the preferences window's captions of each output
// format's settings, which come with the format's row, after "Output.Format".
std::vector<SourcePair> Source(std::deque<std::string>& captions) {
    std::vector<SourcePair> source;
    for (const SourcePair& pair : kSource) {
        source.push_back(pair);
        if (std::string_view(pair.first) != "Output.Format") continue;
        const auto add = [&](std::string key, const std::string& caption) {
            source.push_back({captions.emplace_back("Output." + key).c_str(), captions.emplace_back(caption).c_str()});
        };
        for (const FormatSettings& format : kFormatSettings) {
            add(DepthKey(format), DepthCaption(format));
            for (const EncoderSetting& setting : format.encoder) add(EncoderKey(format, setting), setting.caption);
        }
    }
    return source;
}

int FirstCode(const std::string& key) { return key.empty() ? 0 : static_cast<unsigned char>(key[0]); }

}  // namespace

void BuildTextTable() {
    std::deque<std::string> captions;
    const std::vector<SourcePair> source = Source(captions);
    int group_count = 0;
    int entry_count = 0;
    for (const SourcePair& pair : source) {
        const std::string first = ToUpperAscii(pair.first);
        if (first == "_END_") break;
        if (first == "_GROUP_") ++group_count;
        else ++entry_count;
    }

    TextTable built;
    built.groups.resize(static_cast<size_t>(group_count) + 1);
    built.keys.resize(static_cast<size_t>(entry_count) + 1);
    built.texts.resize(static_cast<size_t>(entry_count) + 1);

    int group = 0;
    int entry = 0;
    for (const SourcePair& pair : source) {
        const std::string first = ToUpperAscii(pair.first);
        if (first == "_END_") break;
        if (first == "_GROUP_") {
            if (group > 0) built.groups[group].last = entry;
            ++group;
            built.groups[group].name = ToUpper(pair.second);
            built.groups[group].first = entry + 1;
            built.groups[group].initial.fill(0);
            continue;
        }
        // Entries before the first group have no group to belong to.
        if (group == 0) continue;
        ++entry;
        built.keys[entry] = ToUpper(pair.first) + kSeparator + pair.second;
    }
    if (group > 0) built.groups[group].last = entry;
    built.keys.resize(static_cast<size_t>(entry) + 1);
    built.texts.resize(static_cast<size_t>(entry) + 1);

    for (int g = 1; g <= group; ++g) {
        TextGroup& tg = built.groups[g];
        if (tg.first > tg.last) continue;
        // Sorting the combined strings sorts by key: the separator is lower
        // than any character a key can hold.
        std::sort(built.keys.begin() + tg.first, built.keys.begin() + tg.last + 1);
        int previous_code = -1;
        for (int e = tg.first; e <= tg.last; ++e) {
            std::string& combined = built.keys[e];
            const size_t sep = combined.find(kSeparator);
            built.texts[e] = combined.substr(sep + 1);
            combined.resize(sep);
            const int code = FirstCode(combined);
            if (code != previous_code) tg.initial[static_cast<size_t>(code)] = e;
            previous_code = code;
        }
    }
    table = std::move(built);
    current_group = 0;
}

std::string GetText(std::string_view group, std::string_view key) {
    const std::string wanted_group = ToUpper(group);
    const std::string wanted_key = ToUpper(key);

    int g = current_group.load();
    if (g <= 0 || g >= static_cast<int>(table.groups.size()) || table.groups[g].name != wanted_group) {
        g = 0;
        for (int i = 1; i < static_cast<int>(table.groups.size()); ++i) {
            if (table.groups[i].name == wanted_group) {
                g = i;
                break;
            }
        }
        current_group = g;
        if (g == 0) return kNoString;
    }

    const TextGroup& tg = table.groups[g];
    const int start = tg.initial[static_cast<size_t>(FirstCode(wanted_key))];
    if (start == 0) return kNoString;
    for (int e = start; e <= tg.last; ++e) {
        const int order = wanted_key.compare(table.keys[e]);
        if (order == 0) return table.texts[e];
        if (order < 0) break;
    }
    return kNoString;
}

std::string FormatText(std::string_view text, std::string_view a1, std::string_view a2, std::string_view a3,
                       std::string_view a4) {
    std::string result(text);
    if (result.empty()) return result;
    const std::string_view args[] = {a1, a2, a3, a4};
    // In argument order, so an argument that itself holds a later
    // placeholder is filled by the later argument.
    for (int i = 0; i < 4; ++i) {
        if (args[i].empty()) continue;
        const std::string placeholder = "%s" + std::to_string(i + 1) + "%";
        result = ReplaceAllIgnoreCase(result, placeholder, args[i]);
    }
    return result;
}

int CurrentTextGroup() { return current_group.load(); }

}  // namespace kestrune
