// Picture scaling in whole numbers, one axis at a time. Each output pixel
// along an axis has a first input pixel and integer weights; the weights of
// every output pixel add up to the same sum, so one division at the end
// gives the average. tools/pictures/make_pictures.py does the same sums for
// the tests' reference pictures.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "toolkit/Picture.h"

namespace toolkit {

namespace {

struct Taps {
  std::vector<int> first;    // per output pixel: its first input pixel
  std::vector<int> start;    // per output pixel, and one more: where its weights begin in weights
  std::vector<int64_t> weights;
  int64_t sum = 1;           // what each output pixel's weights add up to

  Taps(int src, int dst) {
    first.reserve(dst);
    start.reserve(dst + 1);
    for (int i = 0; i < dst; ++i) {
      start.push_back(static_cast<int>(weights.size()));
      if (dst == src) {
        first.push_back(i);
        weights.push_back(1);
      } else if (dst < src) {
        // Output pixel i covers input [i src, (i + 1) src) in units of
        // 1 / dst; each input pixel weighs the length it shares with that.
        const int64_t lo = int64_t{i} * src, hi = lo + src;
        const int j0 = static_cast<int>(lo / dst);
        first.push_back(j0);
        for (int64_t j = j0; j * dst < hi; ++j)
          weights.push_back(std::min(hi, (j + 1) * dst) - std::max(lo, j * dst));
      } else {
        // The output pixel's centre, counted in 1 / (2 dst) input pixels
        // from the first input pixel's centre; the edges repeat.
        const int64_t at = int64_t{2 * i + 1} * src - dst;
        int64_t j0 = 0, frac = 0;
        if (at > 0) {
          j0 = at / (2 * int64_t{dst});
          frac = at % (2 * int64_t{dst});
        }
        if (j0 >= src - 1) j0 = src - 1, frac = 0;
        first.push_back(static_cast<int>(j0));
        weights.push_back(2 * int64_t{dst} - frac);
        if (frac) weights.push_back(frac);
      }
    }
    start.push_back(static_cast<int>(weights.size()));
    sum = dst == src ? 1 : dst < src ? src : 2 * int64_t{dst};
  }
};

// One plane of whole numbers, width x height, scaled to the taps' sizes:
// sums of input times the weights of both axes.
std::vector<int64_t> scalePlane(const std::vector<int64_t>& in, int width, int height, const Taps& xs,
                                const Taps& ys) {
  const size_t outW = xs.first.size(), outH = ys.first.size();
  std::vector<int64_t> rows(outW * height);
  for (int y = 0; y < height; ++y) {
    const int64_t* src = &in[static_cast<size_t>(y) * width];
    int64_t* dst = &rows[static_cast<size_t>(y) * outW];
    for (size_t i = 0; i < outW; ++i) {
      int64_t acc = 0;
      const int64_t* s = src + xs.first[i];
      for (int k = xs.start[i]; k < xs.start[i + 1]; ++k) acc += xs.weights[k] * *s++;
      dst[i] = acc;
    }
  }
  std::vector<int64_t> out(outW * outH, 0);
  for (size_t o = 0; o < outH; ++o) {
    int64_t* dst = &out[o * outW];
    for (int k = ys.start[o], y = ys.first[o]; k < ys.start[o + 1]; ++k, ++y) {
      const int64_t w = ys.weights[k];
      const int64_t* src = &rows[static_cast<size_t>(y) * outW];
      for (size_t i = 0; i < outW; ++i) dst[i] += w * src[i];
    }
  }
  return out;
}

}  // namespace

Picture resampled(const Picture& picture, int width, int height, const Rgb* key) {
  if (picture.empty() || width <= 0 || height <= 0) return Picture();
  const int w = picture.width(), h = picture.height();
  const Taps xs(w, width), ys(h, height);
  const int64_t total = xs.sum * ys.sum;
  Picture out(width, height);
  if (out.empty()) return out;
  // Key pixels weigh nothing: the colour planes are multiplied by an alpha
  // plane (0 at the key, 1 elsewhere), which is scaled alongside.
  auto plane = [&](int channel) {
    std::vector<int64_t> p(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const Rgb c = picture.pixel(x, y);
        const int64_t a = key && c == *key ? 0 : 1;
        p[static_cast<size_t>(y) * w + x] = channel == 0 ? c.r * a : channel == 1 ? c.g * a : channel == 2 ? c.b * a : a;
      }
    return scalePlane(p, w, h, xs, ys);
  };
  if (!key) {
    // One plane at a time: the sums of a large picture take room.
    for (int channel = 0; channel < 3; ++channel) {
      const std::vector<int64_t> sums = plane(channel);
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
          const uint8_t v = static_cast<uint8_t>((sums[static_cast<size_t>(y) * width + x] + total / 2) / total);
          Rgb c = out.pixel(x, y);
          (channel == 0 ? c.r : channel == 1 ? c.g : c.b) = v;
          out.setPixel(x, y, c);
        }
    }
    return out;
  }
  const std::vector<int64_t> r = plane(0), g = plane(1), b = plane(2), alpha = plane(3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const size_t i = static_cast<size_t>(y) * width + x;
      const int64_t a = alpha[i];
      // Less than half picture: a hole.
      if (2 * a < total) {
        out.setPixel(x, y, *key);
        continue;
      }
      auto avg = [a](int64_t sum) { return static_cast<uint8_t>((sum + a / 2) / a); };
      Rgb c{avg(r[i]), avg(g[i]), avg(b[i])};
      if (c == *key) c.b ^= 1;  // picture, so never the key
      out.setPixel(x, y, c);
    }
  return out;
}

}  // namespace toolkit
