// One frame of one input through the operations, as the batch would convert
// it: what the window's preview shows before and after. The frame after is
// the very bitmap the batch hands to the writer for that frame.
#pragma once

#include <cstdint>
#include <string>

#include "batch/batch_state.h"
#include "batch/file_result.h"
#include "imaging/layer_cache.h"
#include "platform/bitmap.h"
#include "settings/settings.h"

namespace kestrune {

struct PreviewRequest {
    Settings settings;
    // The run's values the names read: conversion (the output format),
    // output folder, the mask's numbers. current_input and
    // current_subfolder name the file shown.
    BatchState state;
    // Which of the frames "GIF Frame Loading" takes: 0 is the first of them.
    int frame = 0;
};

struct PreviewFrame {
    Bitmap before;  // the frame as composed from the GIF, 32 bits
    Bitmap after;   // as handed to the writer; empty when the file fails
    int frame_index = 0;   // in the GIF
    int frame_number = 0;  // among the frames taken, from 0
    int frames_taken = 0;
    int width = 0;
    int height = 0;
    int bpp = 0;
    std::string output_path;  // the name the frame would be saved under
    FailureReason failure = FailureReason::None;
};

// Reads the file and runs the requested frame through the operations.
// `layers` holds the watermark font (loaded here when missing) and the
// frame and watermark layers it draws.
PreviewFrame RenderPreview(const PreviewRequest& request, LayerCache& layers);

}  // namespace kestrune
