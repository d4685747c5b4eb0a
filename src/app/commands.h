// The Open and Save commands, with the file dialogs' answers passed in.
#pragma once

// Which reader or writer a file name's extension chooses: the first
// character after the last dot, letters in either case.
enum class FileKind { Unknown, Native, DirectX, Dxf, Quelt, Studio3D, Pov };

FileKind ReadKindOf(const char* path);
FileKind WriteKindOf(const char* path);

// True when this build can read, respectively write, files of that kind.
bool CanRead(FileKind kind);
bool CanWrite(FileKind kind);

// The Open command after its dialog: reads the file by its extension, resets
// the view, rebuilds the library materials, clamps, cleans up, empties the
// PolyList, warns about too many polygons and offers to delete thin
// polygons. Returns 1 when a reader ran and succeeded.
int OpenModelFile(const char* path);

// The Save command after its dialog. filterIndex is the chosen entry of the
// save dialog (1 native, 2 X, 3 DXF, 4 Quelt, 5 POV) and gives the extension
// of a name without one. Returns 1 when a file was written.
int SaveModelFile(const char* path, int filterIndex);

// A Yes/No question under the product's caption; true for Yes.
bool AskYesNo(const char* question);

extern const char* const NothingToSaveText;
extern const char* const TooManyMaterialsText;
// The export reminder and the two questions of the X branch of Save.
extern const char* const ReminderText;
extern const char* const InvertVQuestionText;
extern const char* const StripUVQuestionText;
// The question of the DXF branch of Save.
extern const char* const DxfQuestionText;
