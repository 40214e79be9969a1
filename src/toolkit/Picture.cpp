#include "toolkit/Picture.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

namespace toolkit {

namespace {

// Larger pictures are refused rather than allocated: nothing we ship comes
// near this, and a corrupt header must not cost gigabytes.
constexpr int kMaxSide = 8192;

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

// libjpeg's default handler exits the process; ours unwinds to the decoder.
void jpegErrorExit(j_common_ptr cinfo) {
  JpegError* err = reinterpret_cast<JpegError*>(cinfo->err);
  std::longjmp(err->jump, 1);
}

void jpegSilence(j_common_ptr, int) {}
void jpegNoOutput(j_common_ptr) {}

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

Picture::Picture(int width, int height, Rgb fill) {
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return;
  width_ = width;
  height_ = height;
  pixels_.resize(static_cast<size_t>(width) * height * 3);
  // One row, then copies of it.
  for (int x = 0; x < width; ++x) setPixel(x, 0, fill);
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  for (int y = 1; y < height; ++y) std::memcpy(&pixels_[rowBytes * y], &pixels_[0], rowBytes);
}

void Picture::clear() {
  width_ = 0;
  height_ = 0;
  pixels_.clear();
}

bool Picture::loadJpeg(const uint8_t* data, size_t size) {
  clear();
  if (!data || size == 0 || size > 0x7FFFFFFFu) return false;

  jpeg_decompress_struct cinfo;
  JpegError err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = jpegErrorExit;
  err.mgr.emit_message = jpegSilence;
  err.mgr.output_message = jpegNoOutput;
  // Everything that must survive a longjmp lives outside this frame's
  // registers: the pixel vector is a member, the struct is on the stack and
  // not modified between setjmp and longjmp in a way we read afterwards.
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    clear();
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, const_cast<unsigned char*>(data), static_cast<unsigned long>(size));
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  if (cinfo.image_width == 0 || cinfo.image_height == 0 || cinfo.image_width > static_cast<unsigned>(kMaxSide) ||
      cinfo.image_height > static_cast<unsigned>(kMaxSide)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_components != 3) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  const int w = static_cast<int>(cinfo.output_width);
  const int h = static_cast<int>(cinfo.output_height);
  try {
    pixels_.assign(static_cast<size_t>(w) * h * 3, 0);
  } catch (...) {
    // Out of memory: the decoder's own memory goes before the caller hears.
    jpeg_destroy_decompress(&cinfo);
    throw;
  }
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rowPtr = &pixels_[static_cast<size_t>(cinfo.output_scanline) * w * 3];
    jpeg_read_scanlines(&cinfo, &rowPtr, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  width_ = w;
  height_ = h;
  return true;
}

bool Picture::loadBmp(const uint8_t* data, size_t size) {
  clear();
  constexpr size_t kFileHeader = 14;
  if (!data || size < kFileHeader + 40 || data[0] != 'B' || data[1] != 'M') return false;
  const uint32_t pixelOffset = le32(data + 10);
  const uint8_t* info = data + kFileHeader;
  const uint32_t infoSize = le32(info);
  if (infoSize < 40 || infoSize > size - kFileHeader) return false;
  const int32_t w = static_cast<int32_t>(le32(info + 4));
  const int32_t rawH = static_cast<int32_t>(le32(info + 8));
  const uint16_t planes = le16(info + 12);
  const uint16_t bits = le16(info + 14);
  const uint32_t compression = le32(info + 16);
  if (planes != 1 || bits != 24 || compression != 0) return false;
  if (w <= 0 || w > kMaxSide || rawH == 0 || rawH < -kMaxSide || rawH > kMaxSide) return false;
  const bool bottomUp = rawH > 0;
  const int h = bottomUp ? rawH : -rawH;
  const size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~static_cast<size_t>(3);
  // The last row needs only its pixels, not its padding.
  if (pixelOffset > size || size - pixelOffset < stride * (h - 1) + static_cast<size_t>(w) * 3) return false;

  pixels_.resize(static_cast<size_t>(w) * h * 3);
  width_ = w;
  height_ = h;
  for (int y = 0; y < h; ++y) {
    const int srcRow = bottomUp ? h - 1 - y : y;
    const uint8_t* src = data + pixelOffset + stride * srcRow;
    for (int x = 0; x < w; ++x) setPixel(x, y, Rgb{src[x * 3 + 2], src[x * 3 + 1], src[x * 3]});
  }
  return true;
}

void copyAsXrgb(const Picture& picture, const Rect& area, uint32_t* dst) {
  const Rect clipped = area.intersected(Rect::ofSize(0, 0, picture.width(), picture.height()));
  const size_t width = static_cast<size_t>(picture.width());
  for (int y = clipped.top; y < clipped.bottom; ++y) {
    const uint8_t* src = picture.row(y) + clipped.left * 3;
    uint32_t* out = dst + y * width + clipped.left;
    for (int x = clipped.left; x < clipped.right; ++x, src += 3)
      *out++ = (uint32_t{src[0]} << 16) | (uint32_t{src[1]} << 8) | src[2];
  }
}

}  // namespace toolkit
