#include "tools/NmrPlot.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#ifdef OSTREL_HAVE_PNG
#include <png.h>
#endif

namespace ostrel::tools {

namespace {

struct Rgb {
  unsigned char r, g, b;
};

constexpr Rgb BACKGROUND{255, 255, 255};
constexpr Rgb INK{0, 0, 0};

class Image {
 public:
  Image(int width, int height) : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height * 3) {
    Fill(0, 0, width, height, BACKGROUND);
  }
  int width() const { return width_; }
  int height() const { return height_; }
  const unsigned char* Row(int y) const { return &pixels_[static_cast<size_t>(y) * width_ * 3]; }
  void Set(int x, int y, Rgb c) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    unsigned char* p = &pixels_[(static_cast<size_t>(y) * width_ + x) * 3];
    p[0] = c.r;
    p[1] = c.g;
    p[2] = c.b;
  }
  void Fill(int x, int y, int w, int h, Rgb c) {
    for (int j = y; j < y + h; ++j) {
      for (int i = x; i < x + w; ++i) Set(i, j, c);
    }
  }

 private:
  int width_, height_;
  std::vector<unsigned char> pixels_;
};

// A 5 x 7 pixel font for the characters the labels use; each row's low 5 bits, top row first.
struct Glyph {
  char c;
  unsigned char rows[7];
};
constexpr Glyph FONT[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}}, {'+', {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}}, {',', {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}},
    {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}}, {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}},
    {'>', {0x08, 0x04, 0x02, 0x01, 0x02, 0x04, 0x08}}, {'<', {0x02, 0x04, 0x08, 0x10, 0x08, 0x04, 0x02}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}}, {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}}, {'a', {0x00, 0x00, 0x0E, 0x01, 0x0F, 0x11, 0x0F}},
    {'b', {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x1E}}, {'d', {0x01, 0x01, 0x0D, 0x13, 0x11, 0x11, 0x0F}},
    {'e', {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E}}, {'h', {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x11}},
    {'i', {0x04, 0x00, 0x0C, 0x04, 0x04, 0x04, 0x0E}}, {'k', {0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12}},
    {'l', {0x0C, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'m', {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11}},
    {'n', {0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11}}, {'o', {0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E}},
    {'p', {0x00, 0x00, 0x1E, 0x11, 0x1E, 0x10, 0x10}}, {'r', {0x00, 0x00, 0x16, 0x19, 0x10, 0x10, 0x10}},
    {'s', {0x00, 0x00, 0x0E, 0x10, 0x0E, 0x01, 0x1E}}, {'t', {0x08, 0x08, 0x1C, 0x08, 0x08, 0x09, 0x06}},
    {'u', {0x00, 0x00, 0x11, 0x11, 0x11, 0x13, 0x0D}}, {'v', {0x00, 0x00, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'w', {0x00, 0x00, 0x11, 0x11, 0x15, 0x15, 0x0A}}, {'z', {0x00, 0x00, 0x1F, 0x02, 0x04, 0x08, 0x1F}},
};
constexpr int TEXT_SCALE = 2;                    // pixels per font pixel
constexpr int CHAR_ADVANCE = 6 * TEXT_SCALE;     // pixels from one character to the next
constexpr int TEXT_HEIGHT = 7 * TEXT_SCALE;      // pixels

int TextWidth(const std::string& text) { return static_cast<int>(text.size()) * CHAR_ADVANCE - TEXT_SCALE; }

// Draws `text` with its top left corner at (x, y); characters the font lacks are left blank.
void DrawText(Image& image, int x, int y, const std::string& text) {
  for (char c : text) {
    for (const Glyph& g : FONT) {
      if (g.c != c) continue;
      for (int row = 0; row < 7; ++row) {
        for (int col = 0; col < 5; ++col) {
          if (g.rows[row] & (0x10 >> col)) image.Fill(x + col * TEXT_SCALE, y + row * TEXT_SCALE, TEXT_SCALE, TEXT_SCALE, INK);
        }
      }
    }
    x += CHAR_ADVANCE;
  }
}

// The colour of a ratio in dB: blues that lighten towards 0 dB, then a jump to yellow, orange and
// red that darkens towards PLOT_HIGH_DB, so that the audible cells stand out at a glance.
Rgb Colour(double db) {
  struct Stop {
    double db;
    Rgb c;
  };
  static const Stop INAUDIBLE[] = {{PLOT_LOW_DB, {16, 20, 64}}, {-20.0, {40, 84, 170}}, {-6.0, {120, 170, 220}},
                                   {0.0, {215, 228, 238}}};
  static const Stop AUDIBLE[] = {{0.0, {255, 232, 80}}, {6.0, {250, 150, 30}}, {12.0, {215, 40, 30}},
                                 {PLOT_HIGH_DB, {110, 0, 50}}};
  db = std::min(std::max(db, PLOT_LOW_DB), PLOT_HIGH_DB);
  const Stop* stops = db > 0.0 ? AUDIBLE : INAUDIBLE;
  for (int i = 0; i < 3; ++i) {
    if (db <= stops[i + 1].db) {
      const double t = (db - stops[i].db) / (stops[i + 1].db - stops[i].db);
      auto mix = [t](unsigned char a, unsigned char b) { return static_cast<unsigned char>(std::lround(a + t * (b - a))); };
      return {mix(stops[i].c.r, stops[i + 1].c.r), mix(stops[i].c.g, stops[i + 1].c.g), mix(stops[i].c.b, stops[i + 1].c.b)};
    }
  }
  return stops[3].c;
}

std::string FormatHz(double hz) {
  char text[16];
  if (hz < 1000.0) {
    std::snprintf(text, sizeof text, "%.0f", hz);
  } else if (hz < 10000.0) {
    std::snprintf(text, sizeof text, "%.1fk", hz / 1000.0);
  } else {
    std::snprintf(text, sizeof text, "%.0fk", hz / 1000.0);
  }
  return text;
}

// A tick step in seconds that puts at most about 10 ticks on `seconds`.
double TimeStep(double seconds) {
  static const double STEPS[] = {0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 1200, 3600};
  for (double s : STEPS) {
    if (seconds / s <= 10.0) return s;
  }
  return 7200.0;
}

[[maybe_unused]] Image Render(const NmrMap& map, const PerceptualModel& model) {
  constexpr int MAX_COLUMNS = 1200;  // columns of the plot area; longer files take the worst of several frames
  constexpr int TARGET_WIDTH = 900;  // pixels the plot area aims at
  constexpr int BAND_HEIGHT = 16;    // pixels per Bark band
  constexpr int LEFT = 90, RIGHT = 120, TOP = 58, BOTTOM = 56;  // margins, pixels
  const int framesPerColumn = (map.frames + MAX_COLUMNS - 1) / MAX_COLUMNS;
  const int columns = (map.frames + framesPerColumn - 1) / framesPerColumn;
  const int columnWidth = std::max(1, TARGET_WIDTH / columns);
  const int plotW = columns * columnWidth, plotH = map.bands * BAND_HEIGHT;
  Image image(LEFT + plotW + RIGHT, TOP + plotH + BOTTOM);

  DrawText(image, LEFT, 10, "NMR per Bark band (dB), >0 dB audible");
  for (int c = 0; c < columns; ++c) {
    for (int b = 0; b < map.bands; ++b) {
      double worst = 0.0;
      for (int f = c * framesPerColumn; f < std::min(map.frames, (c + 1) * framesPerColumn); ++f) {
        worst = std::max(worst, map.At(f, b));
      }
      image.Fill(LEFT + c * columnWidth, TOP + plotH - (b + 1) * BAND_HEIGHT, columnWidth, BAND_HEIGHT,
                 Colour(RatioDb(worst)));
    }
  }
  // Frame: a one-pixel line around the plot area.
  image.Fill(LEFT - 1, TOP - 1, plotW + 2, 1, INK);
  image.Fill(LEFT - 1, TOP + plotH, plotW + 2, 1, INK);
  image.Fill(LEFT - 1, TOP - 1, 1, plotH + 2, INK);
  image.Fill(LEFT + plotW, TOP - 1, 1, plotH + 2, INK);

  // Bands: the lower edge of every other band, in Hz.
  DrawText(image, LEFT - 6 - TextWidth("Hz"), TOP - TEXT_HEIGHT - 4, "Hz");
  for (int b = 0; b < map.bands; b += 2) {
    const int y = TOP + plotH - b * BAND_HEIGHT;
    image.Fill(LEFT - 5, y - 1, 4, 1, INK);
    const std::string label = FormatHz(b == 0 ? 0.0 : model.BandLowHz(b));
    DrawText(image, LEFT - 8 - TextWidth(label), y - TEXT_HEIGHT / 2 - 1, label);
  }

  // Time: frame f is centred on f * frameSeconds.
  const double seconds = map.frames * map.frameSeconds;
  const double step = TimeStep(seconds);
  const double pixelsPerSecond = plotW / seconds;
  for (int i = 0; i * step <= seconds + 1e-9; ++i) {
    const int x = LEFT + static_cast<int>(std::lround((i * step + map.frameSeconds / 2.0) * pixelsPerSecond));
    if (x >= LEFT + plotW) break;
    image.Fill(x, TOP + plotH + 1, 1, 5, INK);
    char label[16];
    std::snprintf(label, sizeof label, "%g", i * step);
    DrawText(image, x - TextWidth(label) / 2, TOP + plotH + 9, label);
  }
  DrawText(image, LEFT + plotW / 2 - TextWidth("time (s)") / 2, TOP + plotH + 9 + TEXT_HEIGHT + 8, "time (s)");

  // Colour scale: PLOT_LOW_DB at the bottom to PLOT_HIGH_DB at the top, labelled every 10 dB.
  const int barX = LEFT + plotW + 24, barW = 20;
  for (int y = 0; y < plotH; ++y) {
    const double db = PLOT_HIGH_DB - (PLOT_HIGH_DB - PLOT_LOW_DB) * (y + 0.5) / plotH;
    image.Fill(barX, TOP + y, barW, 1, Colour(db));
  }
  DrawText(image, barX, TOP - TEXT_HEIGHT - 4, "dB");
  for (double db = PLOT_LOW_DB; db <= PLOT_HIGH_DB + 1e-9; db += 10.0) {
    const int y = TOP + static_cast<int>(std::lround((PLOT_HIGH_DB - db) / (PLOT_HIGH_DB - PLOT_LOW_DB) * (plotH - 1)));
    image.Fill(barX + barW, y, 4, 1, INK);
    char label[16];
    std::snprintf(label, sizeof label, "%+.0f", db);
    DrawText(image, barX + barW + 7, y - TEXT_HEIGHT / 2, db == 0.0 ? "0" : label);
  }
  return image;
}

#ifdef OSTREL_HAVE_PNG
// Writes `image` to `file`; false when libpng or the file fails.
bool WritePng(const Image& image, std::FILE* file) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width()), static_cast<png_uint_32>(image.height()), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < image.height(); ++y) png_write_row(png, image.Row(y));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}
#endif

}  // namespace

#ifdef OSTREL_HAVE_PNG
bool PlotAvailable() { return true; }

bool WriteNmrPlot(const NmrMap& map, const PerceptualModel& model, const std::string& path, std::string* error) {
  if (map.frames == 0 || map.bands == 0) {
    *error = "there is nothing to plot (the source holds no samples)";
    return false;
  }
  const Image image = Render(map, model);
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(&temp[0]);
  if (fd < 0) {
    *error = "cannot create a file beside " + path + ": " + std::strerror(errno);
    return false;
  }
  // mkstemp makes the file private; the plot gets the permissions of any new file.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  errno = 0;
  std::FILE* file = fdopen(fd, "wb");
  bool ok = file != nullptr && WritePng(image, file);
  if (file != nullptr) {
    ok = std::fflush(file) == 0 && !std::ferror(file) && ok;
    ok = std::fclose(file) == 0 && ok;
  } else {
    close(fd);
  }
  if (ok && std::rename(temp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    *error = std::string("cannot write ") + path + (errno ? std::string(": ") + std::strerror(errno) : "");
    std::remove(temp.c_str());
  }
  return ok;
}
#else
bool PlotAvailable() { return false; }

bool WriteNmrPlot(const NmrMap& map, const PerceptualModel& model, const std::string& path, std::string* error) {
  (void)map;
  (void)model;
  (void)path;
  *error = "plotting is not available: this build has no libpng (install libpng-dev and reconfigure)";
  return false;
}
#endif

}  // namespace ostrel::tools
