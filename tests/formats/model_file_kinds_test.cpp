// Every model reader refuses what is no ordinary model file, before reading it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "formats/dxf_import.h"
#include "formats/qlt_file.h"
#include "formats/studio_import.h"
#include "formats/x_import.h"
#include "model/model.h"
#include "model/native_file.h"
#include "platform/scripted/scripted_ui.h"
#include "render/qlt.h"
#include "support/model_builder.h"

namespace {

struct Reader {
  const char* name;
  int (*read)(const char*);
  const char* openFailure;  // the reader's own message, before the path
};

// A FIFO without a writer, a folder, a 5 GB sparse file and an endless
// device: each refused at once with the reader's open failure, the Model
// kept. A hanging open ends the run by the alarm.
TEST(ModelFileKinds, FifoFolderHugeFileAndDeviceAreRefusedBeforeReading) {
  const std::string folder = TempPath("kinds");
  const std::string fifo = folder + "/pipe.x", huge = folder + "/huge.x";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int fd = open(huge.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, off_t(5) << 30), 0);  // no disk used
  close(fd);

  const Reader readers[] = {{"native", LoadNativeModel, "Could not open file: "},
                            {"X", ImportX, "Could not open X file: "},
                            {"DXF", ImportDXF, "Could not open file: "},
                            {"3DS", Import3DS, "Could not open file: "},
                            {"QLT", ImportQLT, "Could not open 3D Model file: "}};
  ClearModel();
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 0);
  SetMaterial(0, 0.25f, 0.5f, 0.75f);
  RecomputeBounds();
  ModelVertex vertex = gModel.vertices[2];
  ScopedScriptedUI scripted;
  for (const Reader& reader : readers) {
    for (const std::string& path : {fifo, folder, huge, std::string("/dev/zero")}) {
      scripted.ui.messages.clear();
      _qlt_SetError("", "", 0);
      alarm(20);
      EXPECT_EQ(reader.read(path.c_str()), 0) << reader.name << " " << path;
      alarm(0);
      // The Quelt reader leaves its failure in the error text, the others show it.
      const std::string expected = reader.openFailure + path;
      const std::string got = reader.read == ImportQLT ? qlt_GetErrorString()
                              : scripted.ui.messages.size() == 1
                                  ? scripted.ui.messages[0].text + "|" + scripted.ui.messages[0].caption
                                  : std::to_string(scripted.ui.messages.size()) + " messages";
      EXPECT_EQ(got, reader.read == ImportQLT ? "ImportQLT\n" + expected + "\n\n" : expected + "|Error")
          << reader.name;
      EXPECT_TRUE(gModel.vertexCount == 3 && gModel.materialCount == 1 &&
                  std::memcmp(&gModel.vertices[2], &vertex, sizeof vertex) == 0)
          << reader.name << " " << path;
    }
  }
  unlink(fifo.c_str());
  unlink(huge.c_str());
  rmdir(folder.c_str());
}

}  // namespace
