#include "app/cli.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/desktop.h"
#include "app/model_commands.h"
#include "app/shell_state.h"
#include "app/viewports.h"
#include "dialogs/smoothing_dialog.h"
#include "formats/pov_export.h"
#include "model/geometry.h"
#include "model/model.h"
#include "model/normals.h"
#include "platform/console/console_ui.h"
#include "platform/paths.h"
#include "platform/png.h"
#include "platform/resample.h"
#include "render/library_state.h"
#include "render/qlt.h"

namespace {

const char* const Usage =
    "usage: vornix [--windowed] [FILE]   start the desktop program (on FILE)\n"
    "       vornix info FILE\n"
    "       vornix convert IN OUT [--delete-thin] [--center] [--rotate X,Y,Z] [--scale F]\n"
    "                             [--scale-x F] [--scale-y F] [--scale-z F] [--smooth DEG]\n"
    "                             [--reverse LIST] [--flip-v] [--strip-uv]\n"
    "                             LIST: one or more of order,normals,u,v, comma-separated\n"
    "                             Applied in this order: --delete-thin on reading; --center,\n"
    "                             --rotate, --scale, --scale-x, --scale-y, --scale-z, --smooth,\n"
    "                             --reverse; --flip-v and --strip-uv on writing.\n"
    "       vornix render IN -o OUT.png [--size 640x480|800x600|1024x768]\n"
    "                             [--view 3d|top|bottom|left|right|front|back]\n"
    "                             [--layout both|render|select] [--repeat N] [--thumbnail N]\n"
    "                             --thumbnail N: an N x N picture (16 to 1024) of the model\n"
    "                             alone, filling it, from the start-up view unless --view\n"
    "       vornix --help | --version\n";

struct ConvertOptions {
  bool deleteThin = false;
  bool center = false;
  bool rotate = false;
  float rotation[3] = {0, 0, 0};
  bool scale = false;
  float scaleFactor = 1;
  // One factor per axis, each applied only when given.
  bool scaleAxis[3] = {false, false, false};
  float axisFactor[3] = {1, 1, 1};
  bool smooth = false;
  float smoothAngle = 0;
  bool flipV = false;
  bool stripUV = false;
  ReverseChoice reverse;
};

// The answers the command line gives to the program's questions.
struct Answers {
  bool deleteThin = false;
  bool flipV = false;
  bool stripUV = false;
};

int AnswerQuestion(const char* text, const char* caption, unsigned type, void* context) {
  const Answers& answers = *static_cast<const Answers*>(context);
  const unsigned kind = type & MB_TYPEMASK;
  if (kind == MB_YESNO) {
    if (answers.deleteThin && std::strstr(text, "infinitely thin polygon(s)") &&
        std::strcmp(caption, "WARNING !!!") == 0)
      return IDYES;
    if (answers.flipV && std::strcmp(text, InvertVQuestionText) == 0) return IDYES;
    if (answers.stripUV && std::strcmp(text, StripUVQuestionText) == 0) return IDYES;
    // Naming a .dxf file is the answer to whether to write one.
    if (std::strcmp(text, DxfQuestionText) == 0) return IDYES;
    return IDNO;
  }
  return kind == MB_OKCANCEL ? IDCANCEL : IDOK;
}

int Fail(const std::string& reason) {
  std::fprintf(stderr, "vornix: %s\n", reason.c_str());
  return 1;
}

// A whole argument as one finite number.
bool ParseNumber(const char* text, float& out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text, &end);
  if (*end != '\0' || errno == ERANGE || !std::isfinite(value)) return false;
  out = static_cast<float>(value);
  return std::isfinite(out);
}

bool ParseTriple(const char* text, float out[3]) {
  std::string rest = text ? text : "";
  for (int i = 0; i < 3; ++i) {
    const size_t comma = rest.find(',');
    const bool last = i == 2;
    if (last != (comma == std::string::npos)) return false;
    if (!ParseNumber(rest.substr(0, comma).c_str(), out[i])) return false;
    rest = last ? "" : rest.substr(comma + 1);
  }
  return true;
}

// Index into a list of names, or -1.
int IndexOf(const char* value, const char* const* names, int count) {
  for (int i = 0; value && i < count; ++i)
    if (std::strcmp(value, names[i]) == 0) return i;
  return -1;
}

// The reverse dialog's boxes by name: "order,normals,u,v" or any part of it.
// On an unknown word, bad holds it and out is left alone.
bool ParseReverseList(const char* text, ReverseChoice& out, std::string& bad) {
  static const struct {
    const char* word;
    bool ReverseChoice::*box;
  } boxes[] = {{"order", &ReverseChoice::polygonOrder},
               {"normals", &ReverseChoice::normals},
               {"u", &ReverseChoice::u},
               {"v", &ReverseChoice::v}};
  ReverseChoice choice;
  const std::string list = text;
  for (size_t start = 0;;) {
    const size_t comma = list.find(',', start);
    const std::string word = list.substr(start, comma - start);
    bool known = false;
    for (const auto& b : boxes)
      if (word == b.word) choice.*b.box = known = true;
    if (!known) {
      bad = word;
      return false;
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  out = choice;
  return true;
}

// Returns 0 when every option parsed, else the exit status after a message.
int ParseConvertOptions(int argc, char** argv, int first, ConvertOptions& options) {
  static const char* const scaleAxisOptions[] = {"--scale-x", "--scale-y", "--scale-z"};
  for (int i = first; i < argc; ++i) {
    const char* option = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (std::strcmp(option, "--delete-thin") == 0) {
      options.deleteThin = true;
    } else if (std::strcmp(option, "--flip-v") == 0) {
      options.flipV = true;
    } else if (std::strcmp(option, "--strip-uv") == 0) {
      options.stripUV = true;
    } else if (std::strcmp(option, "--center") == 0) {
      options.center = true;
    } else if (std::strcmp(option, "--rotate") == 0) {
      if (!ParseTriple(value, options.rotation)) return Fail("--rotate needs three angles X,Y,Z in degrees");
      options.rotate = true;
      ++i;
    } else if (std::strcmp(option, "--scale") == 0) {
      if (!ParseNumber(value, options.scaleFactor)) return Fail("--scale needs a number");
      options.scale = true;
      ++i;
    } else if (const int axis = IndexOf(option, scaleAxisOptions, 3); axis >= 0) {
      if (!ParseNumber(value, options.axisFactor[axis])) return Fail(std::string(option) + " needs a number");
      options.scaleAxis[axis] = true;
      ++i;
    } else if (std::strcmp(option, "--reverse") == 0) {
      std::string bad;
      if (!value) return Fail("--reverse needs a comma-separated list of order, normals, u, v");
      if (!ParseReverseList(value, options.reverse, bad))
        return Fail("--reverse: '" + bad + "' is not one of order, normals, u, v");
      ++i;
    } else if (std::strcmp(option, "--smooth") == 0) {
      if (!ParseNumber(value, options.smoothAngle) || !SmoothingAngleInRange(options.smoothAngle))
        return Fail("--smooth: Angle must be in range of 0 to 179");
      options.smooth = true;
      ++i;
    } else {
      return Fail(std::string("unknown option '") + option + "'");
    }
  }
  return 0;
}

// What "Calc Center" puts in a field: the offset that centres [lo, hi],
// printed with six decimals; the printed value is what gets applied.
float CenterOffset(float lo, float hi) {
  char text[64];
  std::snprintf(text, sizeof text, "%f", (hi - lo) * 0.5f - hi);
  return static_cast<float>(std::atof(text));
}

void ApplyConvertOptions(const ConvertOptions& options) {
  if (options.center) {
    TranslateX(CenterOffset(gModel.minX, gModel.maxX));
    TranslateY(CenterOffset(gModel.minY, gModel.maxY));
    TranslateZ(CenterOffset(gModel.minZ, gModel.maxZ));
  }
  if (options.rotate) {
    RotateX(options.rotation[0]);
    RotateY(options.rotation[1]);
    RotateZ(options.rotation[2]);
  }
  if (options.scale) ApplyScale(ScaleMode::Uniform, options.scaleFactor);
  static const ScaleMode axes[3] = {ScaleMode::WidthX, ScaleMode::HeightY, ScaleMode::LengthZ};
  for (int axis = 0; axis < 3; ++axis)
    if (options.scaleAxis[axis]) ApplyScale(axes[axis], options.axisFactor[axis]);
  if (options.smooth) {
    SelectAll();
    CalculateNormals(options.smoothAngle);
    SelectNone();
  }
  // After smoothing, which computes the normals afresh and would undo a
  // reversal of them.
  const ReverseChoice& r = options.reverse;
  if (r.polygonOrder || r.normals || r.u || r.v) {
    SelectAll();
    ApplyReverse(r);
    SelectNone();
  }
}

// Messages name the file as the user gave it (shownName), which may differ
// from path once the model's folder is entered.
int OpenForCommand(const char* path, const char* shownName = nullptr) {
  if (!shownName) shownName = path;
  if (!CanRead(ReadKindOf(path)))
    return Fail(std::string("cannot read '") + shownName + "': unsupported file type");
  if (!OpenModelFile(path)) return Fail(std::string("could not read '") + shownName + "'");
  return 0;
}

// Whether a bitmap the model names lies beside it, found as the program
// finds it; nothing for no name.
std::string FileState(const std::string& modelFolder, const char* name) {
  if (!name[0]) return "";
  const std::string path = modelFolder.empty() || name[0] == '/' ? name : modelFolder + "/" + name;
  std::string found;
  return FindFileAnyCase(path, &found) ? " (found)" : " (missing)";
}

void PrintInfo(const std::string& modelFolder) {
  std::printf("vertices: %d\n", gModel.vertexCount);
  std::printf("polygons: %d\n", gModel.vertexCount / 3);
  std::printf("materials: %d\n", gModel.materialCount);
  std::printf("projections: %d\n", gModel.projectionCount);
  std::printf("bounds: %f %f %f %f %f %f\n", gModel.minX, gModel.minY, gModel.minZ, gModel.maxX, gModel.maxY,
              gModel.maxZ);
  std::printf("radius: %f\n", gModel.modelRadius);
  for (int i = 0; i < gModel.materialCount; ++i) {
    const ModelMaterial& m = gModel.materials[i];
    std::printf("material %d: %f %f %f %f %f texture=\"%s\"%s alpha=\"%s\"%s\n", i, m.red, m.green, m.blue,
                m.alpha, m.specularPower, m.textureFile, FileState(modelFolder, m.textureFile).c_str(),
                m.alphaFile, FileState(modelFolder, m.alphaFile).c_str());
  }
}

int RunInfo(int argc, char** argv) {
  if (argc != 3) return Fail("info needs exactly one FILE");
  if (const int status = OpenForCommand(argv[2])) return status;
  PrintInfo(FolderOf(argv[2]));
  return std::fflush(stdout) == 0 ? 0 : Fail("could not write the information");
}

// Choosing a file in the Open dialog makes its folder the working folder, and
// texture names in a model are relative to it. Returns the model's name as
// seen from there, or an empty text when the folder cannot be entered.
std::string EnterModelFolder(const char* path) {
  if (!EnterFolderOf(path)) return "";
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

// The library's error text ("operation\nmessage\nresult\n") on one line.
std::string LibraryError() {
  std::string text = qlt_GetErrorString();
  while (!text.empty() && text.back() == '\n') text.pop_back();
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at))
    text.replace(at, 1, ": ");
  return text;
}

// The emulation device in the display mode of the requested size.
int wantedMode;
bool wantedModeMissing;

int ChooseEmulationDevice(int deviceCount, char (*)[128], int32_t (*deviceModes)[8], int* outDevice,
                          int* outMode) {
  wantedModeMissing = deviceCount < 1 || deviceModes[0][wantedMode - 1] == QltModeAbsent;
  if (wantedModeMissing) return 0;
  *outDevice = 0;
  *outMode = wantedMode;
  return 1;
}

int StartLibrary(int modeNumber) {
  wantedMode = modeNumber;
  if (!qlt_Enumerate(nullptr, "Vornix 3D!", ChooseEmulationDevice)) {
    if (wantedModeMissing) return Fail("the display does not offer the requested size");
    return Fail("could not start the renderer: " + LibraryError());
  }
  if (!qlt_Initialize(nullptr, 10000.0f, 60.0f))
    return Fail("could not start the renderer: " + LibraryError());
  int width = 0;
  qlt_ScreenSize(&width, nullptr, nullptr);
  SetProjectionConstants(width);
  return 0;
}

// in and out as seen from the model's folder; the user's names for messages.
int ConvertFile(const char* in, const char* out, char** userNames, const ConvertOptions& options) {
  if (const int status = OpenForCommand(in, userNames[0])) return status;
  ApplyConvertOptions(options);
  if (SaveModelFile(out, 1)) return 0;
  // A scene without some of its textures is still a scene: say what it lacks.
  if (WriteKindOf(out) == FileKind::Pov && !PovMissingTextures().empty()) {
    std::string list;
    for (const std::string& texture : PovMissingTextures()) list += (list.empty() ? "" : ", ") + texture;
    return Fail(std::string("wrote '") + userNames[1] + "', but not these of its textures: " + list);
  }
  return Fail(std::string("could not write '") + userNames[1] + "'");
}

int RunConvert(int argc, char** argv, Answers& answers) {
  if (argc < 4) return Fail("convert needs IN and OUT");
  const char* in = argv[2];
  const char* out = argv[3];
  ConvertOptions options;
  if (const int status = ParseConvertOptions(argc, argv, 4, options)) return status;
  const FileKind outKind = WriteKindOf(out);
  if (!CanWrite(outKind)) return Fail(std::string("cannot write '") + out + "': unsupported file type");
  answers.deleteThin = options.deleteThin;
  answers.flipV = options.flipV;
  answers.stripUV = options.stripUV;
  const std::string output = AbsolutePath(out);
  const std::string model = EnterModelFolder(in);
  if (model.empty()) return Fail(std::string("could not read '") + in + "': its folder cannot be entered");
  // A scene's textures are read through the display, as the viewer does.
  int status = outKind == FileKind::Pov ? StartLibrary(6) : 0;
  if (status == 0) status = ConvertFile(model.c_str(), output.c_str(), argv + 2, options);
  qlt_Shutdown();
  return status;
}

// ---- render ---------------------------------------------------------------------------

struct RenderOptions {
  const char* output = nullptr;
  int modeNumber = 0;  // 0: 640 x 480, or for a thumbnail the size that suits it
  int viewpoint = -1;  // -1: the view Open leaves; 0: the start-up view
  int layout = -1;     // -1: the Render viewport alone
  int repeat = 1;
  int thumbnail = 0;  // the side of the square picture; 0: the whole screen
};

constexpr int MinThumbnail = 16, MaxThumbnail = 1024;

int UsageError(const std::string& reason) {
  std::fprintf(stderr, "vornix: %s\n", reason.c_str());
  return 2;
}

bool ParseCount(const char* text, int& out, long least = 1, long most = 100000) {
  if (!text || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || errno == ERANGE || value < least || value > most) return false;
  out = int(value);
  return true;
}

// Returns 0 when every option parsed, else the exit status after a message.
int ParseRenderOptions(int argc, char** argv, RenderOptions& options) {
  static const char* const sizes[] = {"640x480", "800x600", "1024x768"};
  static const char* const views[] = {"3d", "top", "bottom", "left", "right", "front", "back"};
  static const char* const layouts[] = {"both", "render", "select"};
  // Every option takes a value.
  for (int i = 3; i < argc; i += 2) {
    const char* option = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    int index = -1;
    if (std::strcmp(option, "-o") == 0) {
      if (!value || !*value) return UsageError("-o needs an output file");
      options.output = value;
    } else if (std::strcmp(option, "--size") == 0) {
      if ((index = IndexOf(value, sizes, 3)) < 0)
        return UsageError("--size must be 640x480, 800x600 or 1024x768");
      options.modeNumber = 6 + index;
    } else if (std::strcmp(option, "--view") == 0) {
      if ((index = IndexOf(value, views, 7)) < 0)
        return UsageError("--view must be 3d, top, bottom, left, right, front or back");
      options.viewpoint = index;
    } else if (std::strcmp(option, "--layout") == 0) {
      if ((index = IndexOf(value, layouts, 3)) < 0)
        return UsageError("--layout must be both, render or select");
      options.layout = index;
    } else if (std::strcmp(option, "--repeat") == 0) {
      if (!ParseCount(value, options.repeat))
        return UsageError("--repeat needs a whole number from 1 to 100000");
    } else if (std::strcmp(option, "--thumbnail") == 0) {
      if (!ParseCount(value, options.thumbnail, MinThumbnail, MaxThumbnail))
        return UsageError("--thumbnail needs a size from 16 to 1024");
    } else {
      return UsageError(std::string("unknown option '") + option + "'");
    }
  }
  if (!options.output) return UsageError("render needs -o OUT.png");
  // A thumbnail shows the model alone: the Render viewport, no panel.
  if (options.thumbnail && options.layout >= 0) return UsageError("--thumbnail shows no --layout");
  if (options.thumbnail && options.viewpoint < 0) options.viewpoint = 0;
  if (options.layout < 0) options.layout = 1;
  return 0;
}

void SetView(const RenderOptions& options) {
  if (options.viewpoint == 0) {
    ApplyStartupView();
  } else if (options.viewpoint > 0) {
    gShell.viewpoint = options.viewpoint;
    ApplyViewpoint();
  }
  gShell.viewLayout = options.layout;
}

// The whole screen in the background colour, so that the panel's place and
// the borders show it.
int ClearScreen() {
  int width = 0, height = 0;
  qlt_ScreenSize(&width, &height, nullptr);
  return qlt_SetRenderArea(1, 1, 0.0f, float(width), 0.0f, float(height));
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int DrawFrames(int count, bool named) {
  std::vector<double> milliseconds;
  for (int i = 0; i < count; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const int drawn = RenderViewports();
    if (named) DrawViewpointName();
    const std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
    if (!drawn) return Fail("could not draw the model: " + LibraryError());
    milliseconds.push_back(spent.count());
  }
  if (count > 1) std::fprintf(stderr, "frame ms: %.3f\n", Median(milliseconds));
  return 0;
}

// ---- thumbnails -------------------------------------------------------------------------
// A thumbnail is the Render viewport alone with the camera moved so that the
// model, turned as the view has it, fills a square of the viewport; that
// square scaled to the wanted size is the picture.

// The share of the square's side the model spans, so that its outline keeps
// clear of the edge.
constexpr double ThumbnailFill = 0.94;
// The picture is the same at any scale, so the model is scaled to put its
// nearest corner this far ahead of the camera: clear of the near plane (1),
// where the depth buffer is finest, and far from the far one.
constexpr double NearestDistance = 4;

// The smallest display mode whose Render viewport holds the square, else
// the largest: larger modes cost time, smaller ones sharpness.
int ThumbnailMode(int side) {
  for (int mode = 6; mode < QltModeNumbers; ++mode) {
    ViewportRect r;
    if (RenderViewportRect(1, QltModeSizes[mode - 1][0], QltModeSizes[mode - 1][1], &r) &&
        std::min(r.right - r.left, r.bottom - r.top) > float(side))
      return mode;
  }
  return QltModeNumbers;
}

// How the device maps a point (x, y, z) ahead of the camera to the screen:
// centre + focal * (x / z, y / z); taken from the current viewport and the
// projection, so that the framing matches the drawing.
struct ScreenMapping {
  double centreX, centreY, focalX, focalY;
  PixelRect area;  // the viewport's pixels
};

bool CurrentMapping(ScreenMapping* m) {
  D3DVIEWPORT2 v{};
  if (!_qlt_Device || _qlt_Device->GetViewport2(_qlt_Viewport, &v) != D3D_OK) return false;
  const D3DMATRIX& p = _qlt_ProjectionMatrix;
  const double kx = v.dwWidth / v.dvClipWidth, ky = -double(v.dwHeight) / v.dvClipHeight;
  *m = {v.dwX - kx * v.dvClipX,
        v.dwY - ky * v.dvClipY,
        kx * p._11 / p._34,
        ky * p._22 / p._34,
        {int(v.dwX), int(v.dwY), int(v.dwWidth), int(v.dwHeight)}};
  return true;
}

// A polygon with no area (thin, or with a corner at infinity) draws nothing,
// so it does not count for the framing.
bool CoversArea(const ModelVertex* p) {
  const double a[3] = {p[1].x - p[0].x, p[1].y - p[0].y, p[1].z - p[0].z};
  const double b[3] = {p[2].x - p[0].x, p[2].y - p[0].y, p[2].z - p[0].z};
  const double n[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
  const double area = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
  return area > 0 && std::isfinite(area);
}

// The corners of the drawn polygons in the model's place before the camera:
// turned by the view and moved by the model's offset.
std::vector<std::array<double, 3>> TurnedCorners() {
  std::vector<std::array<double, 3>> corners;
  const float(&turn)[3][3] = gShell.viewRotation;
  for (int i = 0; i < PolygonCount(); ++i) {
    const ModelVertex* polygon = &gModel.vertices[3 * i];
    if (!Drawable(MaterialOf(i)) || !CoversArea(polygon)) continue;
    for (int k = 0; k < 3; ++k) {
      const ModelVertex& v = polygon[k];
      std::array<double, 3> c;
      for (int r = 0; r < 3; ++r)
        c[r] = double(turn[r][0]) * v.x + double(turn[r][1]) * v.y + double(turn[r][2]) * v.z +
               gShell.modelOffset[r];
      corners.push_back(c);
    }
  }
  return corners;
}

void ScaleModel(double factor) {
  const float f = float(factor);
  for (int i = 0; i < std::min(gModel.vertexCount, MaxVertices); ++i) {
    ModelVertex& v = gModel.vertices[i];
    v.x *= f, v.y *= f, v.z *= f;
  }
  for (float& c : gShell.modelOffset) c *= f;
}

struct ScreenBounds {
  double left, right, top, bottom;
};

// Where the corners land on the screen with the camera at `camera` (in the
// turned model's space, looking along +z).
ScreenBounds BoundsOnScreen(const std::vector<std::array<double, 3>>& corners, const double camera[3],
                            const ScreenMapping& map) {
  const double far = std::numeric_limits<double>::infinity();
  ScreenBounds b = {far, -far, far, -far};
  for (const auto& c : corners) {
    const double depth = c[2] - camera[2];
    const double x = map.centreX + map.focalX * (c[0] - camera[0]) / depth;
    const double y = map.centreY + map.focalY * (c[1] - camera[1]) / depth;
    b = {std::min(b.left, x), std::max(b.right, x), std::min(b.top, y), std::max(b.bottom, y)};
  }
  return b;
}

// Places the camera (and scales the model) for the thumbnail and returns the
// square of the screen it fills.
int FrameThumbnail(const char* shownIn, PixelRect* square) {
  const std::vector<std::array<double, 3>> corners = TurnedCorners();
  if (corners.empty()) return Fail(std::string("nothing to draw in '") + shownIn + "'");
  int width = 0, height = 0;
  ViewportRect r;
  ScreenMapping map;
  if (!ScreenSize(&width, &height) || !RenderViewportRect(1, width, height, &r) ||
      !qlt_SetRenderArea(1, 1, r.left, r.right, r.top, r.bottom) || !CurrentMapping(&map))
    return Fail("could not set up the view: " + LibraryError());
  double lo[3], hi[3];
  for (int k = 0; k < 3; ++k) lo[k] = hi[k] = corners[0][k];
  for (const auto& c : corners)
    for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], c[k]), hi[k] = std::max(hi[k], c[k]);
  double extent = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
  if (!(extent > 0)) extent = 1;

  // Every corner must lie within the pyramid from the camera through the
  // square's edges: |x - camera x| <= tan * (z - camera z), likewise y.
  const int most = std::min(map.area.width, map.area.height);
  const double tanX = ThumbnailFill * most / 2 / std::fabs(map.focalX);
  const double tanY = ThumbnailFill * most / 2 / std::fabs(map.focalY);
  double camera[3] = {(lo[0] + hi[0]) / 2, (lo[1] + hi[1]) / 2, 0};
  ScreenBounds b{};
  for (int pass = 0;; ++pass) {
    // A little ahead of the model also, for a face seen flat on.
    camera[2] = lo[2] - 0.05 * extent;
    for (const auto& c : corners)
      camera[2] = std::min(
          camera[2], c[2] - std::max(std::fabs(c[0] - camera[0]) / tanX, std::fabs(c[1] - camera[1]) / tanY));
    b = BoundsOnScreen(corners, camera, map);
    if (pass == 3) break;
    // Perspective draws the near side larger, so the picture lies off the
    // line through the middle of the model; the camera moves across by that
    // offset as seen at the model's middle depth.
    const double depth = (lo[2] + hi[2]) / 2 - camera[2];
    camera[0] += ((b.left + b.right) / 2 - map.centreX) * depth / map.focalX;
    camera[1] += ((b.top + b.bottom) / 2 - map.centreY) * depth / map.focalY;
  }
  const int size =
      std::clamp(int(std::ceil(std::max(b.right - b.left, b.bottom - b.top) / ThumbnailFill)), 1, most);
  const int x = int(std::lround((b.left + b.right - size) / 2)),
            y = int(std::lround((b.top + b.bottom - size) / 2));
  *square = {std::clamp(x, map.area.left, map.area.left + map.area.width - size),
             std::clamp(y, map.area.top, map.area.top + map.area.height - size), size, size};

  const double scale = NearestDistance / (lo[2] - camera[2]);
  ScaleModel(scale);
  gShell.panX = float(scale * camera[0]);
  gShell.panY = float(scale * camera[1]);
  gShell.cameraZ = float(scale * camera[2]);
  return 0;
}

int RenderToFile(const char* in, const char* shownIn, const RenderOptions& options) {
  if (const int status = StartLibrary(options.modeNumber)) return status;
  if (const int status = OpenForCommand(in, shownIn)) return status;
  SetView(options);
  PixelRect square{};
  if (options.thumbnail)
    if (const int status = FrameThumbnail(shownIn, &square)) return status;
  if (!ClearScreen()) return Fail("could not clear the screen: " + LibraryError());
  if (const int status = DrawFrames(options.repeat, !options.thumbnail)) return status;
  const Surface& frame = _qlt_BackBuffer3->Pixels();
  // An empty picture writes no file.
  const bool written =
      options.thumbnail
          ? WritePngFile(options.output, ScaleRect(frame, square, options.thumbnail, options.thumbnail))
          : WritePngFile(options.output, frame);
  if (!written) return Fail(std::string("could not write '") + options.output + "'");
  return 0;
}

int RunRender(int argc, char** argv) {
  if (argc < 3) return UsageError("render needs IN and -o OUT.png");
  RenderOptions options;
  if (const int status = ParseRenderOptions(argc, argv, options)) return status;
  if (options.modeNumber == 0) options.modeNumber = options.thumbnail ? ThumbnailMode(options.thumbnail) : 6;
  if (!CanRead(ReadKindOf(argv[2])))
    return Fail(std::string("cannot read '") + argv[2] + "': unsupported file type");
  const std::string output = AbsolutePath(options.output);
  options.output = output.c_str();
  const std::string model = EnterModelFolder(argv[2]);
  if (model.empty()) return Fail(std::string("could not read '") + argv[2] + "': its folder cannot be entered");
  const int status = RenderToFile(model.c_str(), argv[2], options);
  qlt_Shutdown();
  return status;
}

}  // namespace

const char* const VersionText = "Vornix 3D! 1.0";

bool IsDesktopCommandLine(int argc, char** argv, DesktopArguments* out) {
  DesktopArguments arguments;
  int i = 1;
  if (i < argc && std::strcmp(argv[i], "--windowed") == 0) {
    arguments.windowed = true;
    ++i;
  }
  if (i < argc) {
    const char* word = argv[i];
    static const char* const commands[] = {"info", "convert", "render"};
    for (const char* command : commands)
      if (std::strcmp(word, command) == 0) return false;
    if (word[0] == '-' || i + 1 < argc) return false;
    arguments.file = word;
  }
  *out = arguments;
  return true;
}

int RunDesktopProgram(const DesktopArguments& arguments) {
  _qlt_InitTimer();
  ClearModel();
  DesktopOptions options;
  options.modelPath = arguments.file;
  return RunDesktop(options);
}

int RunCommandLine(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(Usage, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("%s\n", VersionText);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  ConsoleUI console;
  Answers answers;
  console.SetAnswerRule(AnswerQuestion, &answers);
  SetUi(&console);
  _qlt_InitTimer();
  ClearModel();

  int status = 2;
  if (argc >= 2 && std::strcmp(argv[1], "info") == 0) {
    status = RunInfo(argc, argv);
  } else if (argc >= 2 && std::strcmp(argv[1], "convert") == 0) {
    status = RunConvert(argc, argv, answers);
  } else if (argc >= 2 && std::strcmp(argv[1], "render") == 0) {
    status = RunRender(argc, argv);
  } else {
    std::fputs(Usage, stderr);
  }
  SetUi(nullptr);
  return status;
}
