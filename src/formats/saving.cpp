#include "formats/saving.h"

#include <IL/il.h>
#include <IL/ilu.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "formats/bmp_writer.h"
#include "formats/ico_writer.h"
#include "formats/j2k_writer.h"
#include "formats/jxr_writer.h"
#include "formats/little_endian.h"
#include "formats/pfm_writer.h"
#include "formats/png_writer.h"
#include "formats/registry.h"
#include "platform/files.h"
#include "platform/temporary_files.h"

namespace kestrune {

namespace {

// Every writer writes to the temporary file its caller has just created
// (empty), and opens it without creating it: once a close signal has removed
// it, a writer that gets to it only then fails instead of making it again.
constexpr const char* kExistingFile = "r+b";

bool WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), kExistingFile);
    if (!f) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const bool closed = std::fclose(f) == 0;
    return written && closed;
}

bool SaveOwn(OwnWriter encode, const Bitmap& image, int32_t save_flags, const std::string& path) {
    std::vector<uint8_t> file;
    return encode(image.get(), save_flags, file) && WriteAll(path, file);
}

int Luminance(const RGBQUAD& c) {
    return (2126 * c.rgbRed + 7152 * c.rgbGreen + 722 * c.rgbBlue) / 10000;
}

// FreeImage's PBM, WBMP and PGM writers store pixel indices as they are
// instead of looking them up in the palette: PBM reads a set bit as black,
// WBMP as white, PGM an 8-bit value as its grey level. A frame whose palette
// is ordered otherwise (dithering gives black at index 0, quantizing gives
// colours in any order) would come out inverted or scrambled, so such a
// frame is first brought into the order the format means. Returns an empty
// bitmap when the frame can be written as it is.
Bitmap InFormatPixelOrder(FIBITMAP* image, PixelOrder order) {
    if (order == PixelOrder::AsPalette || FreeImage_GetImageType(image) != FIT_BITMAP) return Bitmap();
    const unsigned bpp = FreeImage_GetBPP(image);
    if (order == PixelOrder::GreyLevel) {
        if (bpp != 8 || FreeImage_GetColorType(image) == FIC_MINISBLACK) return Bitmap();
        return Bitmap(FreeImage_ConvertToGreyscale(image));
    }
    if (bpp != 1) return Bitmap();
    const RGBQUAD* palette = FreeImage_GetPalette(image);
    if (!palette) return Bitmap();
    const bool index_one_darker = Luminance(palette[1]) < Luminance(palette[0]);
    const bool set_bit_is_black = order == PixelOrder::SetBitBlack;
    if (index_one_darker == set_bit_is_black) return Bitmap();
    Bitmap flipped(FreeImage_Clone(image));
    if (!flipped) return Bitmap();
    const unsigned pitch = FreeImage_GetPitch(flipped.get());
    for (unsigned y = 0; y < FreeImage_GetHeight(flipped.get()); ++y) {
        BYTE* row = FreeImage_GetScanLine(flipped.get(), static_cast<int>(y));
        for (unsigned i = 0; i < pitch; ++i) row[i] = static_cast<BYTE>(~row[i]);
    }
    RGBQUAD* swapped = FreeImage_GetPalette(flipped.get());
    std::swap(swapped[0], swapped[1]);
    return flipped;
}

// Most encoders ignore the result of their writes: on a full disk FreeImage's
// PNG and TGA writers, and DevIL's, report success for an empty or cut file.
// Their output therefore goes through a stream that remembers any short
// write, and the final flush and close are checked as well.
struct CheckedFile {
    std::FILE* file = nullptr;
    bool failed = false;
};

unsigned DLL_CALLCONV CheckedRead(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    return static_cast<unsigned>(std::fread(buffer, size, count, static_cast<CheckedFile*>(handle)->file));
}

unsigned DLL_CALLCONV CheckedWrite(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    CheckedFile* f = static_cast<CheckedFile*>(handle);
    // fwrite counts no items written when they are empty; the GIF writer
    // writes an empty block for the smallest images, which is no failure.
    if (size == 0 || count == 0) return count;
    const size_t written = std::fwrite(buffer, size, count, f->file);
    if (written != count) f->failed = true;
    return static_cast<unsigned>(written);
}

int DLL_CALLCONV CheckedSeek(fi_handle handle, long offset, int origin) {
    return std::fseek(static_cast<CheckedFile*>(handle)->file, offset, origin);
}

long DLL_CALLCONV CheckedTell(fi_handle handle) { return std::ftell(static_cast<CheckedFile*>(handle)->file); }

FreeImageIO CheckedFileIO() { return FreeImageIO{CheckedRead, CheckedWrite, CheckedSeek, CheckedTell}; }

// Closes the file; true when every byte written reached it.
bool CloseCheckedFile(CheckedFile& f) {
    const bool flushed = std::fflush(f.file) == 0 && std::ferror(f.file) == 0;
    const bool closed = std::fclose(f.file) == 0;
    f.file = nullptr;
    return !f.failed && flushed && closed;
}

// One save through DevIL, which keeps everything library-wide: its switches,
// the bound image and the file procedures it writes through. DevIL is not
// reentrant, so a session holds the DevIL turn from construction to
// destruction, and a save on another thread waits for it whoever called it.
// The image is generated and bound for the session and deleted on every way
// out, so it never outlives one save.
class DevilSession {
  public:
    DevilSession() : turn_(DevilTurn()) {
        ilEnable(IL_FILE_OVERWRITE);
        ilGenImages(1, &image_);
        ilBindImage(image_);
    }
    ~DevilSession() { ilDeleteImages(1, &image_); }
    DevilSession(const DevilSession&) = delete;
    DevilSession& operator=(const DevilSession&) = delete;

    // Saves the bound image as DevIL's type `type` into the existing file
    // at path; true when DevIL reported success, and opened and closed the
    // file with every byte reaching it.
    //
    // DevIL's writes go through file procedures of the session's own, so
    // that they reach a checked stream too. ilSaveF cannot serve: DevIL
    // 1.7.8 squeezes the byte count it returns into a boolean, so a file
    // whose length is a multiple of 256 would count as failed. DevIL calls
    // its procedures without a context: Open finds the session through
    // `writing_`, set only while this session saves, and hands DevIL the
    // session as the handle the other procedures get back.
    bool Save(ILenum type, const std::string& path) {
        file_ = CheckedFile{};
        closed_ = false;
        writing_ = this;
        ilSetWrite(Open, Close, Putc, Seek, Tell, Write);
        const bool encoded = ilSave(type, path.c_str()) != IL_FALSE;
        ilResetWrite();
        writing_ = nullptr;
        // A file DevIL left open counts as incomplete.
        if (file_.file) CloseCheckedFile(file_);
        return encoded && closed_;
    }

  private:
    static std::mutex& DevilTurn() {
        static std::mutex turn;
        return turn;
    }

    static DevilSession& Of(ILHANDLE handle) { return *static_cast<DevilSession*>(handle); }
    static std::FILE* FileOf(ILHANDLE handle) { return Of(handle).file_.file; }

    static ILHANDLE ILAPIENTRY Open(ILconst_string name) {
        DevilSession& session = *writing_;
        session.file_ = CheckedFile{std::fopen(name, kExistingFile)};
        return session.file_.file ? &session : nullptr;
    }
    static void ILAPIENTRY Close(ILHANDLE handle) {
        if (handle) Of(handle).closed_ = CloseCheckedFile(Of(handle).file_);
    }
    static ILint ILAPIENTRY Putc(ILubyte c, ILHANDLE handle) {
        const int put = std::fputc(c, FileOf(handle));
        if (put == EOF) Of(handle).file_.failed = true;
        return put;
    }
    static ILint ILAPIENTRY Seek(ILHANDLE handle, ILint offset, ILint origin) {
        return std::fseek(FileOf(handle), offset, origin);
    }
    static ILint ILAPIENTRY Tell(ILHANDLE handle) { return static_cast<ILint>(std::ftell(FileOf(handle))); }
    static ILint ILAPIENTRY Write(const void* buffer, ILuint size, ILuint count, ILHANDLE handle) {
        const size_t written = std::fwrite(buffer, size, count, FileOf(handle));
        if (written != count) Of(handle).file_.failed = true;
        return static_cast<ILint>(written);
    }

    // The session whose Save is running; touched only under the turn.
    static inline DevilSession* writing_ = nullptr;

    std::lock_guard<std::mutex> turn_;
    ILuint image_ = 0;
    CheckedFile file_;
    bool closed_ = false;
};

// FreeImage's TIFF writer takes a 32-bit frame with the CMYK flag to hold
// C, M, Y and K already and writes its bytes as they are. The colours are
// therefore separated here (K from the brightest channel, so that a reader's
// (1 - C)(1 - K) gives the colour back); the alpha channel has no place in
// a four-sample CMYK file and is dropped, transparent pixels keeping the
// colour composed under them, as in every other conversion without alpha.
Bitmap SeparatedCmyk(FIBITMAP* image) {
    Bitmap cmyk(FreeImage_Clone(image));
    if (!cmyk) return cmyk;
    const unsigned width = FreeImage_GetWidth(image);
    const unsigned height = FreeImage_GetHeight(image);
    for (unsigned y = 0; y < height; ++y) {
        BYTE* row = FreeImage_GetScanLine(cmyk.get(), static_cast<int>(y));
        for (unsigned x = 0; x < width; ++x) {
            BYTE* p = row + 4 * x;
            const int r = p[FI_RGBA_RED], g = p[FI_RGBA_GREEN], b = p[FI_RGBA_BLUE];
            const int brightest = std::max({r, g, b});
            auto ink = [brightest](int v) {
                return brightest == 0 ? 0 : (255 * (brightest - v) + brightest / 2) / brightest;
            };
            p[0] = static_cast<BYTE>(ink(r));
            p[1] = static_cast<BYTE>(ink(g));
            p[2] = static_cast<BYTE>(ink(b));
            p[3] = static_cast<BYTE>(255 - brightest);
        }
    }
    return cmyk;
}

// FreeImage's run-length BMP writer fills the header's file size and image
// size with the uncompressed sizes, and readers that check them refuse the
// file. Both are set from what was actually written; an uncompressed file
// keeps its (already right) image size.
bool FixBmpSizes(CheckedFile& f) {
    uint8_t header[54];
    if (std::fseek(f.file, 0, SEEK_END) != 0) return false;
    const long size = std::ftell(f.file);
    if (size < 54 || std::fseek(f.file, 0, SEEK_SET) != 0) return false;
    if (std::fread(header, 1, sizeof header, f.file) != sizeof header) return false;
    const uint32_t offset = GetLe32(header + 10);
    const uint32_t compression = GetLe32(header + 30);
    std::vector<uint8_t> fields(4);
    PutLe32(fields, 0, static_cast<uint32_t>(size));
    if (std::fseek(f.file, 2, SEEK_SET) != 0 || std::fwrite(fields.data(), 1, 4, f.file) != 4) return false;
    if (compression == 1 || compression == 2) {
        if (offset > static_cast<uint32_t>(size)) return false;
        PutLe32(fields, 0, static_cast<uint32_t>(size) - offset);
        if (std::fseek(f.file, 34, SEEK_SET) != 0 || std::fwrite(fields.data(), 1, 4, f.file) != 4)
            return false;
    }
    if (compression == 1) {
        std::vector<uint8_t> pixels(static_cast<size_t>(size) - offset);
        if (std::fseek(f.file, offset, SEEK_SET) != 0 ||
            std::fread(pixels.data(), 1, pixels.size(), f.file) != pixels.size())
            return false;
        if (ClearRle8Padding(pixels.data(), pixels.size()) &&
            (std::fseek(f.file, offset, SEEK_SET) != 0 ||
             std::fwrite(pixels.data(), 1, pixels.size(), f.file) != pixels.size()))
            return false;
    }
    return true;
}

bool SaveWithFreeImage(const Bitmap& image, const std::string& path, const OutputFormat& format,
                       const FrameContext& context) {
    if (!image) return false;
    Bitmap reordered = InFormatPixelOrder(image.get(), format.pixel_order);
    if (format.cmyk_flag != 0 && (context.format.save_flags & format.cmyk_flag) && FreeImage_GetBPP(image.get()) == 32 &&
        FreeImage_GetImageType(image.get()) == FIT_BITMAP) {
        reordered = SeparatedCmyk(image.get());
        if (!reordered) return false;
    }
    FIBITMAP* source = reordered ? reordered.get() : image.get();
    std::FILE* file = std::fopen(path.c_str(), kExistingFile);
    if (!file) return false;
    CheckedFile handle{file};
    FreeImageIO io = CheckedFileIO();
    bool encoded = FreeImage_SaveToHandle(static_cast<FREE_IMAGE_FORMAT>(format.writer_id), source, &io, &handle,
                                          context.format.save_flags) != FALSE;
    if (encoded && format.fix_bmp_sizes) encoded = FixBmpSizes(handle);
    return CloseCheckedFile(handle) && encoded;
}

// The own PNG writer where it writes what FreeImage's would; a frame
// carrying more than pixels and resolution goes to FreeImage's.
bool SavePng(const Bitmap& image, const std::string& path, const OutputFormat& format, const FrameContext& context) {
    if (!PngWriterTakes(image.get())) return SaveWithFreeImage(image, path, format, context);
    std::vector<uint8_t> file;
    return EncodePng(image.get(), PngCompressionFor(context.format.save_flags), file) && WriteAll(path, file);
}

// DevIL is fed raw BGR(A) rows, bottom row first (DevIL's default origin is
// the lower left, like FreeImage's).
SaveResult SaveWithDevil(const Bitmap& image, const std::string& path, const OutputFormat& format) {
    if (!image || FreeImage_GetImageType(image.get()) != FIT_BITMAP) return SaveResult::Failed;
    const unsigned bpp = FreeImage_GetBPP(image.get());
    const unsigned channels = bpp == 32 ? 4 : 3;
    const ILenum layout = bpp == 32 ? IL_BGRA : IL_BGR;
    const unsigned width = FreeImage_GetWidth(image.get());
    const unsigned height = FreeImage_GetHeight(image.get());
    if (width == 0 || height == 0) return SaveResult::Failed;

    // DevIL keeps image sizes in 32-bit fields; anything beyond that is a
    // buffer it cannot hold, which ends the whole file like a failed
    // allocation.
    const uint64_t row_length = uint64_t(width) * channels;
    const uint64_t total = row_length * height;
    if (row_length > std::numeric_limits<int>::max() || total > std::numeric_limits<ILuint>::max())
        return SaveResult::GiveUpFile;
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[static_cast<size_t>(total)]);
    if (!buffer) return SaveResult::GiveUpFile;

    FreeImage_ConvertToRawBits(buffer.get(), image.get(), static_cast<int>(row_length), channels * 8,
                               FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK, FALSE);

    DevilSession devil;
    const ILuint depth = static_cast<ILuint>(ilGetInteger(IL_IMAGE_DEPTH));
    if (!ilTexImage(width, height, depth, static_cast<ILubyte>(channels), layout, IL_UNSIGNED_BYTE,
                    buffer.get()))
        return SaveResult::Failed;
    if (format.mipmaps) iluBuildMipmaps();
    return devil.Save(static_cast<ILenum>(format.writer_id), path) ? SaveResult::Saved : SaveResult::Failed;
}

}  // namespace

int32_t SaveFlagsFor(const std::string& extension, const Settings& s) {
    const OutputFormat* format = FindOutputFormat(extension);
    return format ? SaveFlagsOf(*format, s) : 0;
}

FrameFormat OutputFrameFormat(const std::string& id, const Settings& s) {
    FrameFormat format = FrameFormatOf(id, SaveFlagsFor(id, s));
    format.bpp = BitDepthOf(id, s);
    return format;
}

// Every writer produces a temporary file beside the target, which replaces
// the target only once it is complete: a failed encoder then leaves neither
// a truncated file nor a damaged earlier output, and a target that is the
// very input being read is not destroyed while its frames are still needed.
SaveResult SaveFrame(const Bitmap& image, const std::string& target, const FrameContext& context) {
    if (!FindOutputFormat(context.format.id)) return SaveResult::Failed;
    const std::string temporary = CreateTemporaryBeside(target);
    if (temporary.empty()) return SaveResult::Failed;
    const SaveResult result = EncodeFrameInto(image, temporary, context);
    if (result == SaveResult::Saved)
        return PublishFrame(temporary, target, context.format.id) == Published::Done ? result : SaveResult::Failed;
    DiscardTemporaryFile(temporary);
    return result;
}

Published PublishFrame(const std::string& temporary, const std::string& target, const std::string& format_id) {
    const OutputFormat* format = FindOutputFormat(format_id);
    const bool devil = format && format->writer == WriterKind::Devil;
    if (!devil && access(target.c_str(), F_OK) == 0 && access(target.c_str(), W_OK) != 0) {
        DiscardTemporaryFile(temporary);
        return Published::TargetLocked;
    }
    if (PublishTemporaryFile(temporary, target)) return Published::Done;
    DiscardTemporaryFile(temporary);
    return Published::Failed;
}

SaveResult EncodeFrameInto(const Bitmap& image, const std::string& temporary, const FrameContext& context) {
    const Settings& s = context.settings;
    const OutputFormat* format = FindOutputFormat(context.format.id);
    if (!format) return SaveResult::Failed;
    auto saved = [](bool ok) { return ok ? SaveResult::Saved : SaveResult::Failed; };
    SaveResult result;
    const int32_t bpp = image ? static_cast<int32_t>(FreeImage_GetBPP(image.get())) : 0;
    switch (WriterFor(*format, bpp, context.format.save_flags)) {
        case WriterKind::Png:
            result = saved(SavePng(image, temporary, *format, context));
            break;
        case WriterKind::Devil:
            result = SaveWithDevil(image, temporary, *format);
            break;
        case WriterKind::Icon:
            result = saved(SaveOwn(EncodeIcon, image, context.format.save_flags, temporary));
            break;
        case WriterKind::JpegTwoThousand:
            result = saved(SaveJpegTwoThousand(image.get(), temporary, format->jp2_file));
            break;
        case WriterKind::FloatMap:
            result = saved(SaveOwn(EncodePfm, image, context.format.save_flags, temporary));
            break;
        case WriterKind::JpegXr:
            result = saved(SaveJpegXr(image.get(), temporary, kExistingFile));
            break;
        case WriterKind::FreeImage:
        default:
            if (format->exact_colour_table && context.format.bpp == 8 && s.*(format->exact_colour_table) == 1)
                result = saved(SaveOwn(EncodeExactColourTableBmp, image, context.format.save_flags, temporary));
            else
                result = saved(SaveWithFreeImage(image, temporary, *format, context));
            break;
    }
    return result;
}

}  // namespace kestrune
