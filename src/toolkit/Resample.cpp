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

// n / d rounded down, for 0 <= n < 2^53 and d > 0, through the reciprocal
// (a division per channel and pixel would cost most of the time) and then
// made exact.
inline int64_t divide(int64_t n, int64_t d, double reciprocal) {
  int64_t q = static_cast<int64_t>(static_cast<double>(n) * reciprocal);
  if (q * d > n) --q;
  else if ((q + 1) * d <= n) ++q;
  return q;
}

}  // namespace

Picture resampled(const Picture& picture, int width, int height, const Rgb* key) {
  if (picture.empty() || width <= 0 || height <= 0) return Picture();
  Picture out(width, height);
  if (out.empty()) return out;
  const int w = picture.width(), h = picture.height();
  const Taps xs(w, width), ys(h, height);
  // Per pixel: red, green, blue, and with a key colour an alpha (0 at the
  // key, 1 elsewhere) that also multiplies the colours, so that key pixels
  // weigh nothing.
  const int channels = key ? 4 : 3;
  const size_t rowLength = static_cast<size_t>(width) * channels;
  // Along x, each input row: at most 255 times a weight sum below 2^15 per
  // channel, well inside 32 bits.
  std::vector<int32_t> rows(rowLength * h);
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = picture.row(y);
    int32_t* dst = &rows[rowLength * y];
    for (int i = 0; i < width; ++i, dst += channels) {
      int32_t acc[4] = {0, 0, 0, 0};
      const uint8_t* p = src + 3 * xs.first[i];
      for (int k = xs.start[i]; k < xs.start[i + 1]; ++k, p += 3) {
        const int32_t wk = static_cast<int32_t>(xs.weights[k]);
        if (key && p[0] == key->r && p[1] == key->g && p[2] == key->b) continue;
        acc[0] += wk * p[0];
        acc[1] += wk * p[1];
        acc[2] += wk * p[2];
        acc[3] += wk;
      }
      for (int c = 0; c < channels; ++c) dst[c] = acc[c];
    }
  }
  // Along y, into one output row at a time.
  const int64_t total = xs.sum * ys.sum;
  const double reciprocal = 1.0 / static_cast<double>(total);
  std::vector<int64_t> sums(rowLength);
  for (int o = 0; o < height; ++o) {
    std::fill(sums.begin(), sums.end(), 0);
    for (int k = ys.start[o], y = ys.first[o]; k < ys.start[o + 1]; ++k, ++y) {
      const int64_t wk = ys.weights[k];
      const int32_t* src = &rows[rowLength * y];
      for (size_t i = 0; i < rowLength; ++i) sums[i] += wk * src[i];
    }
    const int64_t* s = sums.data();
    for (int x = 0; x < width; ++x, s += channels) {
      if (!key) {
        auto avg = [=](int64_t sum) { return static_cast<uint8_t>(divide(sum + total / 2, total, reciprocal)); };
        out.setPixel(x, o, Rgb{avg(s[0]), avg(s[1]), avg(s[2])});
        continue;
      }
      const int64_t a = s[3];
      // Less than half picture: a hole.
      if (2 * a < total) {
        out.setPixel(x, o, *key);
        continue;
      }
      auto avg = [a](int64_t sum) { return static_cast<uint8_t>((sum + a / 2) / a); };
      Rgb c{avg(s[0]), avg(s[1]), avg(s[2])};
      if (c == *key) c.b ^= 1;  // picture, so never the key
      out.setPixel(x, o, c);
    }
  }
  return out;
}

}  // namespace toolkit
