// make_bitmaps: draws the four screen bitmaps the program loads from its
// folder at start-up and writes them as uncompressed 24-bit BMP files.
//
//   make_bitmaps OUTDIR MODEL
//
// title.bmp    the start-up picture, with the sample MODEL drawn by the
//              program's own renderer (left out when it cannot be read)
// mouse.bmp    the drawn pointer, colour-keyed by its pixel (5, 0)
// mater2.bmp   the menu panel, its hover looks, the mode markers, the
//              borders, the panel filler and the two start hints, each at
//              the place the panel code blits it from
// topleft.bmp  the projection box's marker, colour-keyed by its pixel (0, 0)
//
// Text is set with pango in DejaVu Sans, so the labels read like any other
// program's on the desktop.

#include <cairo.h>
#include <pango/pangocairo.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/shell_state.h"
#include "app/viewports.h"
#include "model/model.h"
#include "platform/bmp.h"
#include "platform/surface.h"
#include "render/library_state.h"
#include "render/qlt.h"

namespace {

// [SECTION] Colours and drawing helpers

struct Rgb {
  int r, g, b;
};

constexpr Rgb Key = {255, 0, 255};  // transparent in the pointer and the marker

void SetColour(cairo_t* cr, Rgb c, double alpha = 1.0) {
  cairo_set_source_rgba(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0, alpha);
}

void FillRect(cairo_t* cr, double x, double y, double w, double h, Rgb c) {
  SetColour(cr, c);
  cairo_rectangle(cr, x, y, w, h);
  cairo_fill(cr);
}

void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
  cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
  cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

// A font of the DejaVu Sans family, its size in pixels.
struct Font {
  double px;
  PangoWeight weight = PANGO_WEIGHT_NORMAL;
  bool condensed = false;
  double letterSpacing = 0;  // pixels between characters
};

// A laid-out piece of text; markup allowed. width > 0 wraps and aligns.
class Text {
 public:
  Text(cairo_t* cr, const std::string& markup, const Font& font, int width = -1,
       PangoAlignment align = PANGO_ALIGN_LEFT)
      : layout_(pango_cairo_create_layout(cr)) {
    // Grey anti-aliasing and hinted metrics keep small labels sharp on the
    // 16-bit display, where coloured fringes would turn into noise.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
    PangoContext* context = pango_layout_get_context(layout_);
    pango_cairo_context_set_font_options(context, options);
    pango_cairo_context_set_resolution(context, 96);
    cairo_font_options_destroy(options);
    pango_layout_context_changed(layout_);

    PangoFontDescription* description = pango_font_description_from_string("DejaVu Sans");
    pango_font_description_set_absolute_size(description, font.px * PANGO_SCALE);
    pango_font_description_set_weight(description, font.weight);
    if (font.condensed) pango_font_description_set_stretch(description, PANGO_STRETCH_CONDENSED);
    pango_layout_set_font_description(layout_, description);
    pango_font_description_free(description);
    if (font.letterSpacing != 0) {
      PangoAttrList* attributes = pango_attr_list_new();
      pango_attr_list_insert(attributes,
                             pango_attr_letter_spacing_new(int(font.letterSpacing * PANGO_SCALE)));
      pango_layout_set_attributes(layout_, attributes);
      pango_attr_list_unref(attributes);
    }
    if (width > 0) {
      pango_layout_set_width(layout_, width * PANGO_SCALE);
      pango_layout_set_wrap(layout_, PANGO_WRAP_WORD);
      pango_layout_set_alignment(layout_, align);
    }
    pango_layout_set_markup(layout_, markup.c_str(), -1);
  }
  ~Text() { g_object_unref(layout_); }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;

  int Width() const { return Extents().width; }
  int Height() const { return Extents().height; }
  // The distance from the layout's top to the first line's baseline.
  int Baseline() const { return pango_layout_get_baseline(layout_) / PANGO_SCALE; }

  void Draw(cairo_t* cr, double x, double y, Rgb colour, double alpha = 1.0) const {
    SetColour(cr, colour, alpha);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout_);
  }
  // The outline of the glyphs, for strokes, shadows and gradient fills.
  void Path(cairo_t* cr, double x, double y) const {
    cairo_move_to(cr, x, y);
    pango_cairo_layout_path(cr, layout_);
  }

 private:
  PangoRectangle Extents() const {
    PangoRectangle logical;
    pango_layout_get_pixel_extents(layout_, nullptr, &logical);
    return logical;
  }
  PangoLayout* layout_;
};

// One line of text with its baseline at y.
void DrawLine(cairo_t* cr, const std::string& markup, const Font& font, double x, double baseline,
              Rgb colour) {
  Text text(cr, markup, font);
  text.Draw(cr, x, baseline - text.Baseline(), colour);
}

// A cairo image and its drawing context, released together.
class Canvas {
 public:
  Canvas(int width, int height)
      : surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)),
        cr_(cairo_create(surface_)) {}
  ~Canvas() {
    cairo_destroy(cr_);
    cairo_surface_destroy(surface_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  cairo_t* cr() const { return cr_; }
  cairo_surface_t* surface() const { return surface_; }
  bool Ok() const { return cairo_status(cr_) == CAIRO_STATUS_SUCCESS; }

  // Straight (not premultiplied) 8-bit channels of a pixel.
  void Get(int x, int y, uint8_t rgba[4]) const {
    cairo_surface_flush(surface_);
    const uint8_t* row =
        cairo_image_surface_get_data(surface_) + size_t(y) * cairo_image_surface_get_stride(surface_);
    uint32_t p;
    std::memcpy(&p, row + size_t(x) * 4, 4);
    const int a = int(p >> 24);
    auto channel = [&](int shift) {
      const int v = int((p >> shift) & 0xff);
      return uint8_t(a == 0 ? 0 : std::min(255, (v * 255 + a / 2) / a));
    };
    rgba[0] = channel(16), rgba[1] = channel(8), rgba[2] = channel(0), rgba[3] = uint8_t(a);
  }
  // The picture as it would show on a black background.
  BmpImage ToImage() const {
    BmpImage image;
    image.width = cairo_image_surface_get_width(surface_);
    image.height = cairo_image_surface_get_height(surface_);
    image.rgba.resize(size_t(image.width) * size_t(image.height) * 4);
    cairo_surface_flush(surface_);
    const uint8_t* data = cairo_image_surface_get_data(surface_);
    const int stride = cairo_image_surface_get_stride(surface_);
    for (int y = 0; y < image.height; ++y)
      for (int x = 0; x < image.width; ++x) {
        uint32_t p;
        std::memcpy(&p, data + size_t(y) * stride + size_t(x) * 4, 4);
        uint8_t* out = &image.rgba[(size_t(y) * image.width + x) * 4];
        out[0] = uint8_t(p >> 16), out[1] = uint8_t(p >> 8), out[2] = uint8_t(p), out[3] = 255;
      }
    return image;
  }

 private:
  cairo_surface_t* surface_;
  cairo_t* cr_;
};

// Turns a drawing on a transparent background into a colour-keyed bitmap:
// covered pixels keep their colour, the rest become the key. No kept pixel
// may look like the key once the display has narrowed it to 5-6-5.
BmpImage KeyedImage(const Canvas& canvas) {
  BmpImage image = canvas.ToImage();
  const uint32_t key565 = PackPixel(PixelFormat::Rgb565, uint8_t(Key.r), uint8_t(Key.g), uint8_t(Key.b));
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      uint8_t rgba[4];
      canvas.Get(x, y, rgba);
      uint8_t* out = &image.rgba[(size_t(y) * image.width + x) * 4];
      if (rgba[3] < 128) {
        out[0] = uint8_t(Key.r), out[1] = uint8_t(Key.g), out[2] = uint8_t(Key.b);
        continue;
      }
      out[0] = rgba[0], out[1] = rgba[1], out[2] = rgba[2];
      if (PackPixel(PixelFormat::Rgb565, out[0], out[1], out[2]) == key565) out[1] = 8;
    }
  return image;
}

// [SECTION] The sample model, drawn by the program's renderer

constexpr int ModeFor640x480 = 6, ModeFor1024x768 = 8;
int wantedMode = ModeFor1024x768;

int ChooseMode(int deviceCount, char (*)[128], int32_t (*deviceModes)[8], int* outDevice, int* outMode) {
  if (deviceCount < 1) return 0;
  // The largest mode draws the car with the most detail; it is scaled down
  // into the picture, which smooths its edges.
  if (deviceModes[0][wantedMode - 1] == QltModeAbsent) wantedMode = ModeFor640x480;
  if (deviceModes[0][wantedMode - 1] == QltModeAbsent) return 0;
  *outDevice = 0;
  *outMode = wantedMode;
  return 1;
}

// The car on a transparent background, cropped to its outline; empty when
// the model cannot be read or drawn (the reason on standard error).
struct CarPicture {
  int width = 0, height = 0;
  std::vector<uint32_t> argb;  // premultiplied, as cairo takes it
  double scale = 1;            // picture pixels per screen pixel of a 640 x 480 display
};

bool RenderScreen(float r, float g, float b, Surface* out) {
  int width = 0, height = 0;
  qlt_ScreenSize(&width, &height, nullptr);
  if (!qlt_SetBackgroundMaterialColor(r, g, b) ||
      !qlt_SetRenderArea(1, 1, 0.0f, float(width), 0.0f, float(height)) || !RenderViewports())
    return false;
  *out = _qlt_BackBuffer3->Pixels();
  return true;
}

std::string Folder(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string FileName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

CarPicture RenderCar(const std::string& modelPath) {
  CarPicture car;
  if (access(modelPath.c_str(), R_OK) != 0) {
    std::fprintf(stderr, "make_bitmaps: no sample model at %s; the title is drawn without it\n",
                 modelPath.c_str());
    return car;
  }
  _qlt_InitTimer();
  ClearModel();
  Surface dark, light;
  bool drawn = false;
  // Texture names in the model are relative to its folder.
  if (qlt_Enumerate(nullptr, "Vornix 3D!", ChooseMode) && qlt_Initialize(nullptr, 10000.0f, 60.0f) &&
      chdir(Folder(modelPath).c_str()) == 0) {
    int width = 0;
    qlt_ScreenSize(&width, nullptr, nullptr);
    SetProjectionConstants(width);
    if (OpenModelFile(FileName(modelPath).c_str())) {
      ApplyStartupView();
      gShell.cameraZ *= 0.8f;  // a little closer than the program starts
      gShell.viewLayout = 1;
      // Drawn on two backgrounds: where the pixels agree, the car covers them.
      drawn = RenderScreen(0, 0, 0, &dark) && RenderScreen(1, 1, 1, &light);
    }
  }
  if (!drawn) {
    std::string reason = qlt_GetErrorString();
    std::replace(reason.begin(), reason.end(), '\n', ' ');
    std::fprintf(stderr,
                 "make_bitmaps: the sample model could not be drawn (%s); the title is drawn without it\n",
                 reason.c_str());
  }
  qlt_Shutdown();
  if (!drawn) return car;

  int left = dark.width, right = -1, top = dark.height, bottom = -1;
  for (int y = 0; y < dark.height; ++y)
    for (int x = 0; x < dark.width; ++x)
      if (dark.Get(x, y) == light.Get(x, y)) {
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
      }
  if (right < 0) return car;
  car.width = right - left + 1;
  car.height = bottom - top + 1;
  car.scale = 640.0 / dark.width;
  car.argb.assign(size_t(car.width) * car.height, 0);
  for (int y = 0; y < car.height; ++y)
    for (int x = 0; x < car.width; ++x) {
      const uint32_t p = dark.Get(left + x, top + y);
      if (p != light.Get(left + x, top + y)) continue;
      uint8_t r, g, b, a;
      UnpackPixel(dark.format, p, r, g, b, a);
      car.argb[size_t(y) * car.width + x] = 0xff000000u | uint32_t(r) << 16 | uint32_t(g) << 8 | b;
    }
  return car;
}

// [SECTION] title.bmp

void DrawTitleBackground(cairo_t* cr) {
  cairo_pattern_t* sky = cairo_pattern_create_radial(320, 250, 40, 320, 250, 460);
  cairo_pattern_add_color_stop_rgb(sky, 0, 0.13, 0.19, 0.30);
  cairo_pattern_add_color_stop_rgb(sky, 1, 0.02, 0.03, 0.06);
  cairo_set_source(cr, sky);
  cairo_paint(cr);
  cairo_pattern_destroy(sky);

  // A floor grid running to a horizon, fading with distance.
  const double horizon = 250, eyeX = 320;
  cairo_save(cr);
  cairo_rectangle(cr, 0, horizon, 640, 480 - horizon);
  cairo_clip(cr);
  cairo_set_line_width(cr, 1);
  for (int i = -24; i <= 24; ++i) {
    const double xFar = eyeX + i * 14, xNear = eyeX + i * 150;
    cairo_move_to(cr, xFar, horizon);
    cairo_line_to(cr, xNear, 480 + 200);
  }
  for (int i = 1; i < 30; ++i) {
    const double y = horizon + 600.0 / (i + 2.0) - 8;
    if (y <= horizon) break;
    cairo_move_to(cr, 0, y);
    cairo_line_to(cr, 640, y);
  }
  cairo_pattern_t* fade = cairo_pattern_create_linear(0, horizon, 0, 480);
  cairo_pattern_add_color_stop_rgba(fade, 0, 0.35, 0.6, 1.0, 0.0);
  cairo_pattern_add_color_stop_rgba(fade, 1, 0.35, 0.6, 1.0, 0.28);
  cairo_set_source(cr, fade);
  cairo_stroke(cr);
  cairo_pattern_destroy(fade);
  cairo_restore(cr);

  // A soft glow along the horizon.
  cairo_pattern_t* glow = cairo_pattern_create_linear(0, horizon - 40, 0, horizon + 40);
  cairo_pattern_add_color_stop_rgba(glow, 0, 0.3, 0.55, 1.0, 0.0);
  cairo_pattern_add_color_stop_rgba(glow, 0.5, 0.3, 0.55, 1.0, 0.12);
  cairo_pattern_add_color_stop_rgba(glow, 1, 0.3, 0.55, 1.0, 0.0);
  cairo_set_source(cr, glow);
  cairo_rectangle(cr, 0, horizon - 40, 640, 80);
  cairo_fill(cr);
  cairo_pattern_destroy(glow);
}

void DrawCar(cairo_t* cr, CarPicture& car) {
  if (car.width == 0) return;
  const int stride = car.width * 4;
  cairo_surface_t* picture = cairo_image_surface_create_for_data(
      reinterpret_cast<unsigned char*>(car.argb.data()), CAIRO_FORMAT_ARGB32, car.width, car.height, stride);
  // Fit the car into the space between the subtitle and the prompt.
  const double boxW = 520, boxH = 236, centreX = 320, centreY = 290;
  const double scale = std::min({boxW / car.width, boxH / car.height, car.scale * 1.25});
  const double w = car.width * scale, h = car.height * scale;
  const double x = centreX - w / 2, y = centreY - h / 2;

  // Its shadow on the floor.
  cairo_save(cr);
  cairo_translate(cr, centreX, y + h * 0.86);
  cairo_scale(cr, w * 0.55, h * 0.16);
  cairo_pattern_t* shadow = cairo_pattern_create_radial(0, 0, 0, 0, 0, 1);
  cairo_pattern_add_color_stop_rgba(shadow, 0, 0, 0, 0, 0.65);
  cairo_pattern_add_color_stop_rgba(shadow, 1, 0, 0, 0, 0);
  cairo_set_source(cr, shadow);
  cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
  cairo_fill(cr);
  cairo_pattern_destroy(shadow);
  cairo_restore(cr);

  cairo_save(cr);
  cairo_translate(cr, x, y);
  cairo_scale(cr, scale, scale);
  cairo_set_source_surface(cr, picture, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BEST);
  cairo_paint(cr);
  cairo_restore(cr);
  cairo_surface_destroy(picture);
}

bool WriteTitle(const std::string& path, CarPicture& car) {
  Canvas canvas(640, 480);
  cairo_t* cr = canvas.cr();
  DrawTitleBackground(cr);
  DrawCar(cr, car);

  // The name, with a soft shadow and a light-to-blue fill.
  const Font nameFont{62, PANGO_WEIGHT_HEAVY, false, -1};
  Text name(cr, "Vornix <span foreground='#5fb0ff'>3D!</span>", nameFont);
  const double nameX = (640 - name.Width()) / 2.0, nameY = 34;
  for (int blur = 6; blur >= 1; blur -= 1) {
    cairo_save(cr);
    name.Path(cr, nameX, nameY + 4);
    cairo_set_line_width(cr, blur * 2);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.09);
    cairo_stroke(cr);
    cairo_restore(cr);
  }
  Text word(cr, "Vornix ", nameFont);
  Text accent(cr, "3D!", nameFont);
  cairo_pattern_t* silver = cairo_pattern_create_linear(0, nameY + 10, 0, nameY + name.Height() - 10);
  cairo_pattern_add_color_stop_rgb(silver, 0, 1, 1, 1);
  cairo_pattern_add_color_stop_rgb(silver, 1, 0.72, 0.78, 0.88);
  word.Path(cr, nameX, nameY);
  cairo_set_source(cr, silver);
  cairo_fill(cr);
  cairo_pattern_destroy(silver);
  cairo_pattern_t* blue = cairo_pattern_create_linear(0, nameY + 10, 0, nameY + name.Height() - 10);
  cairo_pattern_add_color_stop_rgb(blue, 0, 0.55, 0.80, 1.0);
  cairo_pattern_add_color_stop_rgb(blue, 1, 0.18, 0.48, 0.95);
  accent.Path(cr, nameX + word.Width(), nameY);
  cairo_set_source(cr, blue);
  cairo_fill(cr);
  cairo_pattern_destroy(blue);

  Text subtitle(cr, "Model converter  ·  material editor  ·  polygon processor  ·  viewer", Font{14}, 600,
                PANGO_ALIGN_CENTER);
  subtitle.Draw(cr, 20, nameY + name.Height() + 2, Rgb{186, 200, 222});

  // The prompt, in a pill near the bottom.
  Text prompt(cr, "Press any key or click to begin", Font{15, PANGO_WEIGHT_BOLD});
  const double pillW = prompt.Width() + 44, pillH = prompt.Height() + 14;
  const double pillX = (640 - pillW) / 2, pillY = 420;
  RoundedRect(cr, pillX, pillY, pillW, pillH, pillH / 2);
  cairo_set_source_rgba(cr, 0.06, 0.10, 0.18, 0.82);
  cairo_fill_preserve(cr);
  cairo_set_source_rgba(cr, 0.37, 0.69, 1.0, 0.9);
  cairo_set_line_width(cr, 1.5);
  cairo_stroke(cr);
  prompt.Draw(cr, pillX + 22, pillY + 7, Rgb{255, 255, 255});

  Text version(cr, "1.0", Font{11});
  version.Draw(cr, 640 - 12 - version.Width(), 480 - 8 - version.Height(), Rgb{110, 128, 156});
  return canvas.Ok() && WriteBmp24File(path.c_str(), canvas.ToImage());
}

// [SECTION] mouse.bmp

// The arrow, 11 x 19 pixels with its tip at (0, 0): 'B' outline, 'W' fill.
// clang-format off
const char* const Arrow[] = {
    "B          ",
    "BB         ",
    "BWB        ",
    "BWWB       ",
    "BWWWB      ",
    "BWWWWB     ",
    "BWWWWWB    ",
    "BWWWWWWB   ",
    "BWWWWWWWB  ",
    "BWWWWWWWWB ",
    "BWWWWWWWWWB",
    "BWWWWWWBBBB",
    "BWWWBWWB   ",
    "BWWBBWWB   ",
    "BWB  BWWB  ",
    "BB   BWWB  ",
    "B     BWWB ",
    "      BWWB ",
    "       BB  ",
};
// clang-format on

bool WriteMouse(const std::string& path) {
  // Pixel by pixel, so no edge pixel comes out halfway to the key.
  BmpImage image;
  image.width = 12;
  image.height = 20;
  image.rgba.assign(size_t(image.width) * image.height * 4, 255);
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const char c = y < 19 && x < 11 ? Arrow[y][x] : ' ';
      const Rgb colour = c == 'B' ? Rgb{0, 0, 0} : c == 'W' ? Rgb{255, 255, 255} : Key;
      uint8_t* out = &image.rgba[(size_t(y) * image.width + x) * 4];
      out[0] = uint8_t(colour.r), out[1] = uint8_t(colour.g), out[2] = uint8_t(colour.b);
    }
  return WriteBmp24File(path.c_str(), image);
}

// [SECTION] topleft.bmp

bool WriteMarker(const std::string& path) {
  Canvas canvas(40, 27);
  cairo_t* cr = canvas.cr();
  // A tag reading "u,v" with a pointer whose tip (20, 25) lands on the
  // corner where the texture's top-left corner is laid.
  const Rgb outline{16, 20, 28}, fill{255, 214, 64};
  cairo_new_path(cr);
  RoundedRect(cr, 4.5, 0.5, 31, 16, 4);
  cairo_move_to(cr, 14.5, 16.5);
  cairo_line_to(cr, 20.5, 25.5);
  cairo_line_to(cr, 26.5, 16.5);
  cairo_close_path(cr);
  SetColour(cr, fill);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
  cairo_fill_preserve(cr);
  SetColour(cr, outline);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
  // The join between tag and pointer carries no line.
  SetColour(cr, fill);
  cairo_rectangle(cr, 15.5, 15.5, 10, 1.5);
  cairo_fill(cr);
  Text label(cr, "u,v", Font{11, PANGO_WEIGHT_BOLD});
  label.Draw(cr, 20 - label.Width() / 2.0, 1, outline);
  if (!canvas.Ok()) return false;
  return WriteBmp24File(path.c_str(), KeyedImage(canvas));
}

// [SECTION] mater2.bmp

struct ItemRows {
  int top, bottom;  // both inclusive
};
constexpr int ItemCount = 19;
constexpr ItemRows Items[ItemCount] = {
    {55, 67},   {68, 80},   {81, 93},   {94, 106},  {107, 119}, {120, 132}, {159, 171},
    {172, 184}, {185, 197}, {198, 210}, {211, 223}, {250, 262}, {263, 275}, {276, 288},
    {289, 301}, {302, 314}, {341, 353}, {354, 366}, {367, 379},
};
const char* const Labels[ItemCount] = {
    "Open",           "Save",           "Center",         "Orientation",
    "Scale",          "Edit Materials", "Polygon Mode",   "Material Mode",
    "Rectangle Mode", "Select All",     "Clear PolyList", "Project Texture Coords",
    "Smooth Normals", "Reverse",        "New Material",   "Delete",
    "Options",        "Viewpoint",      "Help",
};
bool IsModeItem(int item) { return item >= 6 && item <= 8; }

// Headings in the gaps between the item groups: the baseline row and text.
struct Heading {
  int baseline;
  const char* text;
};
constexpr Heading Headings[] = {
    {51, "FILE &amp; MODEL"}, {154, "SELECTION"}, {245, "POLYGONS"}, {336, "VIEW &amp; HELP"}};

constexpr Rgb PanelBack{30, 36, 46};
constexpr Rgb PanelEdgeLight{44, 52, 65};
constexpr Rgb PanelEdgeDark{12, 15, 20};
constexpr Rgb LabelColour{214, 221, 231};
constexpr Rgb HeadingColour{122, 146, 176};
constexpr Rgb RuleColour{49, 59, 74};
constexpr Rgb Accent{74, 150, 240};
constexpr Rgb ViewportBack{26, 51, 26};  // the viewports' own background, 0.1, 0.2, 0.1
constexpr int LabelX = 22;
constexpr int MarkerX = 10;  // centre of the mode marker, within x 0..19

// The panel's plain surface: flat, with a light and a dark line at its
// right edge against the viewports.
void DrawPanelSurface(cairo_t* cr, double x, double y, double w, double h) {
  FillRect(cr, x, y, w, h, PanelBack);
  FillRect(cr, x + w - 2, y, 1, h, PanelEdgeLight);
  FillRect(cr, x + w - 1, y, 1, h, PanelEdgeDark);
}

// An item label, shrunk until it fits the panel.
void DrawLabel(cairo_t* cr, int item, int left, Rgb colour) {
  // Narrower letters first, then a smaller size, then tighter spacing.
  const int room = 125 - LabelX;
  Font font{11};
  for (int attempt = 0; attempt < 12; ++attempt) {
    Text probe(cr, Labels[item], font);
    if (probe.Width() <= room) break;
    if (!font.condensed)
      font.condensed = true;
    else if (font.px > 10)
      font.px -= 0.5;
    else
      font.letterSpacing -= 0.1;
  }
  const ItemRows rows = Items[item];
  DrawLine(cr, Labels[item], font, left + LabelX, rows.top + 10, colour);
}

// The ring of a mode item; filled, it marks the current mode.
void DrawModeRing(cairo_t* cr, int left, int item, bool filled, bool onHighlight) {
  const double cx = left + MarkerX + 0.5, cy = Items[item].top + 6.5;
  cairo_new_path(cr);
  if (filled) {
    cairo_arc(cr, cx, cy, 4.5, 0, 2 * M_PI);
    SetColour(cr, onHighlight ? Rgb{255, 255, 255} : Accent);
    cairo_fill(cr);
    cairo_new_path(cr);
    cairo_arc(cr, cx, cy, 1.8, 0, 2 * M_PI);
    SetColour(cr, onHighlight ? Rgb{42, 98, 170} : Rgb{255, 255, 255});
    cairo_fill(cr);
  } else {
    cairo_arc(cr, cx, cy, 4.0, 0, 2 * M_PI);
    SetColour(cr, onHighlight ? Rgb{220, 232, 250} : Rgb{108, 124, 146});
    cairo_set_line_width(cr, 1.2);
    cairo_stroke(cr);
  }
}

// The normal look of the whole panel, columns 0..127.
void DrawPanel(cairo_t* cr) {
  DrawPanelSurface(cr, 0, 0, 128, 480);

  // The name at the top.
  Text logo(cr, "Vornix <span foreground='#5fb0ff'>3D!</span>", Font{19, PANGO_WEIGHT_HEAVY});
  const double logoX = (126 - logo.Width()) / 2.0;
  logo.Draw(cr, logoX, 5, Rgb{240, 244, 250});
  FillRect(cr, 10, 31, 106, 1, RuleColour);

  for (const Heading& heading : Headings) {
    Text text(cr, heading.text, Font{9, PANGO_WEIGHT_BOLD, false, 0.8});
    text.Draw(cr, 8, heading.baseline - text.Baseline(), HeadingColour);
    const int ruleX = 8 + text.Width() + 6;
    if (ruleX < 118) FillRect(cr, ruleX, heading.baseline - 3, 118 - ruleX, 1, RuleColour);
  }
  for (int item = 0; item < ItemCount; ++item) {
    DrawLabel(cr, item, 0, LabelColour);
    if (IsModeItem(item)) DrawModeRing(cr, 0, item, false, false);
  }

  // The keys that work everywhere, below the last group.
  const char* const keys[][2] = {{"Arrows Z X", "turn"},  {"A  Q", "zoom"}, {"I J K M", "move"},
                                 {"Space", "reset view"}, {"F1", "help"},   {"Esc", "exit"}};
  Text title(cr, "KEYS", Font{9, PANGO_WEIGHT_BOLD, false, 0.8});
  title.Draw(cr, 8, 396 - title.Baseline(), HeadingColour);
  FillRect(cr, 8 + title.Width() + 6, 393, 118 - (8 + title.Width() + 6), 1, RuleColour);
  for (int i = 0; i < 6; ++i) {
    const double baseline = 410 + i * 12.5;
    DrawLine(cr, keys[i][0], Font{9.5, PANGO_WEIGHT_BOLD, true}, 10, baseline, Rgb{176, 190, 210});
    DrawLine(cr, keys[i][1], Font{9.5, PANGO_WEIGHT_NORMAL, true}, 68, baseline, Rgb{140, 154, 176});
  }
}

// The highlighted background of a hovered item at columns left..left+127.
void DrawHighlight(cairo_t* cr, int left, int item) {
  const ItemRows rows = Items[item];
  const double top = rows.top, height = rows.bottom - rows.top + 1;
  cairo_pattern_t* fill = cairo_pattern_create_linear(0, top, 0, top + height);
  cairo_pattern_add_color_stop_rgb(fill, 0, 0.30, 0.56, 0.90);
  cairo_pattern_add_color_stop_rgb(fill, 1, 0.19, 0.41, 0.72);
  RoundedRect(cr, left + 2, top, 122, height, 3);
  cairo_set_source(cr, fill);
  cairo_fill(cr);
  cairo_pattern_destroy(fill);
  FillRect(cr, left + 4, top, 118, 1, Rgb{110, 160, 225});
}

void DrawHoverLooks(cairo_t* cr) {
  for (int item = 0; item < ItemCount; ++item) {
    DrawHighlight(cr, 128, item);
    DrawLabel(cr, item, 128, Rgb{255, 255, 255});
    if (IsModeItem(item)) DrawModeRing(cr, 128, item, false, true);
  }
  for (int item = 6; item <= 8; ++item) {
    DrawHighlight(cr, 384, item);
    DrawLabel(cr, item, 384, Rgb{255, 255, 255});
    DrawModeRing(cr, 384, item, true, true);
  }
}

// The marker cells at 256..275: the panel's own background with the ring
// filled, so that the blit over x 0..19 blends in.
void DrawModeMarkers(cairo_t* cr) {
  for (int item = 6; item <= 8; ++item) {
    FillRect(cr, 256, Items[item].top, 20, 13, PanelBack);
    DrawModeRing(cr, 256, item, true, false);
  }
}

// A border strip of three lines, outer to inner.
void DrawBorderLines(cairo_t* cr, bool vertical, int x, int y, int length, const Rgb (&lines)[3]) {
  for (int i = 0; i < 3; ++i)
    if (vertical)
      FillRect(cr, x + i, y, 1, length, lines[i]);
    else
      FillRect(cr, x, y + i, length, 1, lines[i]);
}

void DrawBorders(cairo_t* cr) {
  const Rgb top[3] = {{12, 15, 20}, {58, 70, 88}, {30, 36, 46}};
  const Rgb bottom[3] = {{30, 36, 46}, {58, 70, 88}, {12, 15, 20}};
  const Rgb divider[3] = {{12, 15, 20}, {66, 80, 100}, {12, 15, 20}};
  DrawBorderLines(cr, false, 128, 0, 512, top);
  DrawBorderLines(cr, false, 128, 239, 511, divider);
  DrawBorderLines(cr, false, 128, 477, 512, bottom);
  DrawBorderLines(cr, true, 637, 0, 480, bottom);
}

// A start hint over a viewport: a small picture of the mouse and the text.
void DrawHint(cairo_t* cr, int top, const char* markup) {
  const double x = 259, y = top, w = 375, h = 58;
  FillRect(cr, x, y, w, h, Rgb{13, 18, 26});
  SetColour(cr, Accent, 0.85);
  cairo_set_line_width(cr, 1);
  cairo_rectangle(cr, x + 0.5, y + 0.5, w - 1, h - 1);
  cairo_stroke(cr);
  FillRect(cr, x + 1, y + 1, 3, h - 2, Accent);

  // The mouse, its left and right buttons lit for dragging and clicking.
  const double mx = x + 14, my = y + 11, mw = 22, mh = 36;
  RoundedRect(cr, mx + 0.5, my + 0.5, mw, mh, 10);
  SetColour(cr, Rgb{58, 70, 88});
  cairo_fill_preserve(cr);
  SetColour(cr, Rgb{150, 166, 190});
  cairo_set_line_width(cr, 1.2);
  cairo_stroke(cr);
  cairo_save(cr);
  RoundedRect(cr, mx + 0.5, my + 0.5, mw, mh, 10);
  cairo_clip(cr);
  FillRect(cr, mx + 1, my + 1, mw / 2 - 1, 13, Accent);
  FillRect(cr, mx + mw / 2 + 1.5, my + 1, mw / 2 - 1, 13, Rgb{230, 150, 60});
  cairo_restore(cr);
  SetColour(cr, Rgb{150, 166, 190});
  cairo_move_to(cr, mx + mw / 2 + 0.5, my + 1);
  cairo_line_to(cr, mx + mw / 2 + 0.5, my + 14);
  cairo_move_to(cr, mx + 1, my + 14.5);
  cairo_line_to(cr, mx + mw, my + 14.5);
  cairo_stroke(cr);

  // The text, as large as fits.
  const int textX = 50, room = int(w) - textX - 8;
  for (double px = 11.5; px >= 8.5; px -= 0.5) {
    Text text(cr, markup, Font{px}, room);
    if (text.Height() <= h - 6 || px <= 8.5) {
      text.Draw(cr, x + textX, y + (h - text.Height()) / 2.0, Rgb{222, 229, 238});
      break;
    }
  }
}

bool WritePanel(const std::string& path) {
  Canvas canvas(640, 480);
  cairo_t* cr = canvas.cr();
  // What is not blitted from the bitmap is left in the viewports' colour.
  FillRect(cr, 0, 0, 640, 480, ViewportBack);
  DrawPanel(cr);
  for (int item = 0; item < ItemCount; ++item) DrawPanelSurface(cr, 128, Items[item].top, 128, 13);
  for (int item = 6; item <= 8; ++item) DrawPanelSurface(cr, 384, Items[item].top, 128, 13);
  DrawHoverLooks(cr);
  DrawModeMarkers(cr);
  DrawPanelSurface(cr, 258, 389, 121, 86);  // the filler, stretched to 128 wide
  DrawBorders(cr);
  DrawHint(cr, 95,
           "<b>Render viewport</b> — drag with the left button to turn the model, with the right button to "
           "move it. Keys: arrows, Z and X turn; A and Q zoom; Space resets.");
  DrawHint(
      cr, 330,
      "<b>Select viewport</b> — left-click a polygon to add it to the PolyList, right-click to remove it. "
      "Choose Material or Rectangle Mode on the panel to pick more at once.");
  return canvas.Ok() && WriteBmp24File(path.c_str(), canvas.ToImage());
}

std::string AbsoluteFolder(const char* path) {
  if (path[0] == '/') return path;
  char here[4096];
  if (!getcwd(here, sizeof here)) return path;
  return std::string(here) + "/" + path;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_bitmaps OUTDIR MODEL\n");
    return 2;
  }
  // Rendering the car enters the model's folder; the outputs stay where asked.
  const std::string out = AbsoluteFolder(argv[1]);
  const std::string model = AbsoluteFolder(argv[2]);
  struct Output {
    const char* name;
    bool (*write)(const std::string&);
  };
  const Output outputs[] = {
      {"mouse.bmp", WriteMouse}, {"topleft.bmp", WriteMarker}, {"mater2.bmp", WritePanel}};
  for (const Output& output : outputs)
    if (!output.write(out + "/" + output.name)) {
      std::fprintf(stderr, "make_bitmaps: could not write %s/%s\n", out.c_str(), output.name);
      return 1;
    }
  CarPicture car = RenderCar(model);
  if (!WriteTitle(out + "/title.bmp", car)) {
    std::fprintf(stderr, "make_bitmaps: could not write %s/title.bmp\n", out.c_str());
    return 1;
  }
  return 0;
}
