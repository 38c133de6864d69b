#include "imaging/frame.h"

#include <mutex>
#include <string>

#include "imaging/colour.h"
#include "imaging/layer_cache.h"
#include "platform/drawing.h"

namespace kestrune {
namespace {

DrawColour Opaque(const std::string& text) {
    const Rgb c = ParseColour(text);
    return {c.red, c.green, c.blue, 255};
}

std::string Num(long long v) { return std::to_string(v); }

// Layer A holds the opaque bands, B takes A with the frame opacity; B as a
// 32-bit bitmap is what gets composited.
Bitmap RenderFrameLayer(const FrameLayerKey& k) {
    // Sums of widths near the 32-bit limit must not wrap: a band wider than
    // the image covers it whatever its width.
    const long long W = k.width, H = k.height, L = k.left, R = k.right, T = k.top, B = k.bottom;
    Surface a = CreateLayer(k.width, k.height);
    if (!a) return {};
    if (Drawing cr = StartDrawing(a.get())) {
        const DrawColour top = Opaque(k.top_colour), right = Opaque(k.right_colour);
        const DrawColour bottom = Opaque(k.bottom_colour), left = Opaque(k.left_colour);
        // Corner boxes first: they lie under the mitred seams, so the
        // antialiased diagonal blends the two band colours and never lets the
        // image show through.
        AddBox(cr.get(), 0, 0, L, T);
        FillPath(cr.get(), top);
        AddBox(cr.get(), static_cast<double>(W - R), 0, R, T);
        FillPath(cr.get(), right);
        AddBox(cr.get(), static_cast<double>(W - R), static_cast<double>(H - B), R, B);
        FillPath(cr.get(), bottom);
        AddBox(cr.get(), 0, static_cast<double>(H - B), L, B);
        FillPath(cr.get(), left);
        // A difference that turns negative keeps its own sign after the
        // literal "-", and the path reader takes "--" as a plus: bands wider
        // than the image then run backwards and overlap, still filled.
        AddPathText(cr.get(), "M 0 0 l " + Num(W) + " 0 l -" + Num(R) + " " + Num(T) + " l -" + Num(W - L - R) +
                                  " 0 Z");
        FillPath(cr.get(), top);
        AddPathText(cr.get(), "M " + Num(W) + " 0 l 0 " + Num(H) + " l -" + Num(R) + " -" + Num(B) + " l 0 -" +
                                  Num(H - T - B) + " Z");
        FillPath(cr.get(), right);
        AddPathText(cr.get(), "M " + Num(W) + " " + Num(H) + " l -" + Num(W) + " 0 l " + Num(L) + " -" + Num(B) +
                                  " l " + Num(W - L - R) + " 0 Z");
        FillPath(cr.get(), bottom);
        AddPathText(cr.get(), "M 0 " + Num(H) + " l 0 -" + Num(H) + " l " + Num(L) + " " + Num(T) + " l 0 " +
                                  Num(H - T - B) + " Z");
        FillPath(cr.get(), left);
    }
    Surface b = CreateLayer(k.width, k.height);
    if (!b) return {};
    {
        Drawing cr = StartDrawing(b.get());
        if (!cr) return {};
        PaintLayer(cr.get(), a.get(), 0, 0, k.opacity);
    }
    return BitmapFromLayer(b.get());
}

}  // namespace

Bitmap DrawSolidFrame(Bitmap image, const FrameContext& context) {
    const Settings& s = context.settings;
    if (s.do_frame == 0 || !image) return image;
    if (BppOf(image) != 24 || FreeImage_GetImageType(image.get()) != FIT_BITMAP) {
        image.reset(FreeImage_ConvertTo24Bits(image.get()));
        if (!image) return image;
    }
    if (s.do_frame != 1) return image;
    // The layer has to match the bitmap for the compositing to take it.
    const FrameLayerKey key{WidthOf(image),
                       HeightOf(image),
                       s.solid_left,
                       s.solid_right,
                       s.solid_top,
                       s.solid_bottom,
                       s.solid_left_color,
                       s.solid_right_color,
                       s.solid_top_color,
                       s.solid_bottom_color,
                       s.solid_opacity};
    // A batch of same-sized frames draws the layer once.
    SharedLayer layer;
    if (LayerCache* cache = context.layers) {
        std::lock_guard lock(cache->mutex);
        if (!cache->frame_layer || !(cache->frame_key == key)) {
            cache->frame_layer = ShareLayer(RenderFrameLayer(key));
            cache->frame_key = key;
        }
        layer = cache->frame_layer;
    } else {
        layer = ShareLayer(RenderFrameLayer(key));
    }
    if (!layer) return image;
    return Bitmap(FreeImage_Composite(layer.get(), FALSE, nullptr, image.get()));
}

}  // namespace kestrune
