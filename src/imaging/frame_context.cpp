#include "imaging/frame_context.h"

namespace kestrune {

TokenValues FrameTokens(const FrameContext& context) {
    TokenValues values = context.tokens;
    values.extension = context.format.id;
    values.bpp = context.format.bpp;
    values.width = context.width;
    values.height = context.height;
    return values;
}

}  // namespace kestrune
