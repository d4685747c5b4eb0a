// A corpus model whose textures are pictures renders as it does with the same
// textures saved as bitmaps, through the program itself.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "platform/bmp.h"
#include "support/model_builder.h"
#include "support/picture_writer.h"

#ifdef VORNIX_HAVE_PIXBUF

namespace {

// Renders the model in the folder it lies in; the picture's bytes, or ""
// when the program failed.
std::string Render(const std::string& folder, const std::string& model) {
  const std::string command = "cd '" + folder + "' && " VORNIX_BINARY " render " + model + " -o " + model +
                              ".png --layout render --view front >/dev/null 2>&1";
  return std::system(command.c_str()) == 0 ? ReadAll(folder + "/" + model + ".png") : "";
}

// crate.x names crate.png and crate02.png, which the corpus does not ship:
// they are made from two of its bitmaps, the second in capitals as another
// system may have left it. A copy of the model naming the bitmaps must give
// the same picture, and one without any texture file another.
TEST(PictureRender, CrateWithPngTexturesRendersAsWithBitmaps) {
  const std::string corpus = std::string(VORNIX_CORPUS_DIR) + "/x/";
  if (!FileExists(corpus + "crate.x")) GTEST_SKIP() << "no model corpus at " << corpus;
  std::string folder = TempPath("crate_XXXXXX");
  ASSERT_TRUE(mkdtemp(folder.data()));
  ASSERT_EQ(0, mkdir((folder + "/bare").c_str(), 0700));
  const std::string model = ReadAll(corpus + "crate.x");
  std::string bitmapModel = model;
  for (size_t at = bitmapModel.find(".png"); at != std::string::npos; at = bitmapModel.find(".png", at))
    bitmapModel.replace(at, 4, ".bmp");
  ASSERT_NE(model, bitmapModel);
  std::ofstream(folder + "/crate.x") << model;
  std::ofstream(folder + "/bare/crate.x") << model;
  std::ofstream(folder + "/crate_bmp.x") << bitmapModel;
  const char* const sources[][3] = {{"blocks.bmp", "crate.bmp", "crate.png"},
                                    {"tiger.bmp", "crate02.bmp", "CRATE02.PNG"}};
  for (const auto& [source, bitmap, picture] : sources) {
    BmpImage image;
    ASSERT_EQ(BmpResult::Ok, ReadBmpFile((corpus + source).c_str(), &image));
    ASSERT_TRUE(WriteBmp24File((folder + "/" + bitmap).c_str(), image));
    ASSERT_TRUE(SavePicture(image, folder + "/" + picture, "png"));
  }

  const std::string withPictures = Render(folder, "crate.x");
  ASSERT_FALSE(withPictures.empty());
  EXPECT_EQ(Render(folder, "crate_bmp.x"), withPictures);
  const std::string plain = Render(folder + "/bare", "crate.x");
  EXPECT_TRUE(!plain.empty() && plain != withPictures);
  std::system(("rm -rf '" + folder + "'").c_str());
}

}  // namespace

#endif
