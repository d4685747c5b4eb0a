#include "app/cli.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/commands.h"
#include "model/geometry.h"
#include "model/model.h"
#include "model/normals.h"
#include "platform/console/console_ui.h"
#include "render/qlt.h"

namespace {

const char* const Usage =
    "usage: vornix info FILE\n"
    "       vornix convert IN OUT [--delete-thin] [--center] [--rotate X,Y,Z] [--scale F]\n"
    "                             [--smooth DEG] [--flip-v] [--strip-uv]\n";

struct ConvertOptions {
  bool deleteThin = false;
  bool center = false;
  bool rotate = false;
  float rotation[3] = {0, 0, 0};
  bool scale = false;
  float scaleFactor = 1;
  bool smooth = false;
  float smoothAngle = 0;
  bool flipV = false;
  bool stripUV = false;
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

// The smoothing dialog accepts 0 to 179 degrees.
bool SmoothAngleInRange(float angle) { return angle >= 0.0f && angle <= 179.0f; }

// Returns 0 when every option parsed, else the exit status after a message.
int ParseConvertOptions(int argc, char** argv, int first, ConvertOptions& options) {
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
    } else if (std::strcmp(option, "--smooth") == 0) {
      if (!ParseNumber(value, options.smoothAngle) || !SmoothAngleInRange(options.smoothAngle))
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
  if (options.scale) {
    ScaleX(options.scaleFactor);
    ScaleY(options.scaleFactor);
    ScaleZ(options.scaleFactor);
  }
  if (options.smooth) {
    SelectAll();
    CalculateNormals(options.smoothAngle);
    SelectNone();
  }
}

int OpenForCommand(const char* path) {
  if (!CanRead(ReadKindOf(path)))
    return Fail(std::string("cannot read '") + path + "': unsupported file type");
  if (!OpenModelFile(path)) return Fail(std::string("could not read '") + path + "'");
  return 0;
}

void PrintInfo() {
  std::printf("vertices: %d\n", gModel.vertexCount);
  std::printf("polygons: %d\n", gModel.vertexCount / 3);
  std::printf("materials: %d\n", gModel.materialCount);
  std::printf("projections: %d\n", gModel.projectionCount);
  std::printf("bounds: %f %f %f %f %f %f\n", gModel.minX, gModel.minY, gModel.minZ, gModel.maxX, gModel.maxY,
              gModel.maxZ);
  std::printf("radius: %f\n", gModel.modelRadius);
  for (int i = 0; i < gModel.materialCount; ++i) {
    const ModelMaterial& m = gModel.materials[i];
    std::printf("material %d: %f %f %f %f %f texture=\"%s\" alpha=\"%s\"\n", i, m.red, m.green, m.blue,
                m.alpha, m.specularPower, m.textureFile, m.alphaFile);
  }
}

int RunInfo(int argc, char** argv) {
  if (argc != 3) return Fail("info needs exactly one FILE");
  if (const int status = OpenForCommand(argv[2])) return status;
  PrintInfo();
  return std::fflush(stdout) == 0 ? 0 : Fail("could not write the information");
}

int RunConvert(int argc, char** argv, Answers& answers) {
  if (argc < 4) return Fail("convert needs IN and OUT");
  const char* in = argv[2];
  const char* out = argv[3];
  ConvertOptions options;
  if (const int status = ParseConvertOptions(argc, argv, 4, options)) return status;
  if (!CanWrite(WriteKindOf(out)))
    return Fail(std::string("cannot write '") + out + "': unsupported file type");
  answers.deleteThin = options.deleteThin;
  answers.flipV = options.flipV;
  answers.stripUV = options.stripUV;
  if (const int status = OpenForCommand(in)) return status;
  ApplyConvertOptions(options);
  if (!SaveModelFile(out, 1)) return Fail(std::string("could not write '") + out + "'");
  return 0;
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
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
  } else {
    std::fputs(Usage, stderr);
  }
  SetUi(nullptr);
  return status;
}
