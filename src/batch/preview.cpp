#include "batch/preview.h"

#include <unistd.h>

#include <algorithm>
#include <new>

#include "batch/naming.h"
#include "formats/loading.h"
#include "formats/saving.h"
#include "imaging/pipeline.h"
#include "imaging/watermark.h"

namespace kestrune {
namespace {

std::string FontKey(const Settings& s) {
    return s.font + '\n' + std::to_string(s.font_size) + '\n' + std::to_string(s.font_style) + '\n' +
           std::to_string(s.font_effect);
}

void Render(const PreviewRequest& request, PreviewCache& cache, PreviewFrame& out) {
    LayerCache& layers = cache.layers;
    const Settings& s = request.settings;
    BatchState state = request.state;
    FrameSource source = OpenFrameSource(state.current_input);
    if (source.frame_count == 0) {
        out.failure = access(state.current_input.c_str(), R_OK) == 0 ? FailureReason::NotDecodable
                                                                       : FailureReason::CannotOpen;
        return;
    }
    const auto [first, last] = SelectFrameRange(source.frame_count, s.gif_frame_loading);
    out.frames_taken = last - first + 1;
    out.frame_number = std::clamp(request.frame, 0, out.frames_taken - 1);
    out.frame_index = first + out.frame_number;
    const bool numbered = s.gif_frame_loading == 0 && source.frame_count > 1;

    Bitmap image = TakeFrame(source, out.frame_index);
    if (!image) {
        out.failure = FailureReason::FrameLost;
        return;
    }
    out.before = Bitmap(FreeImage_Clone(image.get()));
    // The font follows the settings being edited.
    if (s.do_watermark == kTextWatermark && (cache.font != FontKey(s) || !IsWatermarkFontLoaded(layers))) {
        LoadWatermarkFont(layers, s);
        cache.font = FontKey(s);
    }

    // As the worker does for each frame.
    const FrameFormat format = OutputFrameFormat(state.conversion, s);
    FrameContext context(s);
    context.format = format;
    context.layers = &layers;
    state.source_bpp = BppOf(image);
    state.target_bpp = FrameBitDepth(format, state.source_bpp);
    context.format.bpp = state.target_bpp;
    context.tokens = FileTokens(state);
    const FrameStep* emptied_by = nullptr;
    out.after = RunFramePipeline(std::move(image), context, &emptied_by);
    state.output_width = context.width;
    state.output_height = context.height;
    state.output_path = BuildOutputPath(state, s);
    out.output_path = numbered ? FramePath(state.output_path, out.frame_index, state.conversion) : state.output_path;
    out.bpp = state.target_bpp;
    if (!out.after) {
        out.failure = StepRefusal(emptied_by ? emptied_by->name : nullptr);
        return;
    }
    out.width = WidthOf(out.after);
    out.height = HeightOf(out.after);
}

}  // namespace

PreviewFrame RenderPreview(const PreviewRequest& request, PreviewCache& cache) {
    PreviewFrame out;
    try {
        Render(request, cache, out);
    } catch (const std::bad_alloc&) {
        out.after.reset();
        out.failure = FailureReason::OutOfMemory;
    }
    return out;
}

}  // namespace kestrune
