// The material editor: one material of the Model at a time, its colour
// values, texture and alpha bitmaps and hidden flag, stepping through the
// table and previewing the colour or the texture.
#pragma once

constexpr int MaterialEditorResource = 106;
enum MaterialEditorControl : int {
  MaterialGroup = 1096,
  MaterialIndexText = 1088,
  PreviousMaterial = 1005,
  NextMaterial = 1006,
  PreviewMaterial = 1092,
  HideMaterial = 1093,
  SurfaceRedField = 1017,
  SurfaceGreenField = 1018,
  SurfaceBlueField = 1019,
  SurfaceAlphaField = 1020,
  SpecularPowerField = 1030,
  SpecularRedField = 1031,
  SpecularGreenField = 1032,
  SpecularBlueField = 1033,
  EmissiveRedField = 1058,
  EmissiveGreenField = 1059,
  EmissiveBlueField = 1060,
  ChooseTexture = 1089,
  NoTexture = 1091,
  TextureNameText = 1061,
  ChooseAlpha = 1090,
  NoAlpha = 1094,
  AlphaNameText = 1062,
  PreviewSquare = 1095,
};

// Side of the preview square in pixels.
constexpr int MaterialPreviewSize = 48;

// Texts the editor shows.
extern const char* const NewMaterialMessage;  // "%d": the material's index
extern const char* const NoMaterialsMessage;

// Runs the editor modally on the Model's materials. 1 for OK (the shown
// values were stored into the current material), 0 for Cancel; also 0,
// after a message, when the Model has no material to edit, and when the
// dialog could not be shown. Texture and alpha names, the hidden flag and
// what "<<" and ">>" stored stay in the materials even after Cancel.
int RunMaterialEditor();
