// Texture and alpha files as the library finds and reads them: names
// written on another system, and pictures in the common formats (PNG, JPEG,
// TGA, GIF), decoded with gdk-pixbuf where the program was built with it.
// A picture becomes an ordinary 24-bit bitmap first, so everything after
// that is the bitmap path, pixel for pixel.
#pragma once

#include <string>

// The file a texture name means here: the name itself when it exists, else
// with backslashes as folder separators and each part matched in any case;
// the name unchanged when nothing matches.
std::string _qlt_TexturePath(const char* name);

// The converters name the file they opened, but the user knows it by the
// name the model gives it: puts `name` for `opened` in the error text.
void _qlt_ErrorNamesFileAs(const std::string& opened, const char* name);

// Whether the extension (with its dot, any case) is ".png", ".jpg",
// ".jpeg", ".tga" or ".gif" and this build decodes pictures.
bool _qlt_IsPictureExtension(const char* extension);

// A picture with a longer side, or more pixels than a bitmap may have, is
// refused from its header, before anything is decoded.
constexpr int QltMaxPictureSide = 16384;

// Width and height from the picture's header alone; 0 when it cannot be
// read or would be refused.
int _qlt_PictureSize(const char* fileName, int* width, int* height);

// The picture's colour channels (any alpha dropped) as an uncompressed
// 24-bit bitmap file of the same size. Returns 1, or 0 with the file and the
// reason in the error text under `operation`.
int _qlt_PictureTo24BitBMP(const char* sourceFile, const char* bmpFile, const char* operation);

// As _qlt_AnyBMPtoSquare24BitBMP, through a temporary bitmap of the picture
// outside the current folder, removed again.
int _qlt_AnyPictureToSquare24BitBMP(const char* sourceFile, const char* targetFile);

// A new empty file in the system's temporary folder, removed with the
// object; the path is empty when none could be made.
class QltTemporaryFile {
 public:
  QltTemporaryFile();
  ~QltTemporaryFile();
  QltTemporaryFile(const QltTemporaryFile&) = delete;
  QltTemporaryFile& operator=(const QltTemporaryFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};
