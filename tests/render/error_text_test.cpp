#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "render/qlt.h"

namespace {

struct Row {
  uint32_t code;
  const char* text;
};

const char* TextOf(uint32_t code) { return qlt_ErrorText(static_cast<int32_t>(code)); }

TEST(ErrorText, PinnedRowsGiveTheirExactText) {
  const Row rows[] = {
      {0x80004001u, "Action not supported."},
      {0x80004005u, "Generic failure."},
      {0x8007000Eu, "DirectDraw does not have enough memory to perform the operation."},
      {0x8876017Cu, "DirectDraw does not have enough memory to perform the operation."},
      {0x80070057u, "One or more of the parameters passed to the function are incorrect."},
      {0x88760078u, "DirectDraw does not support the requested mode."},
      {0x8876005Fu, "Unable to match primary surface creation request with existing primary surface."},
      {0x887600AAu, "There is no 3D present."},
      {0x887600B4u,
       "Operation could not be carried out because there is no alpha accleration hardware present or "
       "available."},
      {0x887600D7u, "Surface doesn't currently have a color key"},
      {0x887600E1u,
       "Operation requires the application to have exclusive mode but the application does not have "
       "exclusive mode."},
      {0x887600FAu, "Operation could not be carried out because there is no hardware present or available."},
      {0x8876014Au,
       "Operation could not be carried out because there is no texture mapping hardware present or "
       "available."},
      {0x88760180u, "Can only have ony color key active at one time for overlays."},
      {0x887601AEu,
       "Access to this surface is being refused because the surface is already locked by another thread."},
      {0x887601C2u,
       "Access to this surface is being refused because the surface memory is gone. The DirectDrawSurface "
       "object representing this surface should have Restore called on it."},
      {0x887601E0u, "Size requested by DirectDraw is too large, but the individual height and width are OK."},
      {0x8876021Cu,
       "Informs DirectDraw that the previous Blt which is transfering information to or from this Surface "
       "is incomplete."},
      {0x88760234u, "This process already has created a primary surface."},
      {0x88760248u,
       "Surface was not locked.  An attempt to unlock a surface that was not locked at all, or by this "
       "process, has been attempted."},
      {0x8876024Du, "The surface being used is not a palette-based surface."},
      {0x887602BCu, "D3DERR_BADMAJORVERSION"},
      {0x887602D7u, "D3DERR_TEXTURELOCKED"},
      {0x88760313u, "The file was not found."},
      {0x88760319u, "D3DRMERR_UNABLETOEXECUTE"},
  };
  for (const Row& row : rows) EXPECT_STREQ(row.text, TextOf(row.code)) << std::hex << row.code;
}

TEST(ErrorText, Direct3DAndRetainedModeCodesGiveTheirNames) {
  const Row rows[] = {
      {0x887602BDu, "D3DERR_BADMINORVERSION"},       {0x887602C6u, "D3DERR_EXECUTE_CREATE_FAILED"},
      {0x887602CDu, "D3DERR_EXECUTE_CLIPPED_FAILED"}, {0x887602D0u, "D3DERR_TEXTURE_NO_SUPPORT"},
      {0x887602D8u, "D3DERR_TEXTURE_NOT_LOCKED"},    {0x887602DEu, "D3DERR_SETVIEWPORTDATA_FAILED"},
      {0x887602E4u, "D3DERR_MATERIAL_CREATE_FAILED"}, {0x887602E6u, "D3DERR_MATERIAL_SETDATA_FAILED"},
      {0x887602EEu, "D3DERR_LIGHT_SET_FAILED"},      {0x8876030Du, "D3DRMERR_BADOBJECT"},
      {0x88760312u, "D3DRMERR_NOTDONEYET"},          {0x88760314u, "D3DRMERR_BADFILE"},
      {0x88760318u, "D3DRMERR_BADMINORVERSION"},
  };
  for (const Row& row : rows) EXPECT_STREQ(row.text, TextOf(row.code)) << std::hex << row.code;
}

TEST(ErrorText, EveryDirectDrawCodeHasItsOwnSentence) {
  // The first and last DirectDraw codes of the table and a few between.
  const uint32_t codes[] = {0x88760005u, 0x8876000Au, 0x88760037u, 0x887600D4u,
                            0x887601B3u, 0x88760231u, 0x8876024Cu};
  for (uint32_t code : codes) {
    const char* text = TextOf(code);
    EXPECT_STRNE("Unrecognized error value.", text) << std::hex << code;
    EXPECT_GT(strlen(text), 10u) << std::hex << code;
  }
  EXPECT_STRNE(TextOf(0x88760005u), TextOf(0x8876000Au));
}

TEST(ErrorText, OkIsEmptyAndUnknownCodesAreUnrecognized) {
  EXPECT_STREQ("", qlt_ErrorText(0));
  // Codes of the same families that the table does not list, right beside
  // listed ones, so that a shifted value would show.
  const uint32_t unknown[] = {0x887602D6u /* texture swap failed */, 0x887600DEu, 0x8876024Eu,
                              0x887602BEu, 0x8876030Cu,  0x8876031Au, 0x88760000u,
                              0x80004002u, 0xFFFFFFFFu, 1u};
  for (uint32_t code : unknown) EXPECT_STREQ("Unrecognized error value.", TextOf(code)) << std::hex << code;
}

}  // namespace
