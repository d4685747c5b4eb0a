#include "render/texture_files.h"

#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifdef VORNIX_HAVE_PIXBUF
#include <gdk-pixbuf/gdk-pixbuf.h>
#endif

#include "platform/bmp.h"
#include "platform/paths.h"
#include "render/qlt.h"

std::string _qlt_TexturePath(const char* name) {
  std::string found;
  FindFileAnyCase(name ? name : "", &found);
  return found;
}

void _qlt_ErrorNamesFileAs(const std::string& opened, const char* name) {
  if (!name || opened.empty() || opened == name) return;
  // File messages carry no result code, so the text is
  // "operation\nmessage\n\n"; any other text is left as it is.
  const std::string text = qlt_GetErrorString();
  const size_t operationEnd = text.find('\n');
  if (text.size() < 3 || text.compare(text.size() - 2, 2, "\n\n") != 0 || operationEnd + 2 > text.size() - 1)
    return;
  std::string message = text.substr(operationEnd + 1, text.size() - 2 - (operationEnd + 1));
  const size_t nameLength = strlen(name);
  for (size_t at = message.find(opened); at != std::string::npos; at = message.find(opened, at + nameLength))
    message.replace(at, opened.size(), name);
  _qlt_SetError(text.substr(0, operationEnd).c_str(), message.c_str(), 0);
}

QltTemporaryFile::QltTemporaryFile() {
  const char* folder = getenv("TMPDIR");
  std::string pattern = std::string(folder && *folder ? folder : "/tmp") + "/vornix_texture_XXXXXX";
  const int handle = mkstemp(pattern.data());
  if (handle < 0) return;
  close(handle);
  path_ = pattern;
}

QltTemporaryFile::~QltTemporaryFile() {
  if (!path_.empty()) unlink(path_.c_str());
}

namespace {

int FailNamed(const char* operation, const char* format, const char* name, const char* detail = "") {
  char message[QltErrorStringSize];
  snprintf(message, sizeof message, format, name ? name : "", detail);
  _qlt_SetError(operation, message, 0);
  return 0;
}

}  // namespace

#ifdef VORNIX_HAVE_PIXBUF

namespace {

// gdk-pixbuf's names of the formats taken. Whatever the extension says, a
// file of another kind (an SVG, say) never reaches its loader.
const char* const PictureFormats[] = {"png", "jpeg", "tga", "gif"};

enum class HeaderStatus { Ok, NotPicture, TooLarge };

struct PictureHeader {
  std::string format;
  int width = 0, height = 0;
};

HeaderStatus ReadHeader(const char* fileName, PictureHeader* header) {
  GdkPixbufFormat* format = gdk_pixbuf_get_file_info(fileName, &header->width, &header->height);
  if (!format) return HeaderStatus::NotPicture;
  gchar* name = gdk_pixbuf_format_get_name(format);
  header->format = name ? name : "";
  g_free(name);
  bool known = false;
  for (const char* f : PictureFormats) known = known || header->format == f;
  if (!known || header->width <= 0 || header->height <= 0) return HeaderStatus::NotPicture;
  if (header->width > QltMaxPictureSide || header->height > QltMaxPictureSide ||
      int64_t(header->width) * header->height > BmpMaxPixels)
    return HeaderStatus::TooLarge;
  return HeaderStatus::Ok;
}

// The size the decoder announces must be the one checked: should the file
// have changed meanwhile, a zero size tells the loader to allocate nothing.
struct SizeGuard {
  int width, height;
  bool changed = false;
};

void OnSizePrepared(GdkPixbufLoader* loader, int width, int height, gpointer data) {
  SizeGuard* guard = static_cast<SizeGuard*>(data);
  if (width == guard->width && height == guard->height) return;
  guard->changed = true;
  gdk_pixbuf_loader_set_size(loader, 0, 0);
}

// Colour channels, top row first; false for a layout not expected of the
// four loaders.
bool CopyPixels(GdkPixbuf* pixbuf, const PictureHeader& header, BmpImage* image) {
  const int width = gdk_pixbuf_get_width(pixbuf), height = gdk_pixbuf_get_height(pixbuf);
  const int channels = gdk_pixbuf_get_n_channels(pixbuf), stride = gdk_pixbuf_get_rowstride(pixbuf);
  if (gdk_pixbuf_get_colorspace(pixbuf) != GDK_COLORSPACE_RGB ||
      gdk_pixbuf_get_bits_per_sample(pixbuf) != 8 || (channels != 3 && channels != 4) ||
      width != header.width || height != header.height || stride < width * channels)
    return false;
  // The last row need not be padded to the stride.
  const size_t needed = size_t(stride) * size_t(height - 1) + size_t(width) * size_t(channels);
  if (gdk_pixbuf_get_byte_length(pixbuf) < needed) return false;
  const guint8* pixels = gdk_pixbuf_read_pixels(pixbuf);
  image->width = width;
  image->height = height;
  image->hasAlpha = false;
  image->rgba.assign(size_t(width) * size_t(height) * 4, 255);
  for (int y = 0; y < height; ++y) {
    const guint8* row = pixels + size_t(y) * size_t(stride);
    uint8_t* out = &image->rgba[size_t(y) * size_t(width) * 4];
    for (int x = 0; x < width; ++x) memcpy(out + size_t(x) * 4, row + size_t(x) * size_t(channels), 3);
  }
  return true;
}

// Feeds the open file to the loader of the checked format. Returns the
// decoder's reason on failure, "" on success.
std::string Decode(int handle, const PictureHeader& header, BmpImage* image) {
  GError* error = nullptr;
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type(header.format.c_str(), &error);
  if (!loader) {
    const std::string reason = error ? error->message : "no decoder for the picture";
    if (error) g_error_free(error);
    return reason;
  }
  SizeGuard guard{header.width, header.height};
  g_signal_connect(loader, "size-prepared", G_CALLBACK(OnSizePrepared), &guard);
  std::vector<uint8_t> block(1 << 16);
  bool fed = true, read = true;
  for (int32_t done = 0; fed;) {
    read = qlt_FileRead(handle, block.data(), int32_t(block.size()), &done) == 1;
    if (!read || done <= 0) break;
    fed = gdk_pixbuf_loader_write(loader, block.data(), gsize(done), &error);
  }
  // A loader must be closed even after a failed write; its first error is kept.
  const bool closed = gdk_pixbuf_loader_close(loader, fed ? &error : nullptr);
  std::string reason;
  if (guard.changed)
    reason = "the picture changed while it was read";
  else if (!read)
    reason = "the file could not be read";
  else if (!fed || !closed)
    reason = error ? error->message : "the picture could not be decoded";
  else if (GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
           !pixbuf || !CopyPixels(pixbuf, header, image))
    reason = "the decoder gave no picture of the announced size";
  if (error) g_error_free(error);
  g_object_unref(loader);
  return reason;
}

}  // namespace

bool _qlt_IsPictureExtension(const char* extension) {
  for (const char* known : {".png", ".jpg", ".jpeg", ".tga", ".gif"})
    if (strcasecmp(extension, known) == 0) return true;
  return false;
}

int _qlt_PictureSize(const char* fileName, int* width, int* height) {
  PictureHeader header;
  if (!fileName || ReadHeader(fileName, &header) != HeaderStatus::Ok) return 0;
  *width = header.width;
  *height = header.height;
  return 1;
}

int _qlt_PictureTo24BitBMP(const char* sourceFile, const char* bmpFile, const char* operation) {
  const int handle = sourceFile ? qlt_FileOpen(sourceFile, QLT_FILE_READ) : -1;
  if (handle < 0) return FailNamed(operation, "Could not open picture file: %s", sourceFile);
  PictureHeader header;
  const HeaderStatus status = ReadHeader(sourceFile, &header);
  BmpImage image;
  std::string reason;
  if (status == HeaderStatus::Ok) reason = Decode(handle, header, &image);
  qlt_FileClose(handle);
  if (status == HeaderStatus::NotPicture)
    return FailNamed(operation, "%s : Not a PNG, JPEG, TGA or GIF picture!", sourceFile);
  if (status == HeaderStatus::TooLarge) {
    char size[96];
    snprintf(size, sizeof size, "%d x %d pixels", header.width, header.height);
    return FailNamed(operation, "%s : The picture is too large (%s)!", sourceFile, size);
  }
  if (!reason.empty()) return FailNamed(operation, "%s : %s", sourceFile, reason.c_str());
  if (!bmpFile || !WriteBmp24File(bmpFile, image))
    return FailNamed(operation, "Could not write BMP file: %s", bmpFile);
  return 1;
}

#else  // without gdk-pixbuf no extension is a picture

bool _qlt_IsPictureExtension(const char*) { return false; }

int _qlt_PictureSize(const char*, int*, int*) { return 0; }

int _qlt_PictureTo24BitBMP(const char* sourceFile, const char*, const char* operation) {
  return FailNamed(operation, "%s : This program was built without picture decoding!", sourceFile);
}

#endif

int _qlt_AnyPictureToSquare24BitBMP(const char* sourceFile, const char* targetFile) {
  const char* const operation = "_qlt_AnyPictureToSquare24BitBMP";
  const QltTemporaryFile temp;
  if (temp.path().empty()) {
    _qlt_SetError(operation, "Can not create a temporary windows bitmap file", 0);
    return 0;
  }
  return _qlt_PictureTo24BitBMP(sourceFile, temp.path().c_str(), operation) &&
         _qlt_AnyBMPtoSquare24BitBMP(temp.path().c_str(), targetFile);
}
