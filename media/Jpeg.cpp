// JPEG decoding through libjpeg, from memory. Library errors long-jump back
// into decodeInto, whose state lives in the caller's JpegJob; warnings (such
// as data that ends early, which the library pads) are silenced and the
// picture is kept.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>
#include <jerror.h>

#include "media/Decoders.h"

namespace nb {

namespace {

// A progressive file can declare an unbounded number of scans, each costing
// a pass over the whole picture; real files use a few dozen.
constexpr int kMaxScans = 1000;

struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

[[noreturn]] void onError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<JpegError*>(cinfo->err);
    longjmp(err->jump, 1);
}
void onMessage(j_common_ptr) {}

void onProgress(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxScans) {
        cinfo->err->msg_code = JERR_UNKNOWN_MARKER;
        cinfo->err->error_exit(cinfo);
    }
}

struct JpegJob {
    jpeg_decompress_struct cinfo;
    JpegError err;
    jpeg_progress_mgr progress;
    std::vector<uint8_t> cmykRow;
};

// CMYK (and YCCK, converted by the library to CMYK) to B, G, R. Files
// written with the Adobe marker store the inks inverted.
void cmykToBgr(const uint8_t* src, uint8_t* dst, int w, bool inverted) {
    for (int x = 0; x < w; ++x) {
        unsigned c = src[4 * x], m = src[4 * x + 1], y = src[4 * x + 2], k = src[4 * x + 3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        dst[3 * x + 0] = uint8_t((y * k + 127) / 255);
        dst[3 * x + 1] = uint8_t((m * k + 127) / 255);
        dst[3 * x + 2] = uint8_t((c * k + 127) / 255);
    }
}

bool decodeInto(JpegJob& job, const uint8_t* data, size_t size, PictureRows& out) {
    if (setjmp(job.err.jump)) return false;
    jpeg_decompress_struct& c = job.cinfo;
    jpeg_mem_src(&c, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&c, TRUE) != JPEG_HEADER_OK) return false;
    if (!PictureSizeAcceptable(c.image_width, c.image_height)) return false;
    const bool cmyk = c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK;
    const bool bgrx = !cmyk && out.WantsBgrx();
    c.out_color_space = cmyk ? JCS_CMYK : bgrx ? JCS_EXT_BGRX : JCS_EXT_BGR;
    jpeg_start_decompress(&c);
    const int w = int(c.output_width), h = int(c.output_height);
    if (!PictureSizeAcceptable(w, h) || c.output_components != (cmyk || bgrx ? 4 : 3)) return false;
    static const std::vector<uint32_t> noPalette;
    if (!out.Begin(w, h, bgrx ? 32 : 24, noPalette)) return false;
    if (cmyk) job.cmykRow.resize(size_t(w) * 4);
    while (c.output_scanline < c.output_height) {
        const int y = int(c.output_scanline);
        uint8_t* dst = out.Row(y);
        JSAMPROW row = cmyk ? job.cmykRow.data() : dst;
        if (jpeg_read_scanlines(&c, &row, 1) != 1) return false;
        if (cmyk) cmykToBgr(job.cmykRow.data(), dst, w, c.saw_Adobe_marker);
        out.RowDone(y);
    }
    // Whatever follows the last scan line is not needed; finishing would
    // only read on to the end marker.
    return true;
}

}  // namespace

bool DecodeJpeg(const uint8_t* data, size_t size, PictureRows& out) {
    if (!data || size < 4) return false;
    JpegJob job{};
    job.cinfo.err = jpeg_std_error(&job.err.mgr);
    job.err.mgr.error_exit = onError;
    job.err.mgr.output_message = onMessage;
    job.progress.progress_monitor = onProgress;
    jpeg_create_decompress(&job.cinfo);
    job.cinfo.progress = &job.progress;
    bool ok = decodeInto(job, data, size, out);
    jpeg_destroy_decompress(&job.cinfo);
    return ok;
}

bool DecodeJpeg(const uint8_t* data, size_t size, Bitmap& out) {
    BitmapRows rows;
    if (!DecodeJpeg(data, size, rows)) return false;
    out = std::move(rows.bitmap);
    return true;
}

}  // namespace nb
