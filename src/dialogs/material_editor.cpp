#include "dialogs/material_editor.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dialogs/value_text.h"
#include "model/model.h"
#include "platform/bmp.h"
#include "platform/dialog.h"
#include "platform/ui.h"
#include "render/qlt.h"
#include "render/texture_files.h"

const char* const NewMaterialMessage = "The selected polygons have been assigned to material #%d";
const char* const NoMaterialsMessage =
    "This model has no materials to edit.\n\nLoad a model or assign polygons to a new material first.";

namespace {

const char* const ProductCaption = "Vornix 3D!";
constexpr int MaxFileName = FileNameSize - 1;

struct ValueBinding {
  int id;
  float ModelMaterial::*value;
};

// In the order of the table on screen.
constexpr int ValueCount = 11;
const ValueBinding Values[ValueCount] = {
    {SurfaceRedField, &ModelMaterial::red},
    {SurfaceGreenField, &ModelMaterial::green},
    {SurfaceBlueField, &ModelMaterial::blue},
    {SurfaceAlphaField, &ModelMaterial::alpha},
    {SpecularPowerField, &ModelMaterial::specularPower},
    {SpecularRedField, &ModelMaterial::specularRed},
    {SpecularGreenField, &ModelMaterial::specularGreen},
    {SpecularBlueField, &ModelMaterial::specularBlue},
    {EmissiveRedField, &ModelMaterial::emissiveRed},
    {EmissiveGreenField, &ModelMaterial::emissiveGreen},
    {EmissiveBlueField, &ModelMaterial::emissiveBlue},
};
constexpr int SurfaceSlot[3] = {0, 1, 2}, EmissiveSlot[3] = {8, 9, 10};

const DialogTemplate MaterialEditorTemplate = {
    MaterialEditorResource,
    "Material Editor",
    {
        // Two columns of values beside the preview, so the editor fits a
        // 640 x 480 screen.
        {MaterialGroup, ControlKind::GroupBox, "Edit Material", 0, 0, 2, 1},
        {PreviousMaterial, ControlKind::Button, "<<", 0, 0, 1, 1, MaterialGroup},
        {MaterialIndexText, ControlKind::StaticText, "XX", 1, 0, 1, 1, MaterialGroup},
        {NextMaterial, ControlKind::Button, ">>", 2, 0, 1, 1, MaterialGroup},
        {0, ControlKind::StaticText, "Surface Red", 0, 1, 1, 1, MaterialGroup},
        {SurfaceRedField, ControlKind::Edit, "", 1, 1, 1, 1, MaterialGroup},
        {0, ControlKind::StaticText, "Surface Green", 0, 2, 1, 1, MaterialGroup},
        {SurfaceGreenField, ControlKind::Edit, "", 1, 2, 1, 1, MaterialGroup},
        {0, ControlKind::StaticText, "Surface Blue", 0, 3, 1, 1, MaterialGroup},
        {SurfaceBlueField, ControlKind::Edit, "", 1, 3, 1, 1, MaterialGroup},
        {0, ControlKind::StaticText, "Surface Alpha", 0, 4, 1, 1, MaterialGroup},
        {SurfaceAlphaField, ControlKind::Edit, "", 1, 4, 1, 1, MaterialGroup},
        {0, ControlKind::StaticText, "Specular Power", 0, 5, 1, 1, MaterialGroup},
        {SpecularPowerField, ControlKind::Edit, "", 1, 5, 1, 1, MaterialGroup},
        {0, ControlKind::StaticText, "Specular Red", 2, 1, 1, 1, MaterialGroup},
        {SpecularRedField, ControlKind::Edit, "", 3, 1, 1, 1, MaterialGroup},
        {0, ControlKind::StaticText, "Specular Green", 2, 2, 1, 1, MaterialGroup},
        {SpecularGreenField, ControlKind::Edit, "", 3, 2, 1, 1, MaterialGroup},
        {0, ControlKind::StaticText, "Specular Blue", 2, 3, 1, 1, MaterialGroup},
        {SpecularBlueField, ControlKind::Edit, "", 3, 3, 1, 1, MaterialGroup},
        {0, ControlKind::StaticText, "Emissive Red", 2, 4, 1, 1, MaterialGroup},
        {EmissiveRedField, ControlKind::Edit, "", 3, 4, 1, 1, MaterialGroup},
        {0, ControlKind::StaticText, "Emissive Green", 2, 5, 1, 1, MaterialGroup},
        {EmissiveGreenField, ControlKind::Edit, "", 3, 5, 1, 1, MaterialGroup},
        {0, ControlKind::StaticText, "Emissive Blue", 2, 6, 1, 1, MaterialGroup},
        {EmissiveBlueField, ControlKind::Edit, "", 3, 6, 1, 1, MaterialGroup},
        {PreviewSquare, ControlKind::PaintArea, "", 4, 0, 1, 3, MaterialGroup, 0, MaterialPreviewSize,
         MaterialPreviewSize},
        {PreviewMaterial, ControlKind::Button, "Preview Material", 4, 3, 1, 1, MaterialGroup},
        {HideMaterial, ControlKind::CheckBox, "Hide Material", 4, 4, 1, 1, MaterialGroup},
        {ChooseTexture, ControlKind::Button, "Texture Filename", 0, 7, 1, 1, MaterialGroup},
        {TextureNameText, ControlKind::ReadOnlyEdit, "", 1, 7, 3, 1, MaterialGroup},
        {NoTexture, ControlKind::Button, "No Texture", 4, 7, 1, 1, MaterialGroup},
        {ChooseAlpha, ControlKind::Button, "Alpha Filename", 0, 8, 1, 1, MaterialGroup},
        {AlphaNameText, ControlKind::ReadOnlyEdit, "", 1, 8, 3, 1, MaterialGroup},
        {NoAlpha, ControlKind::Button, "No Alpha", 4, 8, 1, 1, MaterialGroup},
        {0, ControlKind::StaticText,
         "* Values (except specular power) must range from 0 to 1\n"
         "* To turn off specular highlights, set specular power to 0\n"
         "* Some hardware only supports grayscale specular (r=g=b)",
         0, 9, 5, 1, MaterialGroup},
        {0, ControlKind::StaticText,
         "* After adding a texture, project texture coordinates onto its polygons, or the texture may not be "
         "visible",
         0, 10, 5, 1, MaterialGroup},
        {IDC_OK, ControlKind::DefaultButton, "OK", 0, 1},
        {IDC_CANCEL, ControlKind::Button, "Cancel", 1, 1},
    },
};

struct EditorState {
  int current = 0;
  int count = 0;       // materials the editor may step through
  int announced = -1;  // the newly assigned material, or -1
  ValueText values[ValueCount];
  char texture[FileNameSize] = "";
  char alpha[FileNameSize] = "";
};

ModelMaterial& Current(const EditorState& state) { return gModel.materials[state.current]; }

// Material names may come from files that did not terminate them.
void CopyName(char* target, const char* source) {
  const size_t length = strnlen(source, MaxFileName);
  std::memset(target, 0, FileNameSize);
  std::memcpy(target, source, length);
}

void Load(Dialog& dialog, EditorState& state) {
  const ModelMaterial& m = Current(state);
  char index[16];
  std::snprintf(index, sizeof index, "%d", state.current);
  dialog.SetDlgItemText(MaterialIndexText, index);
  for (int k = 0; k < ValueCount; ++k)
    ShowFieldText(dialog, Values[k].id, FormatValue(m.*Values[k].value).c_str(), &state.values[k]);
  CopyName(state.texture, m.textureFile);
  dialog.SetDlgItemText(TextureNameText, state.texture);
  CopyName(state.alpha, m.alphaFile);
  dialog.SetDlgItemText(AlphaNameText, state.alpha);
  dialog.CheckDlgButton(HideMaterial, m.hidden == 1);
}

void Store(const Dialog& dialog, EditorState& state) {
  ModelMaterial& m = Current(state);
  for (int k = 0; k < ValueCount; ++k) {
    CopyFieldText(dialog, Values[k].id, &state.values[k]);
    m.*Values[k].value = TextValue(state.values[k].text);
  }
  CopyName(m.textureFile, state.texture);
  m.hasTexture = state.texture[0] != '\0';
  CopyName(m.alphaFile, state.alpha);
  m.hasAlpha = state.alpha[0] != '\0';
}

// Creates `target` as a copy of `source`; never replaces an existing file,
// and removes what it wrote when the copy fails part way.
bool CopyIntoNewFile(const std::string& source, const char* target) {
  const int in = open(source.c_str(), O_RDONLY);
  if (in < 0) return false;
  const int out = open(target, O_WRONLY | O_CREAT | O_EXCL, 0666);
  if (out < 0) {
    close(in);
    return false;
  }
  bool ok = true;
  std::vector<char> block(1 << 16);
  while (ok) {
    const ssize_t got = read(in, block.data(), block.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    for (ssize_t done = 0; ok && done < got;) {
      const ssize_t put = write(out, block.data() + done, size_t(got - done));
      if (put < 0 && errno == EINTR) continue;
      ok = put > 0;
      if (ok) done += put;
    }
  }
  close(in);
  if (close(out) != 0) ok = false;
  if (!ok) unlink(target);
  return ok;
}

// Bitmaps are named by their bare file name and must lie in the current
// folder, where the renderer looks for them. Returns false, after telling
// the user, when the chosen file cannot be used.
bool BringIntoCurrentFolder(const std::string& path, std::string* name) {
  const size_t slash = path.rfind('/');
  *name = slash == std::string::npos ? path : path.substr(slash + 1);
  char message[600];
  if (name->empty()) return false;
  if (name->size() > size_t(MaxFileName)) {
    std::snprintf(message, sizeof message,
                  "The file name %.300s is too long: bitmap file names may have at most %d characters.\n\n"
                  "Rename the file and choose it again.",
                  name->c_str(), MaxFileName);
    MessageBoxSafe(message, "Error", MB_OK);
    return false;
  }
  // A file of that name already here is used as it is; that is also the
  // case of a file chosen from the current folder itself.
  struct stat info {};
  if (lstat(name->c_str(), &info) == 0) return true;
  if (CopyIntoNewFile(path, name->c_str())) return true;
  std::snprintf(message, sizeof message,
                "Could not copy %.300s into the current folder.\n\nThe bitmap was not changed.",
                path.c_str());
  MessageBoxSafe(message, "Error", MB_OK);
  return false;
}

void ChooseBitmap(Dialog& dialog, char* buffer, char* materialName, int shownId) {
  FileDialogRequest request;
  request.save = false;
  request.filters = {{" All Formats (*.bmp;*.ppm)", "*.bmp;*.ppm"},
                     {" Windows Bitmap (*.bmp)", "*.bmp"},
                     {" PPM Bitmap (*.ppm)", "*.ppm"}};
  if (_qlt_IsPictureExtension(".png")) {
    request.filters[0] = {" All Formats (*.bmp;*.ppm;*.png;*.jpg;*.tga;*.gif)",
                          "*.bmp;*.ppm;*.png;*.jpg;*.jpeg;*.tga;*.gif"};
    request.filters.push_back({" Picture (*.png;*.jpg;*.tga;*.gif)", "*.png;*.jpg;*.jpeg;*.tga;*.gif"});
  }
  request.flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
  // Not GetFileName: that would move the current folder to the chosen
  // file's, and the copy belongs in the folder the model works in.
  FileDialogResult chosen;
  if (!Ui().FileDialog(request, &chosen) || chosen.path.empty()) return;
  std::string name;
  if (!BringIntoCurrentFolder(chosen.path, &name)) return;
  CopyName(buffer, name.c_str());
  CopyName(materialName, buffer);
  dialog.SetDlgItemText(shownId, buffer);
}

void ClearBitmap(Dialog& dialog, char* buffer, char* materialName, int shownId) {
  CopyName(buffer, "");
  CopyName(materialName, "");
  dialog.SetDlgItemText(shownId, buffer);
}

// value x 255, truncated, low 8 bits; a value past the integers counts as 0.
int ColourPart(const char* text) {
  const double scaled = double(TextValue(text)) * 255.0;
  if (!(scaled > -2147483648.0 && scaled < 2147483648.0)) return 0;
  return int(scaled) & 0xFF;
}

// The colour the field texts describe, surface plus emissive.
uint32_t PreviewColour(const EditorState& state) {
  uint32_t colour = 0;
  for (int k = 0; k < 3; ++k) {
    const int channel = std::min(
        255, ColourPart(state.values[SurfaceSlot[k]].text) + ColourPart(state.values[EmissiveSlot[k]].text));
    colour = colour << 8 | uint32_t(channel);
  }
  return colour;
}

bool PaintTexture(Dialog& dialog, const char* name) {
  const char* extension = _qlt_FileExtension(name);
  const std::string path = _qlt_TexturePath(name);
  // Made outside the current folder, which may be read-only.
  const QltTemporaryFile square;
  const char* squareFile = square.path().c_str();
  int converted = 0;
  if (strcasecmp(extension, ".bmp") == 0)
    converted = _qlt_AnyBMPtoSquare24BitBMP(path.c_str(), squareFile);
  else if (strcasecmp(extension, ".ppm") == 0)
    converted = _qlt_AnyPPMtoSquare24BitBMP(path.c_str(), squareFile);
  else if (_qlt_IsPictureExtension(extension))
    converted = _qlt_AnyPictureToSquare24BitBMP(path.c_str(), squareFile);
  BmpImage image;
  if (!converted || ReadBmpFile(squareFile, &image) != BmpResult::Ok || image.width <= 0 ||
      image.height <= 0)
    return false;
  std::vector<uint32_t> pixels(size_t(MaterialPreviewSize) * MaterialPreviewSize);
  for (int y = 0; y < MaterialPreviewSize; ++y)
    for (int x = 0; x < MaterialPreviewSize; ++x) {
      const uint8_t* p =
          image.At(x * image.width / MaterialPreviewSize, y * image.height / MaterialPreviewSize);
      pixels[size_t(y) * MaterialPreviewSize + size_t(x)] = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
  dialog.Paint(PreviewSquare, pixels);
  return true;
}

void Preview(Dialog& dialog, const EditorState& state) {
  if (state.texture[0] != '\0' && PaintTexture(dialog, state.texture)) return;
  dialog.Paint(PreviewSquare, std::vector<uint32_t>(size_t(MaterialPreviewSize) * MaterialPreviewSize,
                                                    PreviewColour(state)));
}

void Open(Dialog& dialog, EditorState& state) {
  // Cleared only once the dialog exists, so a dialog that cannot be shown
  // does not lose the announcement.
  if (state.announced >= 0) {
    gModel.materials[state.announced].newlyAssigned = 0;
    char message[96];
    std::snprintf(message, sizeof message, NewMaterialMessage, state.announced);
    MessageBoxSafe(message, ProductCaption, MB_OK);
  }
  Load(dialog, state);
}

int MaterialEditorProc(Dialog& dialog, DialogMessage message, int control, Notification code, void* context) {
  EditorState& state = *static_cast<EditorState*>(context);
  if (message == DialogMessage::Init) {
    Open(dialog, state);
    return 1;
  }
  if (code == Notification::EditChanged) {
    for (int k = 0; k < ValueCount; ++k)
      if (Values[k].id == control) {
        CopyFieldText(dialog, control, &state.values[k]);
        return 1;
      }
    return 0;
  }
  if (code != Notification::Clicked) return 0;
  ModelMaterial& m = Current(state);
  switch (control) {
    case IDC_OK:
      Store(dialog, state);
      dialog.EndDialog(1);
      break;
    case IDC_CANCEL:
      dialog.EndDialog(0);
      break;
    case PreviousMaterial:
    case NextMaterial:
      Store(dialog, state);
      state.current = std::clamp(state.current + (control == NextMaterial ? 1 : -1), 0, state.count - 1);
      Load(dialog, state);
      break;
    case ChooseTexture:
      ChooseBitmap(dialog, state.texture, m.textureFile, TextureNameText);
      break;
    case NoTexture:
      ClearBitmap(dialog, state.texture, m.textureFile, TextureNameText);
      break;
    case ChooseAlpha:
      ChooseBitmap(dialog, state.alpha, m.alphaFile, AlphaNameText);
      break;
    case NoAlpha:
      ClearBitmap(dialog, state.alpha, m.alphaFile, AlphaNameText);
      break;
    // The box has already toggled itself; the flag follows it.
    case HideMaterial:
      m.hidden = dialog.IsDlgButtonChecked(HideMaterial);
      break;
    case PreviewMaterial:
      Preview(dialog, state);
      break;
    default:
      return 0;
  }
  return 1;
}

// The material the editor opens on: a newly assigned one, else that of the
// first polygon in the PolyList, else 0.
void ChooseFirst(EditorState& state) {
  for (int i = 0; i < state.count; ++i)
    if (gModel.materials[i].newlyAssigned == 1) {
      state.current = state.announced = i;
      return;
    }
  const int vertices = std::clamp(gModel.vertexCount, 0, MaxVertices);
  for (int i = 0; i < vertices; ++i)
    if (gModel.vertices[i].selected == 1) {
      state.current = std::clamp(gModel.vertices[i].material, 0, state.count - 1);
      return;
    }
}

}  // namespace

int RunMaterialEditor() {
  EditorState state;
  state.count = std::min(gModel.materialCount, MaxMaterials);
  if (state.count <= 0) {
    MessageBoxSafe(NoMaterialsMessage, ProductCaption, MB_OK);
    return 0;
  }
  ChooseFirst(state);
  return DialogBox(MaterialEditorTemplate, MaterialEditorProc, &state) == 1 ? 1 : 0;
}
