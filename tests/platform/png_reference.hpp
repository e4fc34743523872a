// The reference reader of PNG data for the conformance test and the PNG fuzzer: libpng, every picture
// expanded to RGBA with 16 bits kept (palette, grey, the transparent colour of tRNS to alpha), then
// rounded to 8 bits, as non-premultiplied 0xAARRGGBB row by row. Empty when libpng refuses the data.
#pragma once

#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace charstack::testing {

inline std::vector<uint32_t> readWithLibpng(const std::string& data) {
  struct State {
    const std::string* data = nullptr;
    size_t at = 0;
    std::vector<std::vector<png_byte>> rows;
    std::vector<png_bytep> pointers;
  };
  // Only the state behind this pointer changes between setjmp and a longjmp of libpng's errors.
  const auto state = std::make_unique<State>();
  state->data = &data;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr,
                                           [](png_structp p, png_const_charp) { png_longjmp(p, 1); },
                                           [](png_structp, png_const_charp) {});
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return {};
  }
  png_set_read_fn(png, state.get(), [](png_structp p, png_bytep out, size_t size) {
    auto* s = static_cast<State*>(png_get_io_ptr(p));
    if (s->data->size() - s->at < size) png_error(p, "the data ends too early");
    std::memcpy(out, s->data->data() + s->at, size);
    s->at += size;
  });
  png_read_info(png, info);
  png_set_expand(png);
  png_set_expand_16(png);
  png_set_gray_to_rgb(png);
  png_set_filler(png, 0xffff, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const size_t width = png_get_image_width(png, info), height = png_get_image_height(png, info);
  state->rows.assign(height, std::vector<png_byte>(width * 8));
  for (auto& r : state->rows) state->pointers.push_back(r.data());
  png_read_image(png, state->pointers.data());
  png_destroy_read_struct(&png, &info, nullptr);
  const auto to8 = [](const png_byte* s) { return uint32_t((unsigned(s[0]) << 8 | s[1]) * 255u + 32767u) / 65535u; };
  std::vector<uint32_t> argb;
  for (const auto& r : state->rows)
    for (size_t x = 0; x < width; ++x)
      argb.push_back(to8(&r[8 * x + 6]) << 24 | to8(&r[8 * x]) << 16 | to8(&r[8 * x + 2]) << 8 | to8(&r[8 * x + 4]));
  return argb;
}

}  // namespace charstack::testing
