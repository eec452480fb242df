// PNG decoding through libpng, from memory. libpng reports errors by a long
// jump; the jump lands in decodeInto, whose only locals are the library
// handles, so no C++ object is skipped. Reads past the end of the buffer
// become library errors.
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include "media/Decoders.h"

namespace nb {

namespace {

struct PngSource {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

void readFromMemory(png_structp png, png_bytep out, png_size_t n) {
    auto* src = static_cast<PngSource*>(png_get_io_ptr(png));
    if (n > src->size - src->pos) png_error(png, "truncated");
    std::memcpy(out, src->data + src->pos, n);
    src->pos += n;
}

[[noreturn]] void onError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void onWarning(png_structp, png_const_charp) {}

// Decoding state owned by the caller, so that a long jump out of libpng
// leaves nothing to destroy here.
struct PngJob {
    PngSource src;
    Bitmap interlaced;  // the whole picture, when it comes in several passes
    std::vector<png_bytep> rows;
};

bool decodeInto(png_structp png, png_infop info, PngJob& job, PictureRows& out) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_read_fn(png, &job.src, readFromMemory);
    png_set_user_limits(png, kMaxPictureSide, kMaxPictureSide);
    png_set_chunk_malloc_max(png, png_alloc_size_t(64) << 20);
    png_read_info(png, info);

    png_uint_32 w = 0, h = 0;
    int depth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(png, info, &w, &h, &depth, &colorType, &interlace, nullptr, nullptr);
    if (!PictureSizeAcceptable(w, h)) return false;

    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (depth == 16) png_set_strip_16(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(w) * 4) return false;

    static const std::vector<uint32_t> noPalette;
    if (!out.Begin(int(w), int(h), 32, noPalette)) return false;
    if (passes <= 1) {
        for (png_uint_32 y = 0; y < h; ++y) {
            png_read_row(png, out.Row(int(y)), nullptr);
            out.RowDone(int(y));
        }
    } else {
        // Every pass touches every row, so the rows are complete only at the end.
        job.interlaced.allocate(int(w), int(h), 32);
        job.rows.resize(h);
        for (png_uint_32 y = 0; y < h; ++y)
            job.rows[y] = job.interlaced.pixels.data() + size_t(y) * job.interlaced.stride();
        png_read_image(png, job.rows.data());
        for (png_uint_32 y = 0; y < h; ++y) {
            std::memcpy(out.Row(int(y)), job.rows[y], job.interlaced.stride());
            out.RowDone(int(y));
        }
    }
    // The chunks after the image data are not needed; a file cut after its
    // last image row still gives the whole picture.
    return true;
}

}  // namespace

bool DecodePng(const uint8_t* data, size_t size, PictureRows& out) {
    if (!data || size < 8 || png_sig_cmp(data, 0, 8) != 0) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    PngJob job{PngSource{data, size, 0}, Bitmap{}, {}};
    bool ok = decodeInto(png, info, job, out);
    png_destroy_read_struct(&png, &info, nullptr);
    return ok;
}

bool DecodePng(const uint8_t* data, size_t size, Bitmap& out) {
    BitmapRows rows;
    if (!DecodePng(data, size, rows)) return false;
    out = std::move(rows.bitmap);
    return true;
}

}  // namespace nb
